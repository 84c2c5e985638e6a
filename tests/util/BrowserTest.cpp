#include "ReferenceService.h"
#include "platform/FakeServices.h"
#include "support/ScriptedMessageBoxes.h"
#include "util/core/Ansi.h"
#include "util/gui/Browser.h"
#include "util/gui/HtmlView.h"
#include "web/ServiceEndpoints.h"

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QFile>
#include <QJsonObject>
#include <QSignalSpy>
#include <QUrl>
#include <QWebEngineHistory>

using namespace pelio::util;
using namespace pelio::web;
using pelio::platform::FakeShell;
using pelio::tools::ReferenceService;

namespace {

bool WaitUntil(const std::function<bool()>& condition, int ms) {
    QDeadlineTimer deadline(ms);
    while (!condition() && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return condition();
}

}  // namespace

TEST(OpenWebPage, PostsTheNoticeFormIntoTheViewAsTheServerSeesIt) {
    ReferenceService service(QJsonObject{});
    const int port = service.Start();
    ASSERT_GT(port, 0);
    const ServiceRoots roots{QStringLiteral("http://127.0.0.1:%1/").arg(port), QString()};
    const ServicePageRequest notice = NoticePageRequest(roots, QStringLiteral("1234"));

    pelio::util::HtmlView view;
    QSignalSpy loaded(&view, &pelio::util::HtmlView::documentLoaded);
    FakeShell shell;
    view.LoadHtml(QStringLiteral("<p>before</p>"));  // a page that the notice must not stack on
    ASSERT_TRUE(WaitUntil([&] { return !loaded.isEmpty(); }, 30000));
    loaded.clear();
    OpenWebPage(notice.PageAddress, notice.FormBody, true, shell, &view);
    ASSERT_TRUE(WaitUntil([&] { return !loaded.isEmpty(); }, 30000));
    EXPECT_TRUE(loaded.first().first().toBool());
    EXPECT_TRUE(shell.opened.isEmpty());
    EXPECT_FALSE(view.history()->canGoBack());

    bool seen = false;
    for (const auto& r : service.Requests()) {
        if (r.target != QStringLiteral("/pelio/pg/redirect.php?q=remotenotice")) continue;
        seen = true;
        EXPECT_EQ(r.method, QStringLiteral("POST"));
        EXPECT_EQ(r.body, QByteArray("id=1234"));
        EXPECT_TRUE(r.contentType.startsWith(QStringLiteral("application/x-www-form-urlencoded")));
    }
    EXPECT_TRUE(seen);
}

TEST(OpenWebPage, NewWindowsGoThroughTheShell) {
    FakeShell shell;
    OpenWebPage(QStringLiteral("http://s/"), QString(), false, shell);
    ASSERT_EQ(shell.opened.size(), 1);
    EXPECT_EQ(shell.opened[0], QStringLiteral("http://s/"));

    // With data: a page of our own that posts the form when the browser opens it.
    shell.opened.clear();
    OpenWebPage(QStringLiteral("http://s/pelio/pg/redirect.php?q=remotenotice"),
                QStringLiteral("id=1234&n=%C8%AB+1"), true, shell);
    ASSERT_EQ(shell.opened.size(), 1);
    const QUrl page(shell.opened[0]);
    ASSERT_TRUE(page.isLocalFile());
    QFile file(page.toLocalFile());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString html = pelio::util::FromAnsi(file.readAll());
    file.remove();
    EXPECT_TRUE(html.contains(QStringLiteral("action=\"http://s/pelio/pg/redirect.php?q=remotenotice\"")));
    EXPECT_TRUE(html.contains(QStringLiteral("name=\"id\" value=\"1234\"")));
    EXPECT_TRUE(html.contains(QStringLiteral("name=\"n\" value=\"홍 1\"")));
    EXPECT_TRUE(html.contains(QStringLiteral("method=\"post\"")));

    // When the browser cannot be started, the shell gets the address with the data as a query.
    shell.opened.clear();
    shell.result = false;
    OpenWebPage(QStringLiteral("http://s/p?q=1"), QStringLiteral("id=1234"), true, shell);
    ASSERT_EQ(shell.opened.size(), 2);
    EXPECT_EQ(shell.opened[1], QStringLiteral("http://s/p?q=1&id=1234"));
    EXPECT_FALSE(QFile::exists(QUrl(shell.opened[0]).toLocalFile()));  // the unused page is gone
}

TEST(OpenWebPage, QueryAndPageBuildersEscapeWhatTheyCarry) {
    EXPECT_EQ(AddressWithQuery(QStringLiteral("http://s/p"), QStringLiteral("id=1")),
              QStringLiteral("http://s/p?id=1"));
    EXPECT_EQ(AddressWithQuery(QStringLiteral("http://s/p?a=1"), QStringLiteral("id=1")),
              QStringLiteral("http://s/p?a=1&id=1"));
    EXPECT_EQ(AddressWithQuery(QStringLiteral("http://s/p"), QString()), QStringLiteral("http://s/p"));
    const QString page =
        AutoPostPage(QStringLiteral("http://s/\"><script>x</script>"), QStringLiteral("a=%22%3E%3Cb%3E"));
    EXPECT_FALSE(page.contains(QStringLiteral("<script>x")));
    EXPECT_FALSE(page.contains(QStringLiteral("\"><b>")));
}
