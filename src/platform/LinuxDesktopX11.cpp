#include "platform/LinuxDesktopX11.h"

#include "platform/PlatformLog.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <vector>

namespace pelio::platform {

namespace {

constexpr KeySym kHangul = 0xff31;  // XK_Hangul
constexpr long kNetWmStateAdd = 1;
constexpr long kSourceApplication = 1;  // EWMH source indication: a normal application

int IgnoreXErrors(Display*, XErrorEvent*) {
    return 0;
}

// A 32-bit property of the window as a list; empty when it is missing, of another type, or the
// window is gone.
std::vector<unsigned long> Longs(Display* d, Window w, Atom property, Atom type) {
    std::vector<unsigned long> values;
    Atom actualType = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(d, w, property, 0, 1024, False, type, &actualType, &format, &count, &after,
                           &data) == Success &&
        data) {
        // Xlib hands 32-bit items over as longs.
        if (actualType == type && format == 32) {
            const auto* items = reinterpret_cast<const unsigned long*>(data);
            values.assign(items, items + count);
        }
        XFree(data);
    }
    return values;
}

void SendToRoot(Display* d, Window window, Atom type, std::initializer_list<long> data) {
    XEvent ev{};
    ev.xclient.type = ClientMessage;
    ev.xclient.window = window;
    ev.xclient.message_type = type;
    ev.xclient.format = 32;
    int i = 0;
    for (long value : data) ev.xclient.data.l[i++] = value;
    XSendEvent(d, DefaultRootWindow(d), False, SubstructureRedirectMask | SubstructureNotifyMask, &ev);
    XFlush(d);
}

}  // namespace

struct DesktopX11::Atoms {
    Atom supported, supportingWmCheck, showingDesktop, wmState, demandsAttention, timeStamp;
};

std::unique_ptr<DesktopX11> DesktopX11::Open(const QString& displayName) {
    const QByteArray name = displayName.toLocal8Bit();
    Display* d = XOpenDisplay(name.isEmpty() ? nullptr : name.constData());
    if (!d) {
        qCWarning(lcPlatform) << "no X display" << displayName << "for the desktop commands";
        return nullptr;
    }
    XSetErrorHandler(IgnoreXErrors);
    return std::unique_ptr<DesktopX11>(new DesktopX11(d));
}

DesktopX11::DesktopX11(_XDisplay* display) : m_display(display), m_atoms(std::make_unique<Atoms>()) {
    auto atom = [&](const char* atomName) { return XInternAtom(m_display, atomName, False); };
    m_atoms->supported = atom("_NET_SUPPORTED");
    m_atoms->supportingWmCheck = atom("_NET_SUPPORTING_WM_CHECK");
    m_atoms->showingDesktop = atom("_NET_SHOWING_DESKTOP");
    m_atoms->wmState = atom("_NET_WM_STATE");
    m_atoms->demandsAttention = atom("_NET_WM_STATE_DEMANDS_ATTENTION");
    m_atoms->timeStamp = atom("_PELIO_TIME_STAMP");
}

DesktopX11::~DesktopX11() {
    XCloseDisplay(m_display);
}

QString DesktopX11::Name() const {
    return QString::fromLocal8Bit(XDisplayString(m_display));
}

void DesktopX11::DiscardEvents() {
    XEvent ev{};
    while (XPending(m_display)) XNextEvent(m_display, &ev);
}

unsigned long DesktopX11::ServerTime() {
    Display* d = m_display;
    DiscardEvents();
    if (!m_timeWindow) {
        m_timeWindow = XCreateSimpleWindow(d, DefaultRootWindow(d), -1, -1, 1, 1, 0, 0, 0);
        XSelectInput(d, m_timeWindow, PropertyChangeMask);
    }
    // Appending nothing to a property still changes it, and the server stamps the event with its time.
    XChangeProperty(d, m_timeWindow, m_atoms->timeStamp, XA_STRING, 8, PropModeAppend, nullptr, 0);
    XEvent ev{};
    XWindowEvent(d, m_timeWindow, PropertyChangeMask, &ev);
    return ev.xproperty.time;
}

bool DesktopX11::ToggleShowingDesktop() {
    Display* d = m_display;
    const Window root = DefaultRootWindow(d);
    // A window manager that runs keeps a window that names itself in _NET_SUPPORTING_WM_CHECK; the
    // root's properties alone may be left over from one that has gone.
    const std::vector<unsigned long> check = Longs(d, root, m_atoms->supportingWmCheck, XA_WINDOW);
    if (check.empty() || check[0] == 0 ||
        Longs(d, check[0], m_atoms->supportingWmCheck, XA_WINDOW) != check) {
        qCDebug(lcPlatform) << "no window manager to show the desktop";
        return false;
    }
    const std::vector<unsigned long> supported = Longs(d, root, m_atoms->supported, XA_ATOM);
    const std::vector<unsigned long> showing = Longs(d, root, m_atoms->showingDesktop, XA_CARDINAL);
    if (std::find(supported.begin(), supported.end(), m_atoms->showingDesktop) == supported.end() ||
        showing.empty()) {
        qCDebug(lcPlatform) << "the window manager cannot show the desktop";
        return false;
    }
    SendToRoot(d, root, m_atoms->showingDesktop, {showing[0] ? 0L : 1L});
    return true;
}

bool DesktopX11::PressHangulKey() {
    Display* d = m_display;
    DiscardEvents();
    int event = 0, error = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(d, &event, &error, &major, &minor)) {
        qCDebug(lcPlatform) << "no XTest extension: the Hangul key cannot be pressed";
        return false;
    }
    // The mapping is read afresh: another program may have changed it since the last press.
    int minCode = 0, maxCode = 0, perCode = 0;
    XDisplayKeycodes(d, &minCode, &maxCode);
    KeySym* map = XGetKeyboardMapping(d, static_cast<KeyCode>(minCode), maxCode - minCode + 1, &perCode);
    if (!map || perCode < 1) {
        if (map) XFree(map);
        return false;
    }
    int code = 0, spare = 0;
    for (int k = minCode; k <= maxCode && !code; ++k) {
        const KeySym* syms = map + static_cast<std::ptrdiff_t>(k - minCode) * perCode;
        if (syms[0] == kHangul) code = k;  // unshifted, so that the key alone gives it
        if (std::all_of(syms, syms + perCode, [](KeySym s) { return s == NoSymbol; })) spare = k;
    }
    XFree(map);
    if (!code) {
        if (!spare) {
            qCDebug(lcPlatform) << "no spare keycode for the Hangul key";
            return false;
        }
        // The key stays mapped: programs look the keysym up when they handle the press, which may be
        // after a change back, and the press would then be no key at all.
        std::vector<KeySym> syms(static_cast<std::size_t>(perCode), NoSymbol);
        syms[0] = kHangul;
        XChangeKeyboardMapping(d, spare, perCode, syms.data(), 1);
        code = spare;
    }
    XTestFakeKeyEvent(d, static_cast<unsigned>(code), True, CurrentTime);
    XTestFakeKeyEvent(d, static_cast<unsigned>(code), False, CurrentTime);
    XFlush(d);
    return true;
}

void DesktopX11::DemandAttention(unsigned long window) {
    SendToRoot(m_display, window, m_atoms->wmState,
               {kNetWmStateAdd, static_cast<long>(m_atoms->demandsAttention), 0L, kSourceApplication});
}

void DesktopX11::SetUrgency(unsigned long window, bool urgent) {
    XWMHints* hints = XGetWMHints(m_display, window);
    if (!hints && !urgent) return;
    XWMHints none{};
    XWMHints* h = hints ? hints : &none;
    if (urgent)
        h->flags |= XUrgencyHint;
    else
        h->flags &= ~XUrgencyHint;
    XSetWMHints(m_display, window, h);
    if (hints) XFree(hints);
    XFlush(m_display);
}

}  // namespace pelio::platform
