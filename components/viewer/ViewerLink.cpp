#include "viewer/ViewerLink.h"

#include "clipboard/ClipboardMessages.h"
#include "viewer/ScreenMemory.h"
#include "viewer/ViewerCutText.h"
#include "viewer/ViewerLog.h"
#include "viewer/ViewerSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <utility>

#include <gnutls/gnutls.h>
#include <rfb/rfbclient.h>

namespace pelio::components {

namespace {

using Clock = std::chrono::steady_clock;

// The tag under which the library keeps the link's side of a client.
int g_clientTag;

// Puts the extended clipboard among the encodings every client of this process asks for. Each of
// them reads cut texts itself (Impl::HandleMessage), so none is handed a message the library cannot
// read. Registered once, before the first client that shares the clipboard starts its handshake.
void AdvertiseExtendedClipboard() {
    static std::once_flag once;
    std::call_once(once, [] {
        static int encodings[] = {int(clipboard::kEncoding), 0};
        static rfbClientProtocolExtension extension{};
        extension.encodings = encodings;
        rfbClientRegisterExtension(&extension);
    });
}

// The most rectangles a changed area is tracked in; beyond it, their bounding rectangle.
constexpr int kMaxDirtyRects = 32;

// The most input events waiting for the link; beyond it the oldest pointer moves are dropped.
constexpr std::size_t kMaxQueuedInput = 4096;

}  // namespace

// The thread's side of one link: the library's client and the callbacks that reach the link.
struct ViewerLink::Impl {
    ViewerLink* link = nullptr;
    rfbClient* client = nullptr;
    QRegion pending;       // changed in the update being received
    bool stalled = false;  // input waits for room on the socket
    std::unique_ptr<ViewerCutText> cutText;
    Clock::time_point stalledSince;

    static Impl* Of(rfbClient* client) {
        return static_cast<Impl*>(rfbClientGetClientData(client, &g_clientTag));
    }

    static rfbBool AllocateFrame(rfbClient* client);
    // The library's copy and fill, done faster (ScreenMemory.h).
    static void CopyRect(rfbClient* client, int sx, int sy, int w, int h, int dx, int dy);
    static void FillRect(rfbClient* client, int x, int y, int w, int h, std::uint32_t colour);
    static void GotUpdate(rfbClient* client, int x, int y, int w, int h);
    static void FinishedUpdate(rfbClient* client);
    static char* Password(rfbClient* client);
    static void GotText(rfbClient* client, int value, char* text);
    static void IgnoreCutText(rfbClient*, const char*, int) {}

    bool Setup(int fd);
    bool Serve();
    // One message from the server: cut texts read here, the rest by the library.
    bool HandleMessage();
    bool SendInput();
    void Release();
};

// Runs with the picture lock held (in the handshake or a message).
rfbBool ViewerLink::Impl::AllocateFrame(rfbClient* client) {
    Impl* self = Of(client);
    ViewerLink* link = self->link;
    const int w = client->width, h = client->height;
    client->frameBuffer = nullptr;
    link->m_screen = QImage();  // the old picture's memory goes before the new one is taken
    link->m_screenSegment = -1;
    ++link->m_screenSerial;
    if (w <= 0 || h <= 0 || w > kMaxSide || h > kMaxSide || std::int64_t(w) * h > kMaxPixels) {
        qCWarning(lcViewer, "refused a screen of %dx%d", w, h);
        return FALSE;
    }
    int segment = -1;
    QImage screen;
    if (link->m_settings.sharedMemory) screen = SharedScreenImage(w, h, &segment);
    if (screen.isNull()) {
        segment = -1;
        screen = QImage(w, h, QImage::Format_RGB32);
    }
    if (screen.isNull()) return FALSE;
    screen.fill(Qt::black);
    link->m_screen = std::move(screen);
    link->m_screenSegment = segment;
    // The image is never shared, so its memory stays where it is until the next size.
    client->frameBuffer = link->m_screen.bits();
    self->pending = QRegion();
    std::lock_guard lock(link->m_stateMutex);
    link->m_dirty = QRegion(0, 0, w, h);
    link->m_size = QSize(w, h);
    link->m_resized = true;
    return TRUE;
}

void ViewerLink::Impl::CopyRect(rfbClient* client, int sx, int sy, int w, int h, int dx, int dy) {
    CopyScreenArea(client->frameBuffer, QSize(client->width, client->height), QRect(sx, sy, w, h),
                   QPoint(dx, dy));
}

void ViewerLink::Impl::FillRect(rfbClient* client, int x, int y, int w, int h, std::uint32_t colour) {
    FillScreenArea(client->frameBuffer, QSize(client->width, client->height), QRect(x, y, w, h), colour);
}

void ViewerLink::Impl::GotUpdate(rfbClient* client, int x, int y, int w, int h) {
    Impl* self = Of(client);
    self->pending += QRect(x, y, w, h) & QRect(0, 0, client->width, client->height);
    // Many small rectangles cost more to track than to paint as one.
    if (self->pending.rectCount() > kMaxDirtyRects) self->pending = self->pending.boundingRect();
}

void ViewerLink::Impl::FinishedUpdate(rfbClient* client) {
    Impl* self = Of(client);
    const QRegion area = self->pending;
    self->pending = QRegion();
    if (area.isEmpty() || !client->frameBuffer) return;
    ViewerLink* link = self->link;
    bool report = false;
    {
        std::lock_guard lock(link->m_stateMutex);
        link->m_dirty += area;
        if (link->m_dirty.rectCount() > kMaxDirtyRects) link->m_dirty = link->m_dirty.boundingRect();
        report = !link->m_framePending;
        link->m_framePending = true;
    }
    if (report) link->Report(Event::Frame);
}

// A text-chat message (value is its length), or a control (no text).
void ViewerLink::Impl::GotText(rfbClient* client, int value, char* text) {
    if (!text || value <= 0) return;
    ViewerLink* link = Of(client)->link;
    bool report = false;
    {
        std::lock_guard lock(link->m_stateMutex);
        if (link->m_texts.size() >= kMaxQueuedTexts) {
            link->m_textsOverflow = true;
            return;
        }
        link->m_texts.emplace_back(text, std::size_t(value));
        report = !link->m_textPending;
        link->m_textPending = true;
    }
    if (report) link->Report(Event::Text);
}

char* ViewerLink::Impl::Password(rfbClient* client) {
    // The library reads the first 8 characters, then clears and frees the copy.
    return strdup(Of(client)->link->m_settings.password.c_str());
}

bool ViewerLink::Impl::Setup(int fd) {
    const Settings& s = link->m_settings;
    client = rfbGetClient(8, 3, 4);
    if (!client) return false;
    rfbClientSetClientData(client, &g_clientTag, this);
    // 0x00RRGGBB in host order: the same layout as QImage::Format_RGB32, so updates copy unchanged.
    client->format.redShift = 16;
    client->format.greenShift = 8;
    client->format.blueShift = 0;
    client->MallocFrameBuffer = AllocateFrame;
    client->GotCopyRect = CopyRect;
    client->GotFillRect = FillRect;
    client->GotFrameBufferUpdate = GotUpdate;
    client->FinishedFrameBufferUpdate = FinishedUpdate;
    client->GetPassword = Password;
    client->HandleTextChat = GotText;
    client->GotXCutText = IgnoreCutText;
    client->canHandleNewFBSize = TRUE;
    client->appData.shareDesktop = s.exclusive ? FALSE : TRUE;
    client->appData.enableJPEG = s.lossless ? FALSE : TRUE;
    client->appData.encodingsString = "tight zrle copyrect hextile zlib raw";
    client->appData.useRemoteCursor = FALSE;
    // zlib level 2 instead of the library's 3: less work for the agent's server at nearly the same size.
    client->appData.compressLevel = 2;
    client->connectTimeout = unsigned(std::max(1, s.connectTimeoutMs / 1000));
    // The library counts a read as stalled after readTimeout * 10 waits of up to 100 ms in one message.
    client->readTimeout = unsigned(s.readTimeoutS);
    cutText = std::make_unique<ViewerCutText>(s.clipboard, [this](QString text) {
        bool report = false;
        {
            std::lock_guard lock(link->m_stateMutex);
            report = !link->m_clipboardIn;
            link->m_clipboardIn = std::move(text);
        }
        if (report) link->Report(Event::Clipboard);
    });
    if (s.clipboard) AdvertiseExtendedClipboard();
    client->sock = fd;
    client->listenSpecified = TRUE;  // the socket is made: the library only runs the handshake
    std::lock_guard picture(link->m_pictureMutex);
    if (!rfbInitClient(client, nullptr, nullptr)) {
        client = nullptr;  // freed by the library, and its socket closed
        return false;
    }
    return true;
}

// Sends the queued input when the socket can take it; false when the link is dead or has taken no
// data for the read time-out.
bool ViewerLink::Impl::SendInput() {
    std::vector<Input> input;
    std::optional<std::string> clipboardText;
    {
        std::lock_guard lock(link->m_inputMutex);
        if (link->m_input.empty() && !link->m_clipboardOut) {
            stalled = false;
            return true;
        }
        pollfd p{client->sock, POLLOUT, 0};
        if (poll(&p, 1, 0) <= 0 || !(p.revents & POLLOUT)) {
            if (p.revents & (POLLERR | POLLHUP)) return false;
            if (!stalled) stalledSince = Clock::now();
            stalled = true;
            return Clock::now() - stalledSince < std::chrono::seconds(link->m_settings.readTimeoutS);
        }
        stalled = false;
        input.swap(link->m_input);
        clipboardText.swap(link->m_clipboardOut);
    }
    if (clipboardText && !cutText->Send(client, *clipboardText)) return false;
    for (const Input& event : input) {
        rfbBool ok = FALSE;
        if (!event.text.empty()) {
            // Header and text in one write (the library's own TextChatSend makes two).
            rfbTextChatMsg header{};
            header.type = rfbTextChat;
            header.length = htonl(std::uint32_t(event.text.size()));
            std::string message(reinterpret_cast<const char*>(&header), sz_rfbTextChatMsg);
            message += event.text;
            ok = WriteToRFBServer(client, message.data(), unsigned(message.size()));
        } else if (event.key) {
            ok = SendKeyEvent(client, event.keysym, event.down ? TRUE : FALSE);
        } else {
            ok = SendPointerEvent(client, event.x, event.y, event.mask);
        }
        if (!ok) return false;
    }
    return true;
}

// Receives and sends until the link ends or Stop; false when it ended by itself.
bool ViewerLink::Impl::Serve() {
    while (!link->m_stop) {
        bool readable = client->buffered > 0;
        if (!readable && client->tlsSession)
            readable = gnutls_record_check_pending(static_cast<gnutls_session_t>(client->tlsSession)) > 0;
        if (!readable) {
            pollfd fds[2] = {{client->sock, short(POLLIN | (stalled ? POLLOUT : 0)), 0},
                             {link->m_wake[0], POLLIN, 0}};
            const int n = poll(fds, 2, stalled ? 100 : 1000);
            if (n < 0 && errno != EINTR) return false;
            if (n > 0 && fds[1].revents) {
                char drain[64];
                while (read(link->m_wake[0], drain, sizeof drain) > 0) {
                }
            }
            readable = n > 0 && (fds[0].revents & (POLLIN | POLLHUP | POLLERR));
        }
        if (link->m_stop) break;
        if (readable) {
            {
                std::lock_guard picture(link->m_pictureMutex);
                if (!HandleMessage()) return false;
            }
            link->AwaitShown();
        }
        if (!SendInput()) return false;
        std::lock_guard lock(link->m_stateMutex);
        if (link->m_textsOverflow) {
            qCWarning(lcViewer, "the peer sent more texts than were taken");
            return false;
        }
    }
    return true;
}

bool ViewerLink::Impl::HandleMessage() {
    char type = 0;
    if (!ReadFromRFBServer(client, &type, 1)) return false;
    if (std::uint8_t(type) == rfbServerCutText) return cutText->Read(client);
    // Give the byte back: a read of one byte leaves it just before the library's read position,
    // whether it came from the buffer or was read into it.
    --client->bufoutptr;
    ++client->buffered;
    return HandleRFBServerMessage(client) != FALSE;
}

void ViewerLink::Impl::Release() {
    if (!client) return;
    client->frameBuffer = nullptr;  // the screen's image, which the link keeps
    rfbClientCleanup(client);       // closes the library's socket
    client = nullptr;
}

ViewerLink::ViewerLink(Settings settings) : m_settings(std::move(settings)) {
    if (pipe2(m_wake, O_NONBLOCK | O_CLOEXEC) != 0) m_wake[0] = m_wake[1] = -1;
}

ViewerLink::~ViewerLink() {
    for (int fd : m_wake)
        if (fd >= 0) close(fd);
}

void ViewerLink::Start(Notify notify) {
    m_notify = std::move(notify);
    std::thread([self = shared_from_this()] { self->Run(); }).detach();
}

void ViewerLink::Stop() {
    m_stop = true;
    {
        std::lock_guard lock(m_stateMutex);
        m_shown.notify_all();
    }
    {
        std::lock_guard lock(m_notifyMutex);
        m_notify = nullptr;
    }
    if (m_wake[1] >= 0) {
        const char c = 0;
        [[maybe_unused]] const ssize_t n = write(m_wake[1], &c, 1);
    }
    std::lock_guard lock(m_wireMutex);
    if (m_wire >= 0) shutdown(m_wire, SHUT_RDWR);
}

bool ViewerLink::WaitFinished(int ms) {
    std::unique_lock lock(m_doneMutex);
    return m_doneSignal.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_done; });
}

void ViewerLink::Report(Event event) {
    std::lock_guard lock(m_notifyMutex);
    if (m_notify) m_notify(event);
}

void ViewerLink::QueuePointer(int x, int y, int mask) {
    std::lock_guard lock(m_inputMutex);
    if (!m_input.empty() && !m_input.back().key && m_input.back().text.empty() &&
        m_input.back().mask == mask) {
        m_input.back().x = x;
        m_input.back().y = y;
        return;
    }
    if (m_input.size() >= kMaxQueuedInput) {
        for (auto it = m_input.begin(); it != m_input.end(); ++it)
            if (!it->key && it->text.empty()) {
                m_input.erase(it);
                break;
            }
        if (m_input.size() >= kMaxQueuedInput) return;
    }
    m_input.push_back(Input{false, 0, false, x, y, mask, {}});
    if (m_input.size() == 1 && m_wake[1] >= 0) {
        const char c = 0;
        [[maybe_unused]] const ssize_t n = write(m_wake[1], &c, 1);
    }
}

void ViewerLink::QueueKey(std::uint32_t keysym, bool down) {
    std::lock_guard lock(m_inputMutex);
    if (m_input.size() >= kMaxQueuedInput) return;  // the link has taken nothing for long: it is ending
    m_input.push_back(Input{true, keysym, down, 0, 0, 0, {}});
    if (m_input.size() == 1 && m_wake[1] >= 0) {
        const char c = 0;
        [[maybe_unused]] const ssize_t n = write(m_wake[1], &c, 1);
    }
}

bool ViewerLink::QueueText(std::string text) {
    if (text.empty() || text.size() > 4095) return false;
    std::lock_guard lock(m_inputMutex);
    if (m_input.size() >= kMaxQueuedInput) return false;  // the link has taken nothing for long
    m_input.push_back(Input{false, 0, false, 0, 0, 0, std::move(text)});
    if (m_input.size() == 1 && m_wake[1] >= 0) {
        const char c = 0;
        [[maybe_unused]] const ssize_t n = write(m_wake[1], &c, 1);
    }
    return true;
}

void ViewerLink::QueueClipboard(std::string wireText) {
    std::lock_guard lock(m_inputMutex);
    const bool wake = m_input.empty() && !m_clipboardOut;
    m_clipboardOut = std::move(wireText);
    if (wake && m_wake[1] >= 0) {
        const char c = 0;
        [[maybe_unused]] const ssize_t n = write(m_wake[1], &c, 1);
    }
}

std::optional<QString> ViewerLink::TakeClipboard() {
    std::lock_guard lock(m_stateMutex);
    return std::exchange(m_clipboardIn, std::nullopt);
}

std::vector<std::string> ViewerLink::TakeTexts() {
    std::lock_guard lock(m_stateMutex);
    m_textPending = false;
    return std::exchange(m_texts, {});
}

QRegion ViewerLink::TakeDirty(bool* resized, QSize* size) {
    std::lock_guard lock(m_stateMutex);
    const QRegion dirty = m_dirty;
    if (resized) *resized = m_resized;
    if (size) *size = m_size;
    m_dirty = QRegion();
    m_resized = false;
    return dirty;
}

void ViewerLink::FrameShown() {
    std::lock_guard lock(m_stateMutex);
    m_framePending = false;
    m_shown.notify_all();
}

void ViewerLink::PaintMissed() {
    std::lock_guard lock(m_stateMutex);
    m_paintMissed = true;
}

void ViewerLink::AwaitShown() {
    std::unique_lock lock(m_stateMutex);
    if (m_paintMissed && !m_framePending) {
        // The owner could not paint during the message: let it paint now.
        m_paintMissed = false;
        m_framePending = true;
        lock.unlock();
        Report(Event::Frame);
        lock.lock();
    }
    m_paintMissed = false;
    m_shown.wait_for(lock, std::chrono::milliseconds(50), [this] { return !m_framePending || m_stop; });
}

void ViewerLink::Run() {
    // A write to a link that the peer has reset fails with EPIPE instead of ending the process.
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);

    Impl impl;
    impl.link = this;
    const Settings& s = m_settings;
    const auto deadline = Clock::now() + std::chrono::milliseconds(s.connectTimeoutMs);
    int fd = -1;
    if (s.acceptedSocket >= 0) {
        fd = s.acceptedSocket;
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);  // as a socket connected out
    } else if (!s.host.empty() && s.port >= 1 && s.port <= 65535 && !m_stop) {
        fd = ConnectSocket(s.host, s.port, m_wake[0], deadline);
    }
    std::shared_ptr<void> keep;  // what the wrapped descriptor needs; dropped once the client is down
    if (fd >= 0 && s.wrap && s.acceptedSocket < 0) {
        TuneSocket(fd, s.readTimeoutS);  // the network's socket, which the wrap keeps
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        std::string why;
        fd = s.wrap(
            fd, [this] { return m_stop.load(); }, keep, why);
        if (fd < 0)
            qCInfo(lcViewer, "link to %s:%d refused: %s", s.host.c_str(), s.port, why.c_str());
        else
            fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);  // as a socket connected out
    }
    bool endedByItself = false;
    if (fd < 0) {
        qCInfo(lcViewer, "no link to %s:%d", s.host.c_str(), s.port);
        if (!m_stop) Report(Event::Unreachable);
    } else {
        TuneSocket(fd, s.readTimeoutS);
        {
            std::lock_guard lock(m_wireMutex);
            m_wire = dup(fd);
            if (m_stop && m_wire >= 0) shutdown(m_wire, SHUT_RDWR);
        }
        qCInfo(lcViewer, "link to %s:%d made", s.host.c_str(), s.port);
        endedByItself = !impl.Setup(fd) || !impl.Serve();
        impl.Release();
        {
            std::lock_guard lock(m_wireMutex);
            if (m_wire >= 0) close(m_wire);
            m_wire = -1;
        }
        if (endedByItself && !m_stop) {
            qCInfo(lcViewer, "link to %s:%d ended", s.host.c_str(), s.port);
            Report(Event::Closed);
        }
    }
    impl.Release();
    keep.reset();
    std::lock_guard lock(m_doneMutex);
    m_done = true;
    m_doneSignal.notify_all();
}

}  // namespace pelio::components
