#include "server/CaptureLoop.h"

#include "server/ServerLog.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include <rfb/rfb.h>
extern "C" {  // the header has no C++ guard of its own
#include <rfb/rfbregion.h>
}

namespace pelio::components {

namespace {

using Clock = std::chrono::steady_clock;

char* NewFramebuffer(QSize size) {
    return static_cast<char*>(calloc(std::size_t(size.width()) * std::size_t(size.height()), 4));
}

void SetPixelFormat(rfbScreenInfoPtr s) {
    s->serverFormat.redShift = 16;
    s->serverFormat.greenShift = 8;
    s->serverFormat.blueShift = 0;
}

void FreeCursor(rfbCursorPtr c) {
    c->cleanup = TRUE;
    rfbFreeCursor(c);
}

}  // namespace

CaptureLoop::CaptureLoop(std::unique_ptr<X11Capture> grabber, RecordingSink& sink, Settings settings)
    : m_grabber(std::move(grabber)), m_sink(sink), m_settings(settings) {
    m_size = m_grabber->Size();
    m_framebuffer = NewFramebuffer(m_size);
    m_served = m_framebuffer;
    m_area = QRect(QPoint(0, 0), m_size);
    m_monitors = m_grabber->Monitors();
    m_wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

CaptureLoop::~CaptureLoop() {
    Stop();
    for (rfbCursorPtr c : m_cursors) FreeCursor(c);
    if (m_served != m_framebuffer) free(m_served);
    free(m_framebuffer);
    if (m_wakeFd >= 0) close(m_wakeFd);
}

QSize CaptureLoop::Size() const {
    return m_size;
}

void CaptureLoop::Start(_rfbScreenInfo* screen) {
    m_screen = screen;
    SetPixelFormat(screen);
    // The screen as it is now, before Start returns: a recording started right away has it.
    m_grabber->Sweep(reinterpret_cast<std::uint32_t*>(m_framebuffer), m_size.width() * 4);
    m_sink.SetScreen(reinterpret_cast<std::uint32_t*>(m_framebuffer), m_size);
    m_stop = false;
    m_thread = std::thread([this] { Run(); });
}

void CaptureLoop::Stop() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
    m_sink.SetScreen(nullptr, QSize());
}

void CaptureLoop::ReleaseCursors() {
    for (rfbCursorPtr c : m_cursors) {
        if (m_screen && c == m_screen->cursor)
            c->cleanup = TRUE;  // the library's cleanup frees the one it shows
        else
            FreeCursor(c);
    }
    m_cursors.clear();
}

void CaptureLoop::Wake() {
    const std::uint64_t one = 1;
    if (m_wakeFd >= 0) (void)!write(m_wakeFd, &one, sizeof one);
}

void CaptureLoop::Show(QRect area) {
    {
        std::lock_guard lock(m_showMutex);
        m_wanted = area;
    }
    m_showPending = true;
    Wake();
}

QPoint CaptureLoop::Origin() const {
    const std::int64_t origin = m_origin.load();
    return QPoint(int(origin >> 32), int(std::int32_t(std::uint32_t(origin))));
}

void CaptureLoop::SetCursor(const QImage& shape, QPoint hot) {
    const int w = shape.width(), h = shape.height();
    auto* c = static_cast<rfbCursorPtr>(calloc(1, sizeof(rfbCursor)));
    const int rowBytes = (w + 7) / 8;
    c->width = std::uint16_t(w);
    c->height = std::uint16_t(h);
    c->xhot = std::uint16_t(hot.x());
    c->yhot = std::uint16_t(hot.y());
    c->source = static_cast<unsigned char*>(calloc(std::size_t(rowBytes) * std::size_t(h), 1));
    c->mask = static_cast<unsigned char*>(calloc(std::size_t(rowBytes) * std::size_t(h), 1));
    c->richSource = static_cast<unsigned char*>(calloc(std::size_t(w) * std::size_t(h), 4));
    c->alphaSource = static_cast<unsigned char*>(calloc(std::size_t(w) * std::size_t(h), 1));
    c->foreRed = c->foreGreen = c->foreBlue = 0;
    c->backRed = c->backGreen = c->backBlue = 0xffff;
    for (int y = 0; y < h; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(shape.constScanLine(y));
        for (int x = 0; x < w; ++x) {
            const QRgb p = line[x];
            const std::size_t i = std::size_t(y) * std::size_t(w) + std::size_t(x);
            reinterpret_cast<std::uint32_t*>(c->richSource)[i] = p & 0xffffff;
            c->alphaSource[i] = std::uint8_t(qAlpha(p));
            const unsigned char bit = std::uint8_t(0x80 >> (x % 8));
            if (qAlpha(p) > 127) c->mask[y * rowBytes + x / 8] |= bit;
            if (qGray(p) < 128) c->source[y * rowBytes + x / 8] |= bit;
        }
    }
    // The shape's buffers are freed with it; the structure itself is ours to free (cleanup false), so
    // that the library does not free the previous shape when it takes this one.
    c->cleanupSource = c->cleanupMask = c->cleanupRichSource = TRUE;
    c->cleanup = FALSE;
    rfbSetCursor(m_screen, c);
    // The library marks the change but wakes no client: one waiting for an update of a screen that
    // holds still would not get the new shape.
    rfbClientIteratorPtr it = rfbGetClientIterator(m_screen);
    while (rfbClientPtr cl = rfbClientIteratorNext(it)) {
        if (!cl->enableCursorShapeUpdates) continue;
        pthread_mutex_lock(&cl->updateMutex);
        pthread_cond_signal(&cl->updateCond);
        pthread_mutex_unlock(&cl->updateMutex);
    }
    rfbReleaseClientIterator(it);
    m_cursors.push_back(c);
    // Encoders copy the cursor under the cursor lock; a few old shapes are kept for safety.
    while (m_cursors.size() > 8) {
        FreeCursor(m_cursors.front());
        m_cursors.pop_front();
    }
    m_sink.SetCursorShape(shape, hot);
}

CaptureLoop::EncodersHeld::EncodersHeld(_rfbScreenInfo* screen) : m_screen(screen) {
    // An update being written to a slow link holds its client's lock for as long as the write takes:
    // the capture does not wait that long, and that client is sent the whole screen afresh instead.
    timespec until{};
    clock_gettime(CLOCK_REALTIME, &until);
    until.tv_nsec += 50'000'000;
    if (until.tv_nsec >= 1'000'000'000) until.tv_sec += 1, until.tv_nsec -= 1'000'000'000;
    rfbClientIteratorPtr it = rfbGetClientIterator(screen);
    while (rfbClientPtr cl = rfbClientIteratorNext(it)) {
        rfbIncrClientRef(cl);
        const bool held = pthread_mutex_timedlock(&cl->sendMutex, &until) == 0;
        (held ? m_held : m_busy).push_back(cl);
    }
    rfbReleaseClientIterator(it);
}

CaptureLoop::EncodersHeld::~EncodersHeld() {
    for (rfbClientPtr cl : m_held) {
        pthread_mutex_unlock(&cl->sendMutex);
        rfbDecrClientRef(cl);
    }
    for (rfbClientPtr cl : m_busy) {
        sraRegion* all = sraRgnCreateRect(0, 0, m_screen->width, m_screen->height);
        pthread_mutex_lock(&cl->updateMutex);
        sraRgnOr(cl->modifiedRegion, all);
        pthread_cond_signal(&cl->updateCond);
        pthread_mutex_unlock(&cl->updateMutex);
        sraRgnDestroy(all);
        rfbDecrClientRef(cl);
    }
}

bool CaptureLoop::UpdateWanted() {
    bool wanted = false;
    rfbClientIteratorPtr it = rfbGetClientIterator(m_screen);
    while (rfbClientPtr cl = rfbClientIteratorNext(it)) {
        if (wanted || (m_settings.holding && m_settings.holding(cl))) continue;
        pthread_mutex_lock(&cl->updateMutex);
        wanted = !sraRgnEmpty(cl->requestedRegion);
        pthread_mutex_unlock(&cl->updateMutex);
    }
    rfbReleaseClientIterator(it);
    return wanted;
}

void CaptureLoop::Resize() {
    m_size = m_grabber->Size();
    char* old = m_framebuffer;
    if (m_served == old) m_served = nullptr;  // freed below, not by Serve
    m_framebuffer = NewFramebuffer(m_size);
    auto* fb = reinterpret_cast<std::uint32_t*>(m_framebuffer);
    m_grabber->Sweep(fb, m_size.width() * 4);
    // The recording takes what it gathered from the old buffer and moves to the new one.
    m_sink.SetScreen(fb, m_size);
    m_monitors = m_grabber->Monitors();
    Serve(m_area, true);
    // rfbNewFramebuffer swapped the buffers under every client's send lock: nothing reads the old one.
    free(old);
    qCInfo(lcServer, "screen size %dx%d", m_size.width(), m_size.height());
}

bool CaptureLoop::Serve(QRect area, bool force) {
    const QRect whole(QPoint(0, 0), m_size);
    if (area.isEmpty() || !whole.contains(area) ||
        std::find(m_monitors.begin(), m_monitors.end(), area) == m_monitors.end())
        area = whole;
    if (area == m_area && !force) return false;
    char* previous = m_served != m_framebuffer ? m_served : nullptr;  // an area's own buffer
    if (area == whole) {
        m_served = m_framebuffer;
    } else {
        m_served = NewFramebuffer(area.size());
        const std::size_t row = std::size_t(area.width()) * 4;
        for (int y = 0; y < area.height(); ++y)
            std::memcpy(
                m_served + std::size_t(y) * row,
                m_framebuffer +
                    (std::size_t(area.y() + y) * std::size_t(m_size.width()) + std::size_t(area.x())) * 4,
                row);
    }
    m_area = area;
    m_origin = (std::int64_t(area.x()) << 32) | std::int64_t(std::uint32_t(area.y()));
    rfbNewFramebuffer(m_screen, m_served, area.width(), area.height(), 8, 3, 4);
    SetPixelFormat(m_screen);
    rfbClientIteratorPtr it = rfbGetClientIterator(m_screen);
    while (rfbClientPtr cl = rfbClientIteratorNext(it)) {
        pthread_mutex_lock(&cl->sendMutex);
        m_screen->setTranslateFunction(cl);
        pthread_mutex_unlock(&cl->sendMutex);
    }
    rfbReleaseClientIterator(it);
    // Swapped under every client's send lock, as in Resize: nothing reads the previous one.
    free(previous);
    if (m_settings.cursor) MovePointer(m_pointer);
    qCInfo(lcServer, "serving %dx%d at %d,%d", area.width(), area.height(), area.x(), area.y());
    return true;
}

QRegion CaptureLoop::Publish(const QRegion& changed) {
    if (m_served == m_framebuffer) return changed;
    const QRegion inside = changed & m_area;
    const std::size_t stride = std::size_t(m_size.width()) * 4,
                      servedStride = std::size_t(m_area.width()) * 4;
    for (const QRect& r : inside) {
        const QPoint at = r.topLeft() - m_area.topLeft();
        for (int y = 0; y < r.height(); ++y)
            std::memcpy(m_served + std::size_t(at.y() + y) * servedStride + std::size_t(at.x()) * 4,
                        m_framebuffer + std::size_t(r.y() + y) * stride + std::size_t(r.x()) * 4,
                        std::size_t(r.width()) * 4);
    }
    return inside.translated(-m_area.topLeft());
}

void CaptureLoop::MovePointer(QPoint pos) {
    m_pointer = pos;
    m_sink.SetCursorPosition(pos);
    // In the served area's coordinates, kept inside it.
    const QPoint served(std::clamp(pos.x() - m_area.x(), 0, m_area.width() - 1),
                        std::clamp(pos.y() - m_area.y(), 0, m_area.height() - 1));
    pthread_mutex_lock(&m_screen->cursorMutex);
    m_screen->cursorX = served.x();
    m_screen->cursorY = served.y();
    pthread_mutex_unlock(&m_screen->cursorMutex);
    rfbClientIteratorPtr it = rfbGetClientIterator(m_screen);
    while (rfbClientPtr cl = rfbClientIteratorNext(it)) {
        if (!cl->enableCursorPosUpdates) continue;
        pthread_mutex_lock(&cl->updateMutex);
        cl->cursorWasMoved = TRUE;
        pthread_cond_signal(&cl->updateCond);
        pthread_mutex_unlock(&cl->updateMutex);
    }
    rfbReleaseClientIterator(it);
}

void CaptureLoop::Run() {
    const bool cursorOn = m_settings.cursor;
    int stride = m_size.width() * 4;
    const auto frameInterval = std::chrono::microseconds(1000000 / std::max(1, m_settings.maxFps));
    const auto sweepInterval =
        m_settings.damage ? std::chrono::milliseconds(m_settings.sweepMs) : frameInterval;
    constexpr auto pointerInterval = std::chrono::milliseconds(100);
    // A drawing comes in several requests (a window's background, then its contents): damage is
    // grabbed once it has been quiet this long, or this long after it began, so that an update does
    // not show half of it and leave the rest to the next one, a round trip later on a slow link.
    constexpr auto settle = std::chrono::milliseconds(2);
    constexpr auto settleAtMost = std::chrono::milliseconds(8);
    auto firstDamage = Clock::time_point::max(), lastDamage = Clock::time_point::min();
    auto settledAt = [&] {  // without damage since the last grab, firstDamage + settleAtMost would overflow
        return firstDamage == Clock::time_point::max()
                   ? lastDamage + settle
                   : std::min(lastDamage + settle, firstDamage + settleAtMost);
    };
    auto nextFrame = Clock::now(), nextSweep = Clock::now() + sweepInterval, nextPointer = Clock::now();
    auto nextRecord = Clock::time_point::max();
    constexpr auto tickInterval = std::chrono::milliseconds(100);
    auto nextTick = Clock::now() + tickInterval;
    X11Capture::Events events;
    bool requested = false;  // a viewer asked for an update that no grab has served yet
    bool asked = false;      // a viewer asked since the last time the loop had no damage to grab
    // Changes taken while no viewer waits for an update (the sweep's, the recording's) are handed to
    // the library only when one asks: the library sends what it has been handed at once, and an
    // update would carry that area as it was when taken, before the grab that the request wakes.
    QRegion unsent;
    QImage shape;
    QPoint hot;
    m_pointer = m_grabber->Pointer();
    if (cursorOn) {
        if (m_grabber->CursorImage(shape, hot)) SetCursor(shape, hot);
        m_sink.SetCursorPosition(m_pointer);
    }

    while (!m_stop) {
        auto now = Clock::now();
        // Without the cursor followed, the pointer timer never moves on: it must not wake the loop.
        auto wake = cursorOn ? std::min(nextSweep, nextPointer) : nextSweep;
        const bool damaged = !events.damage.isEmpty();
        if (damaged) {
            // Damage waits for a viewer's request (or the recording's next frame) and the frame
            // interval. More damage reports change nothing meanwhile, so the loop does not wake for
            // them: only a request (Wake) or a timer does.
            requested = requested || UpdateWanted();
            const auto due = requested ? now : m_sink.NextFrameTime();
            wake = std::min(wake, std::max({due, nextFrame, settledAt()}));
        }
        if (nextRecord != Clock::time_point::max()) wake = std::min(wake, std::max(now, nextRecord));
        // To the microsecond: a wait rounded to milliseconds would put each frame up to one late.
        const auto wait = std::clamp<std::int64_t>(
            std::chrono::duration_cast<std::chrono::microseconds>(wake - now).count(), 0, 100000);
        const timespec timeout{time_t(wait / 1000000), long(wait % 1000000) * 1000};
        pollfd p[2] = {{m_wakeFd, POLLIN, 0}, {m_grabber->Fd(), POLLIN, 0}};
        if (ppoll(p, damaged ? 1 : 2, &timeout, nullptr) > 0 && (p[0].revents & POLLIN)) {
            // The library calls the request hook before it notes the requested area, so the wake
            // itself counts as a request.
            std::uint64_t count = 0;
            if (read(m_wakeFd, &count, sizeof count) == sizeof count && count > 0) requested = asked = true;
        }
        // Frames are paced from the wake-up: reading the reports gathered meanwhile does not delay them.
        const auto woke = Clock::now();
        if (m_grabber->ProcessEvents(events)) {
            lastDamage = woke;
            firstDamage = std::min(firstDamage, woke);
        }
        now = Clock::now();
        const bool settledNow = now >= settledAt();

        QRegion changed;  // on the screen, for the recording
        QRegion served;   // in the served area, for the library
        if (events.monitorsChanged) {
            events.monitorsChanged = false;
            const std::vector<QRect> monitors = m_grabber->Monitors();
            if (monitors != m_monitors) {
                m_monitors = monitors;
                if (m_settings.monitors) m_settings.monitors(m_monitors);
                // The monitor served goes on only while it is still one.
                if (!events.resized && Serve(m_area, false)) unsent = QRegion();
            }
        }
        if (m_showPending.exchange(false)) {
            QRect wanted;
            {
                std::lock_guard lock(m_showMutex);
                wanted = m_wanted;
            }
            // The library has marked the whole new area as changed.
            if (Serve(wanted, false)) unsent = QRegion();
        }
        if (events.resized) {
            events.resized = false;
            m_grabber->ResetDamage();  // the whole new screen is taken: damage starts afresh
            Resize();
            stride = m_size.width() * 4;
            events.damage = QRegion();
            unsent = QRegion();  // the library has marked the whole new screen as changed
            changed = QRect(QPoint(0, 0), m_size);
        }
        auto* fb = reinterpret_cast<std::uint32_t*>(m_framebuffer);
        if (!events.damage.isEmpty() && now >= nextFrame && settledNow &&
            (requested || UpdateWanted() || m_sink.FrameDue(now))) {
            requested = false;
            firstDamage = Clock::time_point::max();
            m_grabber->ResetDamage();
            // Many small rectangles cost one round trip each: grab their bounding box instead.
            const QRegion region = events.damage & QRect(QPoint(0, 0), m_size);
            const EncodersHeld held(m_screen);
            const QRegion grabbed = m_grabber->GrabChanged(
                region.rectCount() > 8 ? QRegion(region.boundingRect()) : region, fb, stride);
            served += Publish(grabbed);
            changed += grabbed;
            events.damage = QRegion();
            nextFrame = woke + frameInterval;
        }
        if (now >= nextSweep) {
            const EncodersHeld held(m_screen);
            const QRegion swept = m_grabber->Sweep(fb, stride);
            served += Publish(swept);
            changed += swept;
            nextSweep = now + sweepInterval;
        }
        if (m_settings.tick && now >= nextTick) {
            nextTick = now + tickInterval;
            m_settings.tick();
        }
        if (cursorOn && events.cursorChanged) {
            events.cursorChanged = false;
            if (m_grabber->CursorImage(shape, hot)) SetCursor(shape, hot);
        }
        if (cursorOn && now >= nextPointer) {
            nextPointer = now + pointerInterval;
            const QPoint pos = m_grabber->Pointer();
            if (pos != m_pointer) MovePointer(pos);
        }
        unsent += served;
        // With damage still to grab, a viewer's request waits for that grab.
        if (!unsent.isEmpty() && events.damage.isEmpty() && (asked || UpdateWanted())) {
            for (const QRect& r : unsent)
                rfbMarkRectAsModified(m_screen, r.left(), r.top(), r.right() + 1, r.bottom() + 1);
            unsent = QRegion();
        }
        if (events.damage.isEmpty()) asked = false;
        m_sink.Changed(changed);
        nextRecord = m_sink.Tick(now);
    }
}

}  // namespace pelio::components
