#include "server/VncServerComponent.h"

#include "recording/SrfWriter.h"
#include "server/TextFraming.h"
#include "server/X11Capture.h"
#include "server/X11Input.h"

#include <QEventLoop>
#include <QPointer>
#include <QTimer>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>

#include <sys/socket.h>
#include <unistd.h>
#include <functional>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include <rfb/rfb.h>
extern "C" {  // the header has no C++ guard of its own
#include <rfb/rfbregion.h>
}

namespace pelio::components {

namespace {

using Clock = std::chrono::steady_clock;

constexpr char BusyVersion[] = "RFB 000.000\n";
constexpr int VersionLength = 12;

void Silent(const char*, ...) {}

// One link to an agent's program. Guarded by Impl::mutex unless noted.
// Ends every wait on a socket that a connector thread still owns: shuts it and takes out what the
// peer sent, since the library's protocol sniffing peeks at the same few bytes for ever otherwise.
void ReleaseSocket(int fd) {
    shutdown(fd, SHUT_RDWR);
    char buffer[256];
    while (recv(fd, buffer, sizeof buffer, MSG_DONTWAIT) > 0) {
    }
}

struct Link {
    explicit Link(int i) : index(i) {}
    int index;
    rfbClientPtr cl = nullptr;
    std::string address;
    bool busy = false;
    bool allowRequested = false;
    bool started = false;  // the library's threads run it
    bool ready = false;    // the handshake is over: texts may flow
    bool gone = false;
    bool sending = false;    // the sender is writing to it
    bool abandoned = false;  // Connect gave up on it: it must not become a session
    int fd = -1;             // the socket while the connector still owns it
    std::deque<std::string> outbox;
    framing::TextAssembler assembler;  // used only by the link's input thread
};

class InertConnection : public ServerConnection {
  public:
    using ServerConnection::ServerConnection;
    QString Address() const override { return {}; }
    bool Allowed() const override { return false; }
    void SetAllowed(bool) override {}
};

class VncConnection : public ServerConnection {
  public:
    VncConnection(VncServerComponent::Impl* impl, int index, QString address, QObject* parent)
        : ServerConnection(parent), m_impl(impl), m_index(index), m_address(std::move(address)) {}
    QString Address() const override { return m_address; }
    bool Allowed() const override { return m_allowed; }
    void SetAllowed(bool allowed) override;

  private:
    VncServerComponent::Impl* m_impl;
    int m_index;
    QString m_address;
    bool m_allowed = false;
};

thread_local Link* t_newLink = nullptr;

}  // namespace

struct VncServerComponent::Impl {
    VncServerComponent* q = nullptr;
    QString displayName;
    bool flags[4] = {false, true, true, false};
    int maxFps = 100, sweepMs = 2000, connectTimeoutMs = 10000, greetingTimeoutMs = 30000;

    // UI thread only.
    bool active = false;
    int generation = 0;
    int defaultPort = 0;
    std::map<int, ServerConnection*> connections;
    InertConnection inert;
    std::vector<QEventLoop*> connectLoops;
    int connectDepth = 0;                     // Connect calls under way (UI thread)
    std::vector<std::function<void()>> held;  // events held while Connect waits (UI thread)
    std::vector<std::thread> connectors;

    // Fixed from Start to Stop, read by every thread.
    std::atomic<int> liveGeneration{0};
    bool viewOnly = false, cursorOn = true, damageOn = true, lossless = false;
    rfbScreenInfoPtr screen = nullptr;
    std::atomic<bool> stopping{false};

    std::mutex mutex;
    std::condition_variable changed;
    std::map<int, std::unique_ptr<Link>> links;
    int nextIndex = 1;
    std::deque<std::string> pending;  // chat messages waiting for an admitted link

    std::thread sender, capture;
    X11Input input;
    std::atomic<bool> captureReady{false};
    std::atomic<bool> captureFailed{false};

    // The framebuffers handed to the library; older ones stay until Stop, since encoder threads may
    // still read them for a moment after a change of screen size.
    std::vector<char*> framebuffers;
    std::deque<rfbCursorPtr> cursors;

    mutable std::mutex recordingMutex;
    std::unique_ptr<SrfWriter> writer;
    QImage cursorShape;
    QPoint cursorHot, cursorPos;
    // Changes gathered for the recording's next frame, and the framebuffer they are in.
    QRegion pendingRecord;
    bool pendingMoved = false, pendingShape = false;
    const std::uint32_t* recordFb = nullptr;
    int recordStride = 0;

    static Impl* Of(rfbClientPtr cl) { return static_cast<Impl*>(cl->screen->screenData); }
    static Link* LinkOf(rfbClientPtr cl) { return static_cast<Link*>(cl->clientData); }

    // Runs f on the UI thread unless the session it belongs to has been stopped meanwhile.
    template <typename F>
    void Post(F f) {
        const int gen = liveGeneration.load();
        QMetaObject::invokeMethod(
            q,
            [this, gen, f = std::move(f)]() mutable {
                std::function<void()> run = [this, gen, f = std::move(f)] {
                    if (active && gen == generation) f();
                };
                // Events that arrive while Connect waits are held until it has returned: the caller
                // learns that the link is up before it hears that the agent took it.
                if (connectDepth > 0)
                    held.push_back(std::move(run));
                else
                    run();
            },
            Qt::QueuedConnection);
    }

    // Delivers the events held during Connect, in order, after the caller has seen its result.
    void ReleaseHeld() {
        if (connectDepth > 0 || held.empty()) return;
        QMetaObject::invokeMethod(
            q,
            [this] {
                if (connectDepth > 0) return;
                std::vector<std::function<void()>> events;
                events.swap(held);
                for (auto& e : events) e();
            },
            Qt::QueuedConnection);
    }

    // ---- library hooks (library threads) ----

    static rfbNewClientAction NewClient(rfbClientPtr cl) {
        Link* link = t_newLink;
        if (!link) return RFB_CLIENT_REFUSE;  // nobody but our own connector makes clients
        Impl* self = Of(cl);
        cl->clientData = link;
        cl->clientGoneHook = ClientGone;
        cl->clientFramebufferUpdateRequestHook = UpdateRequested;
        cl->viewOnly = self->viewOnly ? TRUE : FALSE;
        std::lock_guard lock(self->mutex);
        link->cl = cl;
        link->address = cl->host ? cl->host : "";
        return RFB_CLIENT_ON_HOLD;
    }

    static void ClientGone(rfbClientPtr cl) {
        Impl* self = Of(cl);
        Link* link = LinkOf(cl);
        if (!link) return;
        bool started = false;
        {
            std::unique_lock lock(self->mutex);
            link->gone = true;
            self->changed.wait(lock, [&] { return !link->sending; });
            link->cl = nullptr;
            started = link->started;
        }
        self->changed.notify_all();
        cl->clientData = nullptr;
        if (started) self->input.ReleaseAll();
        if (self->stopping) return;
        const int index = link->index;
        self->Post([self, index] { emit self->q->Disconnected(index); });
    }

    static void UpdateRequested(rfbClientPtr cl, rfbFramebufferUpdateRequestMsg*) {
        Impl* self = Of(cl);
        if (self->lossless) {
            cl->tightQualityLevel = -1;
            cl->turboQualityLevel = -1;
        }
        Link* link = LinkOf(cl);
        if (!link) return;
        {
            std::lock_guard lock(self->mutex);
            if (link->ready) return;
            link->ready = true;
            // Texts sent before any agent was admitted go to the first one.
            while (!self->pending.empty()) {
                link->outbox.push_back(std::move(self->pending.front()));
                self->pending.pop_front();
            }
        }
        self->changed.notify_all();
    }

    static void TextChat(rfbClientPtr cl, int length, char* text) {
        Link* link = LinkOf(cl);
        if (!link || !text || length <= 0 || length >= rfbTextMaxSize) return;  // controls carry no text
        std::string complete;
        if (!link->assembler.Feed(std::string_view(text, std::size_t(length)), complete)) return;
        Impl* self = Of(cl);
        const int index = link->index;
        const int bytes = int(complete.size());
        QString value = QString::fromUtf8(complete.data(), qsizetype(complete.size()));
        self->Post([self, index, value, bytes] { emit self->q->TextReceived(index, value, bytes); });
    }

    static void Pointer(int mask, int x, int y, rfbClientPtr cl) {
        Impl* self = Of(cl);
        if (!self->viewOnly && !cl->viewOnly) self->input.Pointer(mask, x, y);
        rfbDefaultPtrAddEvent(mask, x, y, cl);
    }

    static void Key(rfbBool down, rfbKeySym keysym, rfbClientPtr cl) {
        Impl* self = Of(cl);
        if (!self->viewOnly && !cl->viewOnly) self->input.Key(down != 0, std::uint32_t(keysym));
    }

    // ---- connecting (connector thread) ----

    // A TCP connection to host:port within the time limit, or -1.
    int ConnectSocket(const std::string& host, int port) {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || !found) return -1;
        const auto deadline = Clock::now() + std::chrono::milliseconds(connectTimeoutMs);
        int result = -1;
        for (addrinfo* ai = found; ai && result < 0 && !stopping; ai = ai->ai_next) {
            const int fd =
                socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai->ai_protocol);
            if (fd < 0) continue;
            if (::connect(fd, ai->ai_addr, ai->ai_addrlen) == 0) {
                result = fd;
                break;
            }
            if (errno != EINPROGRESS) {
                close(fd);
                continue;
            }
            while (!stopping && Clock::now() < deadline) {
                pollfd p{fd, POLLOUT, 0};
                if (poll(&p, 1, 100) > 0) {
                    int error = 0;
                    socklen_t len = sizeof error;
                    getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len);
                    if (error == 0) result = fd;
                    break;
                }
            }
            if (result != fd) close(fd);
        }
        freeaddrinfo(found);
        if (result >= 0) {
            fcntl(result, F_SETFL, fcntl(result, F_GETFL) & ~O_NONBLOCK);
            const int one = 1;
            setsockopt(result, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        }
        return result;
    }

    // Waits for the peer's 12-byte protocol version without taking it from the socket. 1: busy,
    // 0: a version, -1: closed, stopped or too slow.
    int PeekVersion(int fd) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(greetingTimeoutMs);
        char buffer[VersionLength];
        while (!stopping && Clock::now() < deadline) {
            pollfd p{fd, POLLIN | POLLRDHUP, 0};
            if (poll(&p, 1, 100) <= 0) continue;
            const ssize_t n = recv(fd, buffer, VersionLength, MSG_PEEK | MSG_DONTWAIT);
            if (n == VersionLength) return std::memcmp(buffer, BusyVersion, VersionLength) == 0 ? 1 : 0;
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return -1;
            if (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) return -1;
            // Part of the version is there: poll would report it again at once, so wait a little.
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }

    void RunConnector(Link* link, std::string host, int port, std::shared_ptr<std::atomic<int>> result,
                      QPointer<QEventLoop> loop) {
        auto report = [&](bool ok) {
            result->store(ok ? 1 : 0);
            QMetaObject::invokeMethod(
                q,
                [loop] {
                    if (loop) loop->quit();
                },
                Qt::QueuedConnection);
        };
        const int fd = ConnectSocket(host, port);
        bool refuse = fd < 0;
        if (!refuse) {
            // A viewer waits for the server to speak first. A peer that sends before that is not one,
            // and a few bytes waiting here would stall the library's protocol sniffing for ever.
            pollfd p{fd, POLLIN, 0};
            refuse = poll(&p, 1, 0) > 0;
        }
        {
            std::lock_guard lock(mutex);
            refuse = refuse || link->abandoned || stopping;
            if (!refuse) link->fd = fd;
        }
        if (refuse) {
            if (fd >= 0) close(fd);
            std::lock_guard lock(mutex);
            link->gone = true;
            report(false);
            return;
        }
        t_newLink = link;
        rfbClientPtr cl = rfbNewClient(screen, fd);
        t_newLink = nullptr;
        if (!cl) {
            std::lock_guard lock(mutex);
            link->gone = true;
            report(false);
            return;
        }
        report(true);

        const int version = PeekVersion(fd);
        bool abandoned = false;
        {
            std::lock_guard lock(mutex);
            link->fd = -1;  // the library's threads own the socket from here on
            abandoned = link->abandoned;
        }
        if (version < 0 || abandoned) {
            rfbRefuseOnHoldClient(cl);
            return;
        }
        QString address;
        {
            std::lock_guard lock(mutex);
            link->busy = version == 1;
            address = link->busy ? QStringLiteral("0.0.0.0") : QString::fromStdString(link->address);
        }
        const int index = link->index;
        Post([this, index, address] {
            connections[index] = new VncConnection(this, index, address, q);
            emit q->Connected(index);
        });

        // On hold until admitted; a busy link stays on hold until it is closed.
        while (true) {
            {
                std::unique_lock lock(mutex);
                changed.wait_for(lock, std::chrono::milliseconds(100),
                                 [&] { return stopping.load() || (link->allowRequested && !link->busy); });
                if (stopping) break;
                if (link->allowRequested && !link->busy) {
                    link->started = true;
                    lock.unlock();
                    rfbStartOnHoldClient(cl);
                    return;
                }
            }
            pollfd p{fd, POLLRDHUP, 0};
            if (poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR))) break;
        }
        rfbRefuseOnHoldClient(cl);
    }

    // ---- texts (sender thread) ----

    void RunSender() {
        std::unique_lock lock(mutex);
        while (true) {
            Link* next = nullptr;
            changed.wait(lock, [&] {
                if (stopping) return true;
                for (auto& [index, link] : links)
                    if (link->ready && !link->gone && !link->sending && !link->outbox.empty() && link->cl) {
                        next = link.get();
                        return true;
                    }
                return false;
            });
            if (stopping) return;
            std::string message = std::move(next->outbox.front());
            next->outbox.pop_front();
            next->sending = true;
            rfbClientPtr cl = next->cl;
            lock.unlock();
            pthread_mutex_lock(&cl->sendMutex);
            rfbSendTextChatMessage(cl, std::uint32_t(message.size()), message.data());
            pthread_mutex_unlock(&cl->sendMutex);
            lock.lock();
            next->sending = false;
            changed.notify_all();
        }
    }

    // ---- capture (capture thread) ----

    char* NewFramebuffer(QSize size) {
        char* buffer = static_cast<char*>(calloc(std::size_t(size.width()) * std::size_t(size.height()), 4));
        framebuffers.push_back(buffer);
        return buffer;
    }

    static void SetPixelFormat(rfbScreenInfoPtr s) {
        s->serverFormat.redShift = 16;
        s->serverFormat.greenShift = 8;
        s->serverFormat.blueShift = 0;
    }

    void SetCursor(const QImage& shape, QPoint hot) {
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
        // The shape's buffers are freed with it; the structure itself is ours to free (cleanup
        // false), so that the library does not free the previous shape when it takes this one.
        c->cleanupSource = c->cleanupMask = c->cleanupRichSource = TRUE;
        c->cleanup = FALSE;
        rfbSetCursor(screen, c);
        cursors.push_back(c);
        // Encoders copy the cursor under the cursor lock; a few old shapes are kept for safety.
        while (cursors.size() > 8) {
            FreeCursor(cursors.front());
            cursors.pop_front();
        }
    }

    static void FreeCursor(rfbCursorPtr c) {
        c->cleanup = TRUE;
        rfbFreeCursor(c);
    }

    void UseCursor(const QImage& shape, QPoint hot) {
        SetCursor(shape, hot);
        std::lock_guard lock(recordingMutex);
        cursorShape = shape;
        cursorHot = hot;
    }

    // Writes the gathered changes as one frame of the recording; recordingMutex is held.
    void WritePendingLocked() {
        if (!writer || !recordFb) return;
        if (pendingRecord.isEmpty() && !pendingMoved && !pendingShape) return;
        for (const QRect& r : pendingRecord)
            writer->UpdateRect(r, recordFb + std::ptrdiff_t(r.y()) * (recordStride / 4) + r.x(),
                               recordStride);
        if (pendingShape) writer->SetCursorShape(cursorShape, cursorHot);
        if (pendingMoved) writer->SetCursorPosition(cursorPos - cursorHot, cursorOn);
        writer->CommitFrame(writer->ElapsedMs());
        pendingRecord = QRegion();
        pendingMoved = pendingShape = false;
    }

    // True when a client asked for an update that it has not received yet. Capture follows the
    // clients' pace: a slow link asks less often, and then the screen is grabbed less often.
    bool UpdateWanted() {
        bool wanted = false;
        rfbClientIteratorPtr it = rfbGetClientIterator(screen);
        while (rfbClientPtr cl = rfbClientIteratorNext(it)) {
            pthread_mutex_lock(&cl->updateMutex);
            wanted = wanted || !sraRgnEmpty(cl->requestedRegion);
            pthread_mutex_unlock(&cl->updateMutex);
        }
        rfbReleaseClientIterator(it);
        return wanted;
    }

    bool IsRecording() {
        std::lock_guard lock(recordingMutex);
        return writer != nullptr;
    }

    void RunCapture(X11Capture* grabber) {
        QSize size = grabber->Size();
        auto* fb = reinterpret_cast<std::uint32_t*>(screen->frameBuffer);
        int stride = size.width() * 4;
        grabber->Sweep(fb, stride);
        const auto frameInterval = std::chrono::microseconds(1000000 / std::max(1, maxFps));
        const auto sweepInterval = damageOn ? std::chrono::milliseconds(sweepMs) : frameInterval;
        constexpr auto pointerInterval = std::chrono::milliseconds(100);
        // The recording keeps a calmer pace than the live picture: changes are gathered and written at
        // most this often, which keeps its cost small while the agent watches a busy screen.
        constexpr auto recordInterval = std::chrono::milliseconds(100);
        constexpr auto requestPollInterval = std::chrono::milliseconds(4);
        auto nextFrame = Clock::now(), nextSweep = Clock::now() + sweepInterval, nextPointer = Clock::now();
        auto nextRecord = Clock::now();
        bool recordPending = false;
        X11Capture::Events events;
        bool shapeChanged = cursorOn;
        QImage shape;
        QPoint hot;
        if (cursorOn && grabber->CursorImage(shape, hot)) UseCursor(shape, hot);
        {
            std::lock_guard lock(recordingMutex);
            cursorPos = grabber->Pointer();
        }

        while (!stopping) {
            auto now = Clock::now();
            auto wake = std::min(nextSweep, nextPointer);
            if (!events.damage.isEmpty())
                wake = std::min(wake, std::max(now + requestPollInterval, nextFrame));
            if (recordPending) wake = std::min(wake, std::max(now, nextRecord));
            // Rounded up: a wait shorter than a millisecond would otherwise spin.
            const int timeout =
                int((std::chrono::duration_cast<std::chrono::microseconds>(wake - now).count() + 999) / 1000);
            pollfd p{grabber->Fd(), POLLIN, 0};
            poll(&p, 1, std::clamp(timeout, 0, 100));
            grabber->ProcessEvents(events);
            now = Clock::now();

            QRegion changedRegion;
            if (events.resized) {
                events.resized = false;
                size = grabber->Size();
                char* buffer = NewFramebuffer(size);
                fb = reinterpret_cast<std::uint32_t*>(buffer);
                stride = size.width() * 4;
                grabber->Sweep(fb, stride);
                // Under the recording lock: StartRecording reads the screen's size and buffer, and a
                // pending recording frame must not mix the old and the new size.
                std::lock_guard lock(recordingMutex);
                rfbNewFramebuffer(screen, buffer, size.width(), size.height(), 8, 3, 4);
                recordFb = fb;
                recordStride = stride;
                pendingRecord = QRegion();
                SetPixelFormat(screen);
                rfbClientIteratorPtr it = rfbGetClientIterator(screen);
                while (rfbClientPtr cl = rfbClientIteratorNext(it)) {
                    pthread_mutex_lock(&cl->sendMutex);
                    screen->setTranslateFunction(cl);
                    pthread_mutex_unlock(&cl->sendMutex);
                }
                rfbReleaseClientIterator(it);
                if (writer) writer->SetScreenSize(size);
                events.damage = QRegion();
                changedRegion = QRect(QPoint(0, 0), size);
            }
            const bool recording = IsRecording();
            if (!events.damage.isEmpty() && now >= nextFrame &&
                (UpdateWanted() || (recording && now >= nextRecord))) {
                // Many small rectangles cost one round trip each: grab their bounding box instead.
                const QRegion region = events.damage & QRect(QPoint(0, 0), size);
                changedRegion += grabber->GrabChanged(
                    region.rectCount() > 8 ? QRegion(region.boundingRect()) : region, fb, stride);
                events.damage = QRegion();
                nextFrame = now + frameInterval;
            }
            if (now >= nextSweep) {
                changedRegion += grabber->Sweep(fb, stride);
                nextSweep = now + sweepInterval;
            }
            bool cursorMoved = false, shapeNow = false;
            if (cursorOn && events.cursorChanged) {
                events.cursorChanged = false;
                if (grabber->CursorImage(shape, hot)) {
                    UseCursor(shape, hot);
                    shapeNow = true;
                }
            }
            if (cursorOn && now >= nextPointer) {
                nextPointer = now + pointerInterval;
                const QPoint pos = grabber->Pointer();
                if (pos != cursorPos) {
                    {
                        std::lock_guard lock(recordingMutex);
                        cursorPos = pos;
                    }
                    cursorMoved = true;
                    pthread_mutex_lock(&screen->cursorMutex);
                    screen->cursorX = pos.x();
                    screen->cursorY = pos.y();
                    pthread_mutex_unlock(&screen->cursorMutex);
                    rfbClientIteratorPtr it = rfbGetClientIterator(screen);
                    while (rfbClientPtr cl = rfbClientIteratorNext(it)) {
                        if (!cl->enableCursorPosUpdates) continue;
                        pthread_mutex_lock(&cl->updateMutex);
                        cl->cursorWasMoved = TRUE;
                        pthread_cond_signal(&cl->updateCond);
                        pthread_mutex_unlock(&cl->updateMutex);
                    }
                    rfbReleaseClientIterator(it);
                }
            }
            for (const QRect& r : changedRegion)
                rfbMarkRectAsModified(screen, r.left(), r.top(), r.right() + 1, r.bottom() + 1);
            {
                std::lock_guard lock(recordingMutex);
                recordFb = fb;
                recordStride = stride;
                if (writer) {
                    pendingRecord += changedRegion;
                    pendingMoved = pendingMoved || cursorMoved;
                    pendingShape = pendingShape || shapeNow || shapeChanged;
                    shapeChanged = false;
                    if (now >= nextRecord && (!pendingRecord.isEmpty() || pendingMoved || pendingShape)) {
                        WritePendingLocked();
                        nextRecord = now + recordInterval;
                    }
                } else {
                    pendingRecord = QRegion();
                    pendingMoved = pendingShape = false;
                    shapeChanged = shapeChanged || shapeNow;  // the next recording starts with the shape
                }
                recordPending = !pendingRecord.isEmpty() || pendingMoved || pendingShape;
            }
        }
    }

    // ---- commands (UI thread) ----

    void Allow(int index) {
        {
            std::lock_guard lock(mutex);
            const auto it = links.find(index);
            if (it == links.end()) return;
            it->second->allowRequested = true;
        }
        changed.notify_all();
    }

    bool StartServer(int number);
    void StopServer();
};

void VncConnection::SetAllowed(bool allowed) {
    if (m_allowed || !allowed) {
        // Taking admission back is not supported: the agent already has the screen.
        m_allowed = m_allowed || allowed;
        return;
    }
    m_allowed = true;
    if (m_address != QLatin1String("0.0.0.0")) m_impl->Allow(m_index);
}

bool VncServerComponent::Impl::StartServer(int number) {
    defaultPort = number >= 1 && number <= 65535 ? number : 0;
    viewOnly = flags[0];
    cursorOn = flags[1];
    damageOn = flags[2];
    lossless = flags[3];
    stopping = false;
    rfbLogEnable(0);
    rfbLog = Silent;
    rfbErr = Silent;

    auto grabber = std::make_unique<X11Capture>();
    const std::string display = displayName.toStdString();
    if (!grabber->Open(display, damageOn)) return false;
    const QSize size = grabber->Size();
    int argc = 0;
    screen = rfbGetScreen(&argc, nullptr, size.width(), size.height(), 8, 3, 4);
    if (!screen) return false;
    SetPixelFormat(screen);
    screen->frameBuffer = NewFramebuffer(size);
    screen->screenData = this;
    screen->desktopName = "Pelio";
    screen->port = -1;
    screen->ipv6port = -1;
    screen->autoPort = FALSE;
    screen->httpPort = -1;
    screen->http6Port = -1;
    screen->alwaysShared = TRUE;
    screen->newClientHook = NewClient;
    screen->setTextChat = TextChat;
    screen->ptrAddEvent = Pointer;
    screen->kbdAddEvent = Key;
    screen->deferUpdateTime = 0;
    screen->handleEventsEagerly = TRUE;
    rfbInitServer(screen);
    rfbRunEventLoop(screen, 40000, TRUE);

    input.Start(display);
    sender = std::thread([this] { RunSender(); });
    X11Capture* raw = grabber.release();
    capture = std::thread([this, raw] {
        std::unique_ptr<X11Capture> owned(raw);
        RunCapture(owned.get());
    });
    return true;
}

void VncServerComponent::Impl::StopServer() {
    stopping = true;
    changed.notify_all();
    for (QEventLoop* loop : connectLoops) loop->quit();
    {
        // A connector blocked on a peer inside the library returns once its socket is shut.
        std::lock_guard lock(mutex);
        for (auto& [index, link] : links)
            if (link->fd >= 0) ReleaseSocket(link->fd);
    }
    for (std::thread& t : connectors)
        if (t.joinable()) t.join();
    connectors.clear();
    if (sender.joinable()) sender.join();
    if (capture.joinable()) capture.join();
    if (screen) {
        // Close the running links and wait until their threads have finished with them.
        std::vector<rfbClientPtr> running;
        {
            rfbClientIteratorPtr it = rfbGetClientIterator(screen);
            while (rfbClientPtr cl = rfbClientIteratorNext(it)) running.push_back(cl);
            rfbReleaseClientIterator(it);
        }
        for (rfbClientPtr cl : running) rfbCloseClient(cl);
        {
            std::unique_lock lock(mutex);
            changed.wait_for(lock, std::chrono::seconds(10), [&] {
                for (auto& [index, link] : links)
                    if (link->cl) return false;
                return true;
            });
        }
        rfbShutdownServer(screen, FALSE);
        // Ours are freed here; the library's cleanup frees only a cursor marked for it.
        bool ownsCurrent = false;
        for (rfbCursorPtr c : cursors) {
            if (c == screen->cursor)
                ownsCurrent = true;
            else
                FreeCursor(c);
        }
        if (ownsCurrent) screen->cursor->cleanup = TRUE;
        rfbScreenCleanup(screen);
        screen = nullptr;
    }
    input.Stop();
    for (char* buffer : framebuffers) free(buffer);
    framebuffers.clear();
    cursors.clear();
    {
        std::lock_guard lock(mutex);
        links.clear();
        pending.clear();
    }
}

VncServerComponent::VncServerComponent(const QString& displayName, QObject* parent)
    : ServerComponent(parent), d(std::make_unique<Impl>()) {
    d->q = this;
    d->displayName = displayName;
}

VncServerComponent::~VncServerComponent() {
    Stop();
}

bool VncServerComponent::ConfigFlag1() const {
    return d->flags[0];
}
void VncServerComponent::SetConfigFlag1(bool value) {
    d->flags[0] = value;
}
bool VncServerComponent::ConfigFlag2() const {
    return d->flags[1];
}
void VncServerComponent::SetConfigFlag2(bool value) {
    d->flags[1] = value;
}
bool VncServerComponent::ConfigFlag3() const {
    return d->flags[2];
}
void VncServerComponent::SetConfigFlag3(bool value) {
    d->flags[2] = value;
}
bool VncServerComponent::ConfigFlag4() const {
    return d->flags[3];
}
void VncServerComponent::SetConfigFlag4(bool value) {
    d->flags[3] = value;
}

void VncServerComponent::SetMaxFrameRate(int fps) {
    d->maxFps = std::clamp(fps, 1, 1000);
}
void VncServerComponent::SetSweepIntervalMs(int ms) {
    d->sweepMs = std::max(ms, 10);
}
void VncServerComponent::SetConnectTimeoutMs(int ms) {
    d->connectTimeoutMs = std::max(ms, 1);
}
void VncServerComponent::SetGreetingTimeoutMs(int ms) {
    d->greetingTimeoutMs = std::max(ms, 1);
}

bool VncServerComponent::Active() const {
    return d->active;
}

void VncServerComponent::Start(int number) {
    if (d->active) Stop();
    ++d->generation;
    d->liveGeneration = d->generation;
    if (!d->StartServer(number)) {
        d->StopServer();
        return;
    }
    d->active = true;
}

void VncServerComponent::Stop() {
    StopRecording();
    const bool wasActive = d->active;
    d->active = false;
    ++d->generation;
    d->liveGeneration = d->generation;
    if (wasActive || d->screen) d->StopServer();
    for (auto& [index, connection] : d->connections) connection->deleteLater();
    d->connections.clear();
}

bool VncServerComponent::Connect(const QString& address, int port) {
    if (!d->active) return false;
    const int target = port >= 1 && port <= 65535 ? port : d->defaultPort;
    const QByteArray host = address.trimmed().toUtf8();
    if (target == 0 || host.isEmpty() || host.contains('\0')) return false;
    Link* link = nullptr;
    {
        std::lock_guard lock(d->mutex);
        const int index = d->nextIndex++;
        link = (d->links[index] = std::make_unique<Link>(index)).get();
    }
    const int generation = d->generation;
    auto result = std::make_shared<std::atomic<int>>(-1);
    QEventLoop loop;
    d->connectLoops.push_back(&loop);
    QTimer::singleShot(d->connectTimeoutMs + 5000, &loop, &QEventLoop::quit);
    QPointer<QEventLoop> guard(&loop);
    d->connectors.emplace_back([this, link, h = host.toStdString(), target, result, guard] {
        d->RunConnector(link, h, target, result, guard);
    });
    // User input waits meanwhile: a second click must not start another session inside this one.
    ++d->connectDepth;
    if (result->load() < 0) loop.exec(QEventLoop::ExcludeUserInputEvents);
    --d->connectDepth;
    std::erase(d->connectLoops, &loop);
    const bool ok = result->load() == 1 && d->active && generation == d->generation;
    if (!ok) {
        // Too late or failed: if the link still comes up, it is closed instead of raising Connected;
        // a connector stuck on the peer inside the library is released by shutting its socket.
        std::lock_guard lock(d->mutex);
        link->abandoned = true;
        if (link->fd >= 0) ReleaseSocket(link->fd);
    }
    d->ReleaseHeld();
    return ok;
}

ServerConnection* VncServerComponent::Client(int index) {
    const auto it = d->connections.find(index);
    return it == d->connections.end() ? &d->inert : it->second;
}

void VncServerComponent::Send(int target, const QString& text) {
    if (target != 0 || !d->active) return;
    const QByteArray utf8 = text.toUtf8();
    const auto messages = framing::SplitText(std::string_view(utf8.constData(), std::size_t(utf8.size())));
    {
        std::lock_guard lock(d->mutex);
        bool delivered = false;
        for (auto& [index, link] : d->links)
            if (link->ready && !link->gone) {
                link->outbox.insert(link->outbox.end(), messages.begin(), messages.end());
                delivered = true;
            }
        if (!delivered) d->pending.insert(d->pending.end(), messages.begin(), messages.end());
    }
    d->changed.notify_all();
}

void VncServerComponent::StartRecording(const QString& path) {
    StopRecording();
    if (!d->active || !d->screen) return;
    auto writer = std::make_unique<SrfWriter>();
    // The screen's size and buffer change only under this lock (a resize on the capture thread).
    std::lock_guard lock(d->recordingMutex);
    const QSize size(d->screen->width, d->screen->height);
    if (!writer->Open(path, size)) return;
    const auto* fb = reinterpret_cast<const std::uint32_t*>(d->screen->frameBuffer);
    writer->UpdateRect(QRect(QPoint(0, 0), size), fb, size.width() * 4);
    if (d->cursorOn && !d->cursorShape.isNull()) {
        writer->SetCursorShape(d->cursorShape, d->cursorHot);
        writer->SetCursorPosition(d->cursorPos - d->cursorHot, true);
    }
    writer->CommitFrame(0);
    d->pendingRecord = QRegion();
    d->pendingMoved = d->pendingShape = false;
    d->writer = std::move(writer);
}

void VncServerComponent::StopRecording() {
    std::unique_ptr<SrfWriter> writer;
    {
        std::lock_guard lock(d->recordingMutex);
        d->WritePendingLocked();  // what the agent has seen is in the recording too
        writer = std::move(d->writer);
    }
    if (writer) writer->Finish(writer->ElapsedMs());
}

bool VncServerComponent::Recording() const {
    std::lock_guard lock(d->recordingMutex);
    return d->writer != nullptr;
}

}  // namespace pelio::components
