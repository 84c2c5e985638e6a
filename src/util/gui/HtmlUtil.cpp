#include "util/gui/HtmlUtil.h"

#include "util/gui/WindowLifetime.h"

#include <QCoreApplication>

#include "util/core/Colors.h"
#include "util/gui/Dialogs.h"
#include "util/gui/HtmlView.h"

namespace pelio::util {

namespace {

const QString kOpenLinksScript = QStringLiteral(
    "(function(){var a=document.getElementsByTagName('A');"
    "for(var i=0;i<a.length;i++){var h;try{h=a[i].href;}catch(e){continue;}"
    "if(typeof h!=='string')continue;"
    "if(h.substring(0,4).toLowerCase()==='http'&&(a[i].getAttribute('target')||'').toLowerCase()!=='_blank')"
    "a[i].setAttribute('target','_blank');}})();");

}  // namespace

QString ToJsString(const QString& text) {
    QString out;
    out.reserve(text.size() + 2);
    out += u'"';
    for (QChar c : text) {
        switch (c.unicode()) {
            case u'"':
                out += QLatin1String("\\\"");
                break;
            case u'\\':
                out += QLatin1String("\\\\");
                break;
            case u'\n':
                out += QLatin1String("\\n");
                break;
            case u'\r':
                out += QLatin1String("\\r");
                break;
            case u'<':
                out += QLatin1String("\\x3C");
                break;
            default:
                if (c.unicode() < 0x20 || c.unicode() == 0x2028 || c.unicode() == 0x2029)
                    out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
                else
                    out += c;
        }
    }
    out += u'"';
    return out;
}

void AppendHtml(HtmlView* view, const QString& html) {
    if (!view) return;
    QString script = QStringLiteral("(function(){var b=document.body;if(!b)return;");
    // Each addition in a block of its own: the browser then lays out only the new block, where text
    // added straight into a long body made it lay out the whole conversation again at every line.
    if (!html.isEmpty())
        script += QStringLiteral("var d=document.createElement('div');d.innerHTML=%1;b.appendChild(d);")
                      .arg(ToJsString(html));
    // Twice, as the first scroll may change the layout (scroll bars appearing).
    script += QStringLiteral(
        "var "
        "s=document.scrollingElement||b;s.scrollTop=s.scrollTop+20000;s.scrollTop=s.scrollTop+20000;})();");
    if (!html.isEmpty()) script += kOpenLinksScript;
    view->RunDomScript(script);
    // The window stays alive while lines arrive: pending events run once, as after every append. The
    // view's window is not deleted under the caller meanwhile.
    const NestedLoopScope pumping(view->window());
    QCoreApplication::processEvents();
}

void OpenLinksInNewWindow(HtmlView* view) {
    if (view) view->RunDomScript(kOpenLinksScript);
}

QString PickPageBackground(QWidget* parent, HtmlView* view, bool blend) {
    ColorRequest request;
    request.parent = parent;
    request.fullPanel = true;
    const std::optional<OleColor> picked = Dialogs::PickColor(request);
    if (!picked || *picked == 0) return QString();
    const QString color = ColorToHtml(blend ? BlendColors(*picked, kWhite, 0) : *picked);
    if (view)
        view->RunDomScript(QStringLiteral("if(document.body)document.body.style.backgroundColor=%1;")
                               .arg(ToJsString(color)));
    return color;
}

}  // namespace pelio::util
