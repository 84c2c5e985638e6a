// The links of the server component: the library's hooks, the connector thread of each Connect and
// the thread that sends the session's texts.
#include "secure/LinkLiveness.h"
#include "secure/TlsTunnel.h"
#include "server/ServerLog.h"
#include "server/VncServerImpl.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

namespace pelio::components {

namespace {

using Clock = std::chrono::steady_clock;

constexpr char BusyVersion[] = "RFB 000.000\n";
constexpr int VersionLength = 12;

thread_local Link* t_newLink = nullptr;

// The numeric address of a connected socket's peer, as the library writes it for its clients.
std::string PeerAddress(int fd) {
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    char host[NI_MAXHOST] = {};
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) != 0 ||
        getnameinfo(reinterpret_cast<sockaddr*>(&peer), length, host, sizeof host, nullptr, 0,
                    NI_NUMERICHOST) != 0)
        return std::string();
    return host;
}

}  // namespace

void ReleaseSocket(int fd) {
    shutdown(fd, SHUT_RDWR);
    char buffer[256];
    while (recv(fd, buffer, sizeof buffer, MSG_DONTWAIT) > 0) {
    }
}

// ---- library hooks (library threads) ----

rfbNewClientAction VncServerComponent::Impl::NewClient(rfbClientPtr cl) {
    Link* link = t_newLink;
    if (!link) return RFB_CLIENT_REFUSE;  // nobody but our own connector makes clients
    Impl* self = Of(cl);
    cl->clientData = link;
    cl->clientGoneHook = ClientGone;
    cl->clientFramebufferUpdateRequestHook = UpdateRequested;
    cl->viewOnly = self->viewOnly ? TRUE : FALSE;
    std::lock_guard lock(self->mutex);
    link->cl = cl;
    // A TLS link's address was taken from the network socket: the library sees the local pair only.
    if (link->address.empty()) link->address = cl->host ? cl->host : "";
    return RFB_CLIENT_ON_HOLD;
}

void VncServerComponent::Impl::ClientGone(rfbClientPtr cl) {
    Impl* self = Of(cl);
    Link* link = LinkOf(cl);
    if (!link) return;
    LinkState before = LinkState::Closed;
    bool lost = false;
    {
        std::unique_lock lock(self->mutex);
        link->Apply(LinkEvent::End, &before);
        self->changed.wait(lock, [&] { return !link->sending; });
        link->cl = nullptr;
        // Read while our descriptor still holds the connection: the library has closed its own without
        // shutting the connection down, so its state still tells the peer's close from a loss.
        if (!link->cut)
            lost =
                link->tunnel ? link->tunnel->Lost() : secure::ReadTcpEnd(link->wire) == secure::TcpEnd::Lost;
        // The library has closed its descriptor: the connection ends with ours.
        if (link->wire >= 0) close(link->wire);
        link->wire = -1;
    }
    self->changed.notify_all();
    cl->clientData = nullptr;
    if (before == LinkState::Running || before == LinkState::Ready) self->input.ReleaseAll();
    // Only a link that raised Connected raises Disconnected.
    if (self->stopping || !IsAnnounced(before)) return;
    const int index = link->index;
    if (lost) qCInfo(lcServer, "link %d: the connection was lost", index);
    self->Post([self, index, lost] {
        if (lost) self->lostLinks.insert(index);
        emit self->q->Disconnected(index);
    });
}

void VncServerComponent::Impl::UpdateRequested(rfbClientPtr cl, rfbFramebufferUpdateRequestMsg* request) {
    Impl* self = Of(cl);
    if (self->lossless) {
        cl->tightQualityLevel = -1;
        cl->turboQualityLevel = -1;
    }
    Link* link = LinkOf(cl);
    // The library has put the area in host order and clipped it to the screen.
    // A request held back waits with the library, which is handed no change for it until the link
    // has room (the capture loop asks Holding); one answered now has the screen grabbed for it.
    const bool now = !link || link->flow.OnRequest(cl, request->incremental != 0, request->x, request->y,
                                                   request->w, request->h);
    if (now && self->capture) {
        if (request->w > 0 && request->h > 0)
            UpdateFlow::AskAgain(cl, request->x, request->y, request->w, request->h);
        self->capture->Wake();
    }
    if (!link) return;
    {
        std::lock_guard lock(self->mutex);
        if (!link->Apply(LinkEvent::FirstRequest)) return;
        // Texts sent before any agent was admitted go to the first one.
        while (!self->pending.empty()) {
            link->outbox.push_back(std::move(self->pending.front()));
            self->pending.pop_front();
        }
    }
    self->changed.notify_all();
}

void VncServerComponent::Impl::AfterUpdate(rfbClientPtr cl, int) {
    Link* link = LinkOf(cl);
    Impl* self = Of(cl);
    if (link && link->flow.AfterUpdate(cl) && self->capture) self->capture->Wake();
}

void VncServerComponent::Impl::TextChat(rfbClientPtr cl, int length, char* text) {
    Link* link = LinkOf(cl);
    if (!link || !text || length <= 0 || length >= rfbTextMaxSize) return;  // controls carry no text
    const std::shared_ptr<TextBacklog> backlog = link->backlog;
    if (backlog->Cut()) return;  // the link is on its way out
    const std::string_view message(text, std::size_t(length));
    // A text sent before admission is dropped whole, with the pieces of it that come after.
    if (!link->InputAdmitted()) {
        link->assembler.Drop(message);
        return;
    }
    std::string complete;
    if (!link->assembler.Feed(message, complete)) return;
    Impl* self = Of(cl);
    const int index = link->index;
    if (!backlog->Add(complete.size())) {
        // The peer outran the UI thread. Shutting the socket and taking out what had arrived, here on
        // the thread that reads it, ends the library's reading at once: its next read finds the end
        // and the link ends as any other. The socket is then closed with a reset, so that a peer
        // blocked on a full window learns it at once. Only this thread closes the wire before Stop.
        qCInfo(lcServer, "link %d: texts outran the program; the link is closed", index);
        int wire = -1;
        {
            std::lock_guard lock(self->mutex);
            wire = link->wire;
            link->cut = true;
        }
        if (wire >= 0) {
            const linger reset{1, 0};
            setsockopt(wire, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
            ReleaseSocket(wire);
        }
        return;
    }
    const int bytes = int(complete.size());
    // The text waits as its bytes and becomes a QString (twice their size) only on the UI thread,
    // one at a time.
    const QByteArray utf8(complete.data(), qsizetype(complete.size()));
    self->Post([self, index, utf8, bytes, backlog] {
        if (backlog->Take(std::size_t(bytes)))
            emit self->q->TextReceived(index, QString::fromUtf8(utf8), bytes);
    });
}

void VncServerComponent::Impl::Pointer(int mask, int x, int y, rfbClientPtr cl) {
    Impl* self = Of(cl);
    Link* link = LinkOf(cl);
    if (!link || !link->InputAdmitted()) return;
    // The agent points into the area it is served: a monitor's begins at its origin on the desktop.
    const QPoint origin = self->capture ? self->capture->Origin() : QPoint();
    if (!self->viewOnly && !cl->viewOnly) self->input.Pointer(mask, x + origin.x(), y + origin.y());
    rfbDefaultPtrAddEvent(mask, x, y, cl);
}

void VncServerComponent::Impl::Key(rfbBool down, rfbKeySym keysym, rfbClientPtr cl) {
    Impl* self = Of(cl);
    Link* link = LinkOf(cl);
    if (!link || !link->InputAdmitted()) return;
    if (!self->viewOnly && !cl->viewOnly) self->input.Key(down != 0, std::uint32_t(keysym));
}

// ---- connecting (connector thread) ----

int VncServerComponent::Impl::ConnectSocket(const std::string& host, int port, Clock::time_point deadline) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || !found) return -1;
    int result = -1;
    for (addrinfo* ai = found; ai && result < 0 && !stopping; ai = ai->ai_next) {
        const int fd = socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai->ai_protocol);
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
        // A link that dies without an end is noticed within secure::kDeadLinkMs, also under TLS (the
        // tunnel relays on this socket).
        secure::WatchLiveness(result);
    }
    return result;
}

// Waits for the peer's 12-byte protocol version without taking it from the socket. 1: busy,
// 0: a version, -1: closed, stopped or too slow.
int VncServerComponent::Impl::PeekVersion(int fd) {
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

void VncServerComponent::Impl::RunConnector(Link* link, std::string host, int port,
                                            std::optional<secure::Pin> pin,
                                            std::shared_ptr<std::atomic<int>> result,
                                            QPointer<QEventLoop> loop) {
    auto report = [&](ConnectResult outcome) {
        result->store(outcome);
        QMetaObject::invokeMethod(
            q,
            [loop] {
                if (loop) loop->quit();
            },
            Qt::QueuedConnection);
    };
    auto fail = [&](const char* why, ConnectResult outcome = Failed) {
        qCInfo(lcServer, "link %d to %s:%d: %s", link->index, host.c_str(), port, why);
        std::lock_guard lock(mutex);
        link->Apply(LinkEvent::End);
        report(outcome);
    };
    // A viewer waits for the server to speak first. A peer that sends before that is not one, and a
    // few bytes waiting here would stall the library's protocol sniffing for ever.
    auto spokeFirst = [](int socket) {
        pollfd p{socket, POLLIN, 0};
        return poll(&p, 1, 0) > 0;
    };
    const auto deadline = Clock::now() + std::chrono::milliseconds(connectTimeoutMs);
    int fd = ConnectSocket(host, port, deadline);
    if (fd < 0) return fail("no connection");
    if (spokeFirst(fd)) {
        close(fd);
        return fail("the peer spoke first");
    }
    std::shared_ptr<secure::TlsTunnel> tunnel;
    std::string address;
    if (pin) {
        // TLS before the library sees the link: it gets the tunnel's plain socket, and nothing of RFB
        // is sent to a peer whose key is not the pinned one.
        address = PeerAddress(fd);
        secure::TlsTunnel::Options options;
        options.timeoutMs = std::max(
            1, int(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count()));
        options.cancelled = [this] { return stopping.load(); };
        secure::TlsTunnel::Failure why = secure::TlsTunnel::Failure::None;
        tunnel = secure::TlsTunnel::Connect(fd, *pin, options, &why);  // takes the socket
        // Stop cancels the handshake: that is no fault of the peer's.
        if (!tunnel)
            return fail(secure::TlsTunnel::FailureText(why),
                        why == secure::TlsTunnel::Failure::Cancelled ? Failed : Insecure);
        fd = tunnel->TakePlainFd();
        if (spokeFirst(fd)) {
            close(fd);
            return fail("the peer spoke first");
        }
    }
    {
        std::lock_guard lock(mutex);
        if (stopping || !link->Apply(LinkEvent::Up)) {
            close(fd);
            link->Apply(LinkEvent::End);
            report(Failed);
            return;
        }
        link->wire = fcntl(fd, F_DUPFD_CLOEXEC, 0);
        link->address = address;
        if (tunnel) link->checkCode = tunnel->CheckCode().toStdString();
        link->tunnel = std::move(tunnel);
    }
    t_newLink = link;
    rfbClientPtr cl = rfbNewClient(screen, fd);
    t_newLink = nullptr;
    if (!cl) return fail("refused by the library");
    report(Made);

    const int version = PeekVersion(fd);
    QString shownAddress, checkCode;
    {
        std::lock_guard lock(mutex);
        const bool up =
            version >= 0 && link->Apply(version == 1 ? LinkEvent::GreetedBusy : LinkEvent::Greeted);
        if (up)
            shownAddress = version == 1 ? QStringLiteral("0.0.0.0") : QString::fromStdString(link->address);
        checkCode = QString::fromStdString(link->checkCode);
    }
    if (shownAddress.isEmpty()) {
        qCInfo(lcServer, "link %d: no protocol version, or given up", link->index);
        rfbRefuseOnHoldClient(cl);
        return;
    }
    const int index = link->index;
    qCInfo(lcServer, "link %d: connected to %s%s", index, qPrintable(shownAddress),
           checkCode.isEmpty() ? "" : " over TLS");
    Post([this, index, shownAddress, checkCode] {
        connections[index] = new VncConnection(this, index, shownAddress, checkCode, q);
        emit q->Connected(index);
    });

    // On hold until admitted; a busy link stays on hold until it is closed.
    while (true) {
        {
            std::unique_lock lock(mutex);
            changed.wait_for(lock, std::chrono::milliseconds(100),
                             [&] { return stopping.load() || link->State() == LinkState::Admitted; });
            if (stopping) break;
            if (link->State() == LinkState::Admitted) {
                // Whatever the peer sent up to now was sent before admission.
                std::uint64_t received = 0, taken = 0;
                if (link->ReadCounters(received, taken)) link->admittedBytes = received;
                link->Apply(LinkEvent::Start);
                lock.unlock();
                // The reference keeps the client alive until its thread is known, however quickly the
                // peer leaves.
                rfbIncrClientRef(cl);
                rfbStartOnHoldClient(cl);
                const pthread_t thread = cl->client_thread;
                rfbDecrClientRef(cl);
                lock.lock();
                link->thread = thread;
                return;
            }
        }
        pollfd p{fd, POLLRDHUP, 0};
        if (poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR))) break;
    }
    rfbRefuseOnHoldClient(cl);
}

// ---- texts (sender thread) ----

void VncServerComponent::Impl::RunSender() {
    std::unique_lock lock(mutex);
    while (true) {
        Link* next = nullptr;
        changed.wait(lock, [&] {
            if (stopping) return true;
            for (auto& [index, link] : links)
                if (link->State() == LinkState::Ready && !link->sending &&
                    (!link->outbox.empty() || link->clipboard) && link->cl) {
                    next = link.get();
                    return true;
                }
            return false;
        });
        if (stopping) return;
        const bool isText = !next->outbox.empty();
        std::string message;
        if (isText) {
            message = std::move(next->outbox.front());
            next->outbox.pop_front();
        } else {
            message = std::move(*next->clipboard);
            next->clipboard.reset();
        }
        next->sending = true;
        rfbClientPtr cl = next->cl;
        const int wire = next->wire;
        lock.unlock();
        // Under the client's send lock, so that the message does not split a screen update; on our own
        // descriptor, since the library closes its own before the link's end waits for this write.
        pthread_mutex_lock(&cl->sendMutex);
        const bool sent = isText ? WriteTextMessage(wire, message) : WriteClipboard(*next, cl, wire, message);
        pthread_mutex_unlock(&cl->sendMutex);
        if (!sent) {
            // Part of a message may have gone: the stream is broken, the link ends.
            qCInfo(lcServer, "link %d: a text could not be sent", next->index);
            if (wire >= 0) shutdown(wire, SHUT_RDWR);
        }
        lock.lock();
        next->sending = false;
        changed.notify_all();
    }
}

bool VncServerComponent::Impl::WriteTextMessage(int fd, const std::string& text) {
    // RFB text chat: type 11, three bytes of padding, the length (big-endian), the text.
    const auto length = std::uint32_t(text.size());
    std::string message{char(rfbTextChat), 0,           0, 0, char(length >> 24), char(length >> 16),
                        char(length >> 8), char(length)};
    message += text;
    return WriteAll(fd, message);
}

bool VncServerComponent::Impl::WriteAll(int fd, const std::string& message) {
    std::size_t done = 0;
    while (fd >= 0 && done < message.size() && !stopping) {
        const ssize_t n = send(fd, message.data() + done, message.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            done += std::size_t(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd p{fd, POLLOUT, 0};
            poll(&p, 1, 100);
        } else {
            return false;
        }
    }
    return done == message.size();
}

// ---- commands (UI thread) ----

void VncServerComponent::Impl::Allow(int index) {
    {
        std::lock_guard lock(mutex);
        const auto it = links.find(index);
        if (it == links.end()) return;
        it->second->Apply(LinkEvent::Allow);
    }
    changed.notify_all();
}

void VncServerComponent::Impl::GiveUp(Link* link) {
    std::lock_guard lock(mutex);
    const LinkState state = link->State();
    if (!link->Apply(LinkEvent::GiveUp)) return;
    // A connector stuck on the peer inside the library returns once the socket is shut.
    if (state == LinkState::Greeting && link->wire >= 0) ReleaseSocket(link->wire);
}

void VncServerComponent::Impl::ReleaseHeld() {
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

void VncConnection::SetAllowed(bool allowed) {
    if (m_address == QLatin1String("0.0.0.0")) return;  // a busy agent's link is never admitted
    if (m_allowed || !allowed) {
        // Taking admission back is not supported: the agent already has the screen.
        m_allowed = m_allowed || allowed;
        return;
    }
    m_allowed = true;
    m_impl->Allow(m_index);
}

}  // namespace pelio::components
