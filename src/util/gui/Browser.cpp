#include "util/gui/Browser.h"

#include "platform/Shell.h"
#include "util/core/Ansi.h"
#include "util/core/Diagnostics.h"
#include "util/core/TextUtil.h"
#include "util/gui/HtmlView.h"

#include <QDir>
#include <QTemporaryFile>
#include <QUrl>
#include <QWebEngineHistory>

#include <memory>

namespace pelio::util {

namespace {

QString Attribute(const QString& text) {
    return text.toHtmlEscaped();
}

}  // namespace

QString AddressWithQuery(const QString& url, const QString& data) {
    if (data.isEmpty()) return url;
    return url + (url.contains(u'?') ? u'&' : u'?') + data;
}

QString AutoPostPage(const QString& url, const QString& data) {
    QString inputs;
    for (const QString& pair : data.split(u'&', Qt::SkipEmptyParts)) {
        const qsizetype eq = pair.indexOf(u'=');
        QString name = eq < 0 ? pair : pair.left(eq);
        QString value = eq < 0 ? QString() : pair.mid(eq + 1);
        // Form encoding: "+" is a blank, "%XX" a byte of code page 949.
        name = util::UrlDecode(name.replace(u'+', u' '));
        value = util::UrlDecode(value.replace(u'+', u' '));
        inputs += QStringLiteral("<input type=\"hidden\" name=\"%1\" value=\"%2\">\n")
                      .arg(Attribute(name), Attribute(value));
    }
    return QStringLiteral(
               "<!DOCTYPE html>\n<html><head><meta charset=\"euc-kr\"><title>%1</title></head>\n"
               "<body onload=\"document.forms[0].submit()\">\n"
               "<form method=\"post\" action=\"%1\" enctype=\"application/x-www-form-urlencoded\">\n%2"
               "<noscript><input type=\"submit\" value=\"계속\"></noscript>\n</form>\n</body></html>\n")
        .arg(Attribute(url), inputs);
}

void OpenWebPage(const QString& url, const QString& data, bool post, platform::Shell& shell,
                 util::HtmlView* view) {
    const QByteArray body = post ? util::ToAnsi(data) : QByteArray();
    if (view) {
        // The page replaces what the view showed without becoming a step back for it.
        auto connection = std::make_shared<QMetaObject::Connection>();
        *connection = QObject::connect(view, &util::HtmlView::documentLoaded, view, [view, connection](bool) {
            view->history()->clear();
            QObject::disconnect(*connection);
        });
        if (data.isEmpty())
            view->LoadUrl(QUrl(url));
        else
            view->PostTo(QUrl(url), body);
        return;
    }
    if (data.isEmpty()) {
        shell.Open(url);
        return;
    }
    // A new browser window that posts the form: a page of our own that submits itself. The file stays
    // for the browser to read; it lives in the temporary folder.
    QTemporaryFile page(QDir::tempPath() + QStringLiteral("/pelio-post-XXXXXX.html"));
    page.setAutoRemove(false);
    bool opened = false;
    if (page.open()) {
        const QByteArray html = util::ToAnsi(AutoPostPage(url, data));
        opened = page.write(html) == html.size() && page.flush();
        page.close();
        if (opened) opened = shell.Open(QUrl::fromLocalFile(page.fileName()).toString());
        if (!opened) page.remove();
    }
    if (!opened) {
        qCInfo(lcUtil).noquote() << "cannot open a posting page for" << url << "; opening it with a query";
        shell.Open(AddressWithQuery(url, data));
    }
}

}  // namespace pelio::util
