#include "platform/LinuxWindowManager.h"

#include "platform/PlatformLog.h"

#include <QGuiApplication>
#include <QWindow>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <set>
#include <vector>

namespace pelio::platform {

namespace {

constexpr int kTitleChars = 255;

int IgnoreXErrors(Display*, XErrorEvent*) {
    return 0;
}

QString Searchable(const QString& title) {
    return title.left(kTitleChars).toUpper();
}

// Our own top-level windows that exist on the display (a window never shown has no handle yet).
QWindowList OwnWindows() {
    QWindowList own;
    for (QWindow* w : QGuiApplication::topLevelWindows())
        if (w->handle()) own << w;
    return own;
}

QWindow* OwnWindow(WindowHandle handle) {
    if (handle == 0) return nullptr;
    for (QWindow* w : OwnWindows())
        if (static_cast<WindowHandle>(w->winId()) == handle) return w;
    return nullptr;
}

void RaiseOwn(QWindow* w, bool restore) {
    if (restore && (w->windowStates() & Qt::WindowMinimized))
        w->setWindowStates(w->windowStates() & ~Qt::WindowMinimized);
    w->raise();
    w->requestActivate();
}

}  // namespace

// One Xlib connection of our own, used only on the UI thread.
struct LinuxWindowManager::X11 {
    Display* display = nullptr;
    Atom netClientListStacking = 0;
    Atom netActiveWindow = 0;
    Atom netWmName = 0;
    Atom utf8String = 0;
    Atom wmState = 0;

    std::vector<Window> PropertyWindows(Window w, Atom property) const {
        std::vector<Window> result;
        Atom type = 0;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(display, w, property, 0, 1 << 16, False, XA_WINDOW, &type, &format, &count,
                               &after, &data) == Success &&
            data) {
            if (type == XA_WINDOW && format == 32) {
                auto* ids = reinterpret_cast<unsigned long*>(data);
                result.assign(ids, ids + count);
            }
            XFree(data);
        }
        return result;
    }

    QString Title(Window w) const {
        Atom type = 0;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        QString title;
        if (XGetWindowProperty(display, w, netWmName, 0, 1024, False, utf8String, &type, &format, &count,
                               &after, &data) == Success &&
            data) {
            if (type == utf8String && format == 8)
                title = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(count));
            XFree(data);
        }
        if (!title.isEmpty()) return title;
        XTextProperty prop{};
        if (XGetWMName(display, w, &prop) && prop.value) {
            char** list = nullptr;
            int n = 0;
            if (Xutf8TextPropertyToTextList(display, &prop, &list, &n) >= Success && list) {
                if (n > 0 && list[0]) title = QString::fromUtf8(list[0]);
                XFreeStringList(list);
            }
            XFree(prop.value);
        }
        return title;
    }

    // Top-level windows from the top of the stacking order down: the window manager's list of the
    // windows it manages when it keeps one, then every other child of the root window (and, for
    // window-manager frames, their children), so that hidden windows count too.
    std::vector<Window> TopLevels() const {
        Window root = DefaultRootWindow(display);
        std::vector<Window> stacking = PropertyWindows(root, netClientListStacking);
        std::vector<Window> result(stacking.rbegin(), stacking.rend());
        std::set<Window> listed(result.begin(), result.end());
        auto add = [&](Window w) {
            if (listed.insert(w).second) result.push_back(w);
        };
        Window rootReturn = 0, parent = 0;
        Window* children = nullptr;
        unsigned int n = 0;
        if (!XQueryTree(display, root, &rootReturn, &parent, &children, &n)) return result;
        for (unsigned int i = n; i-- > 0;) {
            add(children[i]);
            Window r2 = 0, p2 = 0;
            Window* grand = nullptr;
            unsigned int m = 0;
            if (XQueryTree(display, children[i], &r2, &p2, &grand, &m) && grand) {
                for (unsigned int j = m; j-- > 0;) add(grand[j]);
                XFree(grand);
            }
        }
        if (children) XFree(children);
        return result;
    }

    void Activate(Window w, bool restore) {
        Window root = DefaultRootWindow(display);
        if (restore) XMapWindow(display, w);  // de-iconifies a minimised window
        XEvent ev{};
        ev.xclient.type = ClientMessage;
        ev.xclient.window = w;
        ev.xclient.message_type = netActiveWindow;
        ev.xclient.format = 32;
        ev.xclient.data.l[0] = 2;  // request from a pager-like tool: honoured even when not focused
        ev.xclient.data.l[1] = CurrentTime;
        XSendEvent(display, root, False, SubstructureRedirectMask | SubstructureNotifyMask, &ev);
        XRaiseWindow(display, w);
        XWindowAttributes attrs{};
        if (XGetWindowAttributes(display, w, &attrs) && attrs.map_state == IsViewable)
            XSetInputFocus(display, w, RevertToParent, CurrentTime);
        XFlush(display);
    }
};

LinuxWindowManager::LinuxWindowManager() {
    if (QGuiApplication::platformName() != QStringLiteral("xcb")) return;
    Display* d = XOpenDisplay(nullptr);
    if (!d) {
        qCWarning(lcPlatform) << "no X display: only the program's own windows can be found";
        return;
    }
    XSetErrorHandler(IgnoreXErrors);
    m_x = new X11;
    m_x->display = d;
    m_x->netClientListStacking = XInternAtom(d, "_NET_CLIENT_LIST_STACKING", False);
    m_x->netActiveWindow = XInternAtom(d, "_NET_ACTIVE_WINDOW", False);
    m_x->netWmName = XInternAtom(d, "_NET_WM_NAME", False);
    m_x->utf8String = XInternAtom(d, "UTF8_STRING", False);
    m_x->wmState = XInternAtom(d, "WM_STATE", False);
}

LinuxWindowManager::~LinuxWindowManager() {
    if (m_x) {
        XCloseDisplay(m_x->display);
        delete m_x;
    }
}

WindowHandle LinuxWindowManager::FindWindowByTitle(const QString& text) {
    const QString wanted = text.toUpper();
    if (m_x) {
        for (Window w : m_x->TopLevels()) {
            const QString title = Searchable(m_x->Title(w));
            if (!title.isEmpty() && title.contains(wanted)) return static_cast<WindowHandle>(w);
        }
        return 0;
    }
    for (QWindow* w : OwnWindows()) {
        const QString title = Searchable(w->title());
        if (!title.isEmpty() && title.contains(wanted)) return HandleOf(w);
    }
    return 0;
}

void LinuxWindowManager::RestoreAndActivate(WindowHandle window) {
    if (QWindow* own = OwnWindow(window)) return RaiseOwn(own, true);
    if (m_x && window) m_x->Activate(static_cast<Window>(window), true);
}

void LinuxWindowManager::ActivateWindow(WindowHandle window) {
    if (QWindow* own = OwnWindow(window)) return RaiseOwn(own, false);
    if (m_x && window) m_x->Activate(static_cast<Window>(window), false);
}

WindowHandle LinuxWindowManager::ForegroundWindow() {
    if (m_x) {
        std::vector<Window> active =
            m_x->PropertyWindows(DefaultRootWindow(m_x->display), m_x->netActiveWindow);
        if (!active.empty() && active.front() != 0) return static_cast<WindowHandle>(active.front());
        Window focus = 0;
        int revert = 0;
        XGetInputFocus(m_x->display, &focus, &revert);
        if (focus == None || focus == PointerRoot) return 0;
        return static_cast<WindowHandle>(focus);
    }
    QWindow* focus = QGuiApplication::focusWindow();
    return focus ? static_cast<WindowHandle>(focus->winId()) : 0;
}

WindowHandle LinuxWindowManager::HandleOf(const QWindow* window) {
    while (window && window->parent()) window = window->parent();
    return window && window->handle() ? static_cast<WindowHandle>(window->winId()) : 0;
}

}  // namespace pelio::platform
