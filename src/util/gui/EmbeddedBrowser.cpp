#include "util/gui/EmbeddedBrowser.h"

#include "platform/Shell.h"
#include "util/gui/HtmlView.h"

#include <QChildEvent>
#include <QKeyEvent>
#include <QMouseEvent>

namespace pelio::util {

namespace {

// Swallows keys and right-button releases in the view and in the widgets it gets as it loads.
class InputFilter : public QObject {
  public:
    using QObject::QObject;

    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
            case QEvent::ChildAdded:
                if (auto* child = static_cast<QChildEvent*>(event)->child(); child && child->isWidgetType())
                    child->installEventFilter(this);
                return false;
            case QEvent::KeyPress:
            case QEvent::KeyRelease:
            case QEvent::ShortcutOverride:
                return true;
            case QEvent::MouseButtonRelease:
                return static_cast<QMouseEvent*>(event)->button() == Qt::RightButton;
            default:
                return QObject::eventFilter(watched, event);
        }
    }
};

}  // namespace

void MakeEmbeddedPage(HtmlView* view, platform::Shell& shell, bool isDevelopment) {
    view->setContextMenuPolicy(Qt::NoContextMenu);
    view->SetNavigationHook([view, &shell](const HtmlView::Navigation& nav) {
        if (!nav.mainFrame) return true;
        // The server's redirect of the view's own load; a page's refresh once loaded is refused.
        if (nav.kind == HtmlView::NavigationKind::Redirect) return view->IsLoading();
        const QString scheme = nav.url.scheme().toLower();
        if ((nav.kind == HtmlView::NavigationKind::Link || nav.kind == HtmlView::NavigationKind::NewWindow) &&
            (scheme == QLatin1String("http") || scheme == QLatin1String("https")))
            shell.Open(nav.url.toString());
        return false;
    });
    if (isDevelopment) return;
    auto* filter = new InputFilter(view);
    view->installEventFilter(filter);
    for (QObject* child : view->children())
        if (child->isWidgetType()) child->installEventFilter(filter);
}

}  // namespace pelio::util
