#include "MarkerViewer.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xdamage.h>
#include <sys/select.h>
#include "BenchDisplay.h"

#include <rfb/rfbclient.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace pelio::bench {

namespace {

using Clock = std::chrono::steady_clock;

// What the callbacks of one LibVNCClient viewer count.
struct Counting {
    LatencyLog log;
    int markerX, markerY;
    long updates = 0;
    long long pixels = 0;
    bool torn = false;  // the marker was drawn on but read as none: read again when the update ends
};

int g_tag;  // the client data's tag

Counting& CountingOf(rfbClient* client) {
    return *static_cast<Counting*>(rfbClientGetClientData(client, &g_tag));
}

// The marker in the framebuffer (32 bits a pixel), as the mean of its three colour bytes.
std::optional<std::uint32_t> ReadFramebuffer(rfbClient* client, int markerX, int markerY) {
    if (markerX + kMarkerWidth > client->width || markerY + kMarkerHeight > client->height)
        return std::nullopt;
    const std::uint8_t* fb = client->frameBuffer;
    return ReadMarker([&](int x, int y) {
        const std::uint8_t* p =
            fb + (std::size_t(markerY + y) * std::size_t(client->width) + std::size_t(markerX + x)) * 4;
        return (p[0] + p[1] + p[2]) / 3;
    });
}

void Got(rfbClient* client, int x, int y, int w, int h) {
    Counting& c = CountingOf(client);
    c.pixels += (long long)w * h;
    if (x >= c.markerX + kMarkerWidth || x + w <= c.markerX || y >= c.markerY + kMarkerHeight ||
        y + h <= c.markerY)
        return;
    const auto read = ReadFramebuffer(client, c.markerX, c.markerY);
    c.torn = !read;
    c.log.Shown(read, Clock::now());
}

void Finished(rfbClient* client) {
    Counting& c = CountingOf(client);
    ++c.updates;
    if (!c.torn) return;
    c.torn = false;
    c.log.Shown(ReadFramebuffer(client, c.markerX, c.markerY), Clock::now());
}

}  // namespace

bool RunLibVncViewer(int fd, double seconds, double warmup, const MarkerTimes& times, int markerX,
                     int markerY, const std::function<void()>& onStart, const std::function<void()>& onEnd,
                     ViewerFigures& figures) {
    Counting counting{LatencyLog(&times), markerX, markerY};
    rfbClient* client = rfbGetClient(8, 3, 4);
    rfbClientSetClientData(client, &g_tag, &counting);
    client->sock = fd;
    client->listenSpecified = TRUE;
    client->FinishedFrameBufferUpdate = Finished;
    client->GotFrameBufferUpdate = Got;
    if (!rfbInitClient(client, nullptr, nullptr)) return false;  // it has cleaned up the client
    const auto start = Clock::now();
    bool started = false;
    long updateBase = 0;
    long long pixelBase = 0;
    while (Clock::now() - start < std::chrono::duration<double>(warmup + seconds)) {
        if (!started && Clock::now() - start >= std::chrono::duration<double>(warmup)) {
            started = true;
            updateBase = counting.updates;
            pixelBase = counting.pixels;
            counting.log.StartCounting();
            onStart();
        }
        const int n = client->buffered > 0 ? 1 : WaitForMessage(client, 50000);
        if (n < 0 || (n > 0 && !HandleRFBServerMessage(client))) break;
    }
    figures.updates = counting.updates - updateBase;
    figures.pixels = counting.pixels - pixelBase;
    figures.frames = counting.log.Frames();
    figures.latencyP50Ms = counting.log.Quantile(0.5);
    figures.latencyP95Ms = counting.log.Quantile(0.95);
    onEnd();
    free(client->frameBuffer);
    client->frameBuffer = nullptr;
    rfbClientCleanup(client);
    return true;
}

ShownWatcher::ShownWatcher(const std::string& display, int markerX, int markerY)
    : m_d(OpenDisplay(display)), m_markerX(markerX), m_markerY(markerY) {
    int error = 0;
    if (!m_d || !XDamageQueryExtension(m_d, &m_damageEvent, &error)) return;
    m_damage = XDamageCreate(m_d, DefaultRootWindow(m_d), XDamageReportNonEmpty);
    XSync(m_d, False);
}

ShownWatcher::~ShownWatcher() {
    if (m_damage) XDamageDestroy(m_d, m_damage);
    if (m_d) XCloseDisplay(m_d);
}

std::optional<std::uint32_t> ShownWatcher::Read() {
    XImage* image = XGetImage(m_d, DefaultRootWindow(m_d), m_windowX + m_markerX, m_windowY + m_markerY,
                              kMarkerWidth, kMarkerHeight, AllPlanes, ZPixmap);
    if (!image) return std::nullopt;
    const auto read = ReadMarker([&](int x, int y) {
        const unsigned long pixel = XGetPixel(image, x, y);
        return int(((pixel >> 16 & 0xff) + (pixel >> 8 & 0xff) + (pixel & 0xff)) / 3);
    });
    XDestroyImage(image);
    return read;
}

void ShownWatcher::FindViewerWindow() {
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(m_d, DefaultRootWindow(m_d), &root, &parent, &children, &count)) return;
    long largest = 0;
    for (unsigned i = 0; i < count; ++i) {
        XWindowAttributes a;
        if (XGetWindowAttributes(m_d, children[i], &a) && a.map_state == IsViewable &&
            long(a.width) * a.height > largest && a.x + m_markerX + kMarkerWidth <= WidthOfScreen(a.screen) &&
            a.y + m_markerY + kMarkerHeight <= HeightOfScreen(a.screen)) {
            largest = long(a.width) * a.height;
            m_windowX = a.x + a.border_width;
            m_windowY = a.y + a.border_width;
        }
    }
    if (children) XFree(children);
}

bool ShownWatcher::Drawn(double timeLeft) {
    const int fd = ConnectionNumber(m_d);
    if (!XPending(m_d)) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(fd, &set);
        const long us = std::max(0L, std::min(20000L, long(timeLeft * 1e6)));
        timeval timeout{0, us};
        select(fd + 1, &set, nullptr, nullptr, &timeout);
    }
    // Every report that has come, then one read for them all: a viewer draws an update in pieces.
    bool drawn = false;
    while (XPending(m_d)) {
        XEvent ev;
        XNextEvent(m_d, &ev);
        if (ev.type == m_damageEvent + XDamageNotify) drawn = true;
    }
    if (drawn) XDamageSubtract(m_d, m_damage, None, None);
    return drawn;
}

void ShownWatcher::Watch(double seconds, LatencyLog& log) {
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    for (auto now = Clock::now(); now < end; now = Clock::now())
        if (Drawn(std::chrono::duration<double>(end - now).count())) log.Shown(Read(), Clock::now());
}

bool ShownWatcher::WaitForMarker(double seconds, const MarkerTimes& times) {
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    for (auto now = Clock::now(); now < end; now = Clock::now())
        if (Drawn(std::chrono::duration<double>(end - now).count())) {
            FindViewerWindow();
            if (const auto read = Read(); read && times.Find(*read)) return true;
        }
    return false;
}

}  // namespace pelio::bench
