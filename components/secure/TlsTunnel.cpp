#include "secure/TlsTunnel.h"

#include "secure/LinkLiveness.h"
#include "secure/SecureLog.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <fcntl.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace pelio::components::secure {

namespace {

using Clock = std::chrono::steady_clock;

// The TLS exporter's label for the check code: ours alone, so the code is worth nothing elsewhere.
constexpr char kCheckCodeLabel[] = "EXPORTER-pelio-check-code";
// Each direction holds this much; screen updates pass in few large writes.
constexpr std::size_t kBufferSize = 256 * 1024;
// A piece smaller than this from the caller is usually the first of a burst (a screen update leaves
// rectangle by rectangle, in dozens of small writes): the relay waits kGatherWait and takes what came
// meanwhile, again while more comes (at most kGatherWaits times), so that the burst goes out in few
// records and sends, with few wake-ups of this thread instead of one per write. The waits are all
// the delay it adds: 1.2 ms at most.
constexpr std::size_t kGatherBelow = 16 * 1024;
constexpr auto kGatherWait = std::chrono::microseconds(300);
constexpr int kGatherWaits = 4;
// How long a relay that has sent its TLS close waits for the peer's end before it closes.
constexpr auto kLinger = std::chrono::seconds(3);

int MsUntil(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return int(std::clamp<long long>(left, 0, 1 << 30));
}

// The first queued OpenSSL error as text, and the queue cleared.
std::string TakeOpenSslError() {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) return "no detail";
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

}  // namespace

struct TlsTunnel::Impl {
    ~Impl();

    bool client = true;
    Pin expected;              // the client's pin
    bool pinMismatch = false;  // the verify callback saw another key (tunnel thread)
    int timeoutMs = 10000;
    bool ready = false;  // Setup succeeded
    SSL_CTX* context = nullptr;
    SSL* ssl = nullptr;
    int net = -1;       // the network socket (tunnel thread once started)
    int relayEnd = -1;  // the relay's end of the pair (tunnel thread once started)
    int plain = -1;     // the caller's end, until taken
    int wake = -1;      // eventfd: Stop
    std::thread thread;

    std::mutex mutex;
    std::condition_variable changed;
    bool handshakeDone = false;
    bool finished = false;
    std::atomic<bool> lost{false};  // the relay ended on a lost network connection
    Failure failure = Failure::None;
    QString checkCode;

    // Guards each write to the plain side together with the count of what was written.
    mutable std::mutex countMutex;
    std::uint64_t delivered = 0;
    bool closedHere = false;  // the relay sent its close (tunnel thread)

    bool Setup(int socket, const AgentKey* key);
    void Run();
    Failure Handshake();
    QString ExportCheckCode();
    void Relay();
    void CloseGracefully();
    bool Woken() const;

    static int VerifyPin(int preverified, X509_STORE_CTX* store);
};

TlsTunnel::Impl::~Impl() {
    if (ssl) SSL_free(ssl);  // the socket BIO does not close the descriptor
    if (context) SSL_CTX_free(context);
    for (int fd : {net, relayEnd, plain, wake})
        if (fd >= 0) ::close(fd);
}

// Runs for the certificates of the server's chain; only the server's own (depth 0) counts, and it
// counts through its key's pin alone: errors about issuers, names or dates are no reason to refuse,
// a key with another pin is.
int TlsTunnel::Impl::VerifyPin(int, X509_STORE_CTX* store) {
    if (X509_STORE_CTX_get_error_depth(store) != 0) return 1;
    auto* ssl = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    auto* self = ssl ? static_cast<Impl*>(SSL_get_app_data(ssl)) : nullptr;
    if (!self) return 0;
    const std::optional<Pin> pin = PinOfCertificate(X509_STORE_CTX_get_current_cert(store));
    if (pin && *pin == self->expected) {
        X509_STORE_CTX_set_error(store, X509_V_OK);
        return 1;
    }
    self->pinMismatch = true;
    X509_STORE_CTX_set_error(store, X509_V_ERR_APPLICATION_VERIFICATION);
    return 0;
}

bool TlsTunnel::Impl::Setup(int socket, const AgentKey* key) {
    net = socket;
    if (net < 0) return false;
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return false;
    plain = pair[0];
    relayEnd = pair[1];
    wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0) return false;
    if (::fcntl(net, F_SETFL, ::fcntl(net, F_GETFL) | O_NONBLOCK) != 0 ||
        ::fcntl(relayEnd, F_SETFL, ::fcntl(relayEnd, F_GETFL) | O_NONBLOCK) != 0)
        return false;
    const int one = 1;
    ::setsockopt(net, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);  // the relay writes whole messages
    WatchLiveness(net);

    context = SSL_CTX_new(client ? TLS_client_method() : TLS_server_method());
    if (!context) return false;
    SSL_CTX_set_min_proto_version(context, TLS1_3_VERSION);
    SSL_CTX_set_max_proto_version(context, TLS1_3_VERSION);
    SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_OFF);
    SSL_CTX_set_options(context, SSL_OP_NO_TICKET);
    SSL_CTX_set_mode(context, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    if (client) {
        SSL_CTX_set_verify(context, SSL_VERIFY_PEER, VerifyPin);
    } else {
        if (!key || !key->IsValid() || SSL_CTX_use_certificate(context, key->Certificate()) != 1 ||
            SSL_CTX_use_PrivateKey(context, key->Key()) != 1 || SSL_CTX_check_private_key(context) != 1)
            return false;
        SSL_CTX_set_num_tickets(context, 0);
        SSL_CTX_set_verify(context, SSL_VERIFY_NONE, nullptr);
    }
    ssl = SSL_new(context);
    if (!ssl || SSL_set_fd(ssl, net) != 1) return false;
    SSL_set_app_data(ssl, this);
    SSL_set_read_ahead(ssl, 1);
    return true;
}

bool TlsTunnel::Impl::Woken() const {
    pollfd p{wake, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
}

void TlsTunnel::Impl::Run() {
    // A peer that resets the connection makes a write fail instead of ending the process.
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
    pthread_setname_np(pthread_self(), "pelio-tls");

    Failure result = Handshake();
    QString code;
    if (result == Failure::None) {
        code = ExportCheckCode();
        if (code.isEmpty()) result = Failure::System;
    }
    if (result != Failure::None)
        qCInfo(lcSecure, "handshake as %s failed: %s", client ? "client" : "server", FailureText(result));
    {
        std::lock_guard lock(mutex);
        failure = result;
        checkCode = code;
        handshakeDone = true;
    }
    changed.notify_all();
    if (result == Failure::None) Relay();
    // Before the caller can read the end: a lost connection, not one the peer closed. The state is
    // read while the network socket is still open and was never shut down by this side.
    if (result == Failure::None && !Woken() && !closedHere && ReadTcpEnd(net) == TcpEnd::Lost) {
        qCInfo(lcSecure, "relay: the network connection was lost");
        lost = true;
    }
    // The caller reads the end of the stream from here on.
    ::close(relayEnd);
    relayEnd = -1;
    ::close(net);
    net = -1;
    {
        std::lock_guard lock(mutex);
        finished = true;
    }
    changed.notify_all();
}

TlsTunnel::Failure TlsTunnel::Impl::Handshake() {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (true) {
        ERR_clear_error();
        const int result = client ? SSL_connect(ssl) : SSL_accept(ssl);
        if (result == 1) break;
        const int error = SSL_get_error(ssl, result);
        short events = 0;
        if (error == SSL_ERROR_WANT_READ) {
            events = POLLIN;
        } else if (error == SSL_ERROR_WANT_WRITE) {
            events = POLLOUT;
        } else {
            qCInfo(lcSecure, "handshake: %s", TakeOpenSslError().c_str());
            return pinMismatch ? Failure::PinMismatch : Failure::Handshake;
        }
        while (true) {
            const int left = MsUntil(deadline);
            if (left <= 0) return Failure::Timeout;
            pollfd p[2] = {{net, events, 0}, {wake, POLLIN, 0}};
            const int n = ::poll(p, 2, left);
            if (n < 0 && errno != EINTR) return Failure::System;
            if (p[1].revents) return Failure::Cancelled;
            if (n > 0) break;
        }
    }
    // The callback has checked the key already; this holds even if it were never asked.
    if (client) {
        const std::optional<Pin> pin = PinOfCertificate(SSL_get0_peer_certificate(ssl));
        if (!pin || !(*pin == expected)) return Failure::PinMismatch;
    }
    return Failure::None;
}

QString TlsTunnel::Impl::ExportCheckCode() {
    unsigned char bytes[4];
    if (SSL_export_keying_material(ssl, bytes, sizeof bytes, kCheckCodeLabel, std::strlen(kCheckCodeLabel),
                                   nullptr, 0, 0) != 1) {
        ERR_clear_error();
        return QString();
    }
    const std::uint32_t value = (std::uint32_t(bytes[0]) << 24 | std::uint32_t(bytes[1]) << 16 |
                                 std::uint32_t(bytes[2]) << 8 | bytes[3]) %
                                1000000u;
    return QStringLiteral("%1 %2")
        .arg(value / 1000, 3, 10, QLatin1Char('0'))
        .arg(value % 1000, 3, 10, QLatin1Char('0'));
}

// Moves bytes both ways until one side ends. `down` holds decrypted bytes on their way to the plain
// side, `up` plain bytes on their way into TLS; each is filled only when empty, and a full one stops
// the reading on its side, so a slow reader slows the writer on the other end instead of filling
// memory. OpenSSL is asked again for what it needs (reading or writing the socket) after each call
// that could not go on.
void TlsTunnel::Impl::Relay() {
    enum class Need { Nothing, Read, Write };
    std::vector<char> up(kBufferSize), down(kBufferSize);
    std::size_t upStart = 0, upEnd = 0, downStart = 0, downEnd = 0;
    Need readNeeds = Need::Nothing, writeNeeds = Need::Nothing;
    bool netDone = false;    // nothing more comes from the peer or can go to it
    bool plainDone = false;  // the caller has closed or shut its end for writing
    // Whether a call on each side may get somewhere: cleared when one would block, set again by the
    // poll (level-triggered, so nothing is missed). It spares the calls that would only say "not
    // yet", which were most of the relay's cost for small, frequent screen updates.
    bool tryRead = true, tryRecv = true, trySend = true, tryWrite = true;
    const auto needEvents = [](Need need) -> short {
        return need == Need::Read ? POLLIN : need == Need::Write ? POLLOUT : 0;
    };
    while (true) {
        bool progress = false;
        // Decrypt into an empty `down`.
        if (!netDone && downStart == downEnd && (tryRead || SSL_has_pending(ssl))) {
            downStart = downEnd = 0;
            readNeeds = Need::Nothing;
            while (downEnd < down.size()) {
                ERR_clear_error();
                const int n = SSL_read(ssl, down.data() + downEnd, int(down.size() - downEnd));
                if (n > 0) {
                    downEnd += std::size_t(n);
                    progress = true;
                    continue;
                }
                const int error = SSL_get_error(ssl, n);
                if (error == SSL_ERROR_WANT_READ) {
                    readNeeds = Need::Read;
                    tryRead = false;
                } else if (error == SSL_ERROR_WANT_WRITE) {
                    readNeeds = Need::Write;
                    tryRead = false;
                } else {
                    // The peer's close, the end of the connection, or a record that failed its check:
                    // what came before it was sound and is still delivered, nothing after.
                    if (error != SSL_ERROR_ZERO_RETURN)
                        qCInfo(lcSecure, "relay: reading failed: %s", TakeOpenSslError().c_str());
                    netDone = true;
                    progress = true;
                }
                break;
            }
        }
        // Deliver to the plain side.
        if (downStart < downEnd && trySend) {
            ssize_t n = 0;
            {
                std::lock_guard lock(countMutex);
                n = ::send(relayEnd, down.data() + downStart, downEnd - downStart,
                           MSG_DONTWAIT | MSG_NOSIGNAL);
                if (n > 0) delivered += std::uint64_t(n);
            }
            if (n > 0) {
                downStart += std::size_t(n);
                progress = true;
            } else if (n < 0 && errno == EAGAIN) {
                trySend = false;
            } else if (n < 0 && errno != EINTR) {
                qCDebug(lcSecure, "relay: the plain side is closed");
                return;
            }
        }
        if (netDone && downStart == downEnd) {
            qCDebug(lcSecure, "relay: the peer's side ended");
            return;
        }
        // Take what the caller wrote.
        if (!plainDone && !netDone && upStart == upEnd && tryRecv) {
            upStart = upEnd = 0;
            const ssize_t n = ::recv(relayEnd, up.data(), up.size(), MSG_DONTWAIT);
            if (n > 0) {
                upEnd = std::size_t(n);
                progress = true;
                for (int wait = 0; wait < kGatherWaits && upEnd < kGatherBelow; ++wait) {
                    std::this_thread::sleep_for(kGatherWait);
                    const ssize_t more = ::recv(relayEnd, up.data() + upEnd, up.size() - upEnd, MSG_DONTWAIT);
                    if (more <= 0) break;  // the burst is over
                    upEnd += std::size_t(more);
                }
                // Less than asked for: the pair is empty now (the poll says when it is not).
                tryRecv = upEnd == up.size();
            } else if (n < 0 && errno == EAGAIN) {
                tryRecv = false;
            } else if (n == 0 || errno != EINTR) {
                plainDone = true;
                progress = true;
            }
        }
        // Encrypt and send it.
        if (tryWrite) writeNeeds = Need::Nothing;
        while (!netDone && upStart < upEnd && tryWrite) {
            ERR_clear_error();
            const int n = SSL_write(ssl, up.data() + upStart, int(upEnd - upStart));
            if (n > 0) {
                upStart += std::size_t(n);
                progress = true;
                continue;
            }
            const int error = SSL_get_error(ssl, n);
            if (error == SSL_ERROR_WANT_READ) {
                writeNeeds = Need::Read;
                tryWrite = false;
            } else if (error == SSL_ERROR_WANT_WRITE) {
                writeNeeds = Need::Write;
                tryWrite = false;
            } else {
                qCInfo(lcSecure, "relay: sending failed: %s", TakeOpenSslError().c_str());
                netDone = true;
                progress = true;
            }
            break;
        }
        if (plainDone && upStart == upEnd && !netDone) {
            qCDebug(lcSecure, "relay: the plain side ended");
            closedHere = true;
            CloseGracefully();
            return;
        }
        if (progress) continue;

        short netEvents = 0, plainEvents = 0;
        if (!netDone && downStart == downEnd) netEvents |= needEvents(readNeeds);
        if (!netDone && upStart < upEnd) netEvents |= needEvents(writeNeeds);
        if (!plainDone && !netDone && upStart == upEnd) plainEvents |= POLLIN;
        if (downStart < downEnd) plainEvents |= POLLOUT;
        // A descriptor nothing is awaited on is left out: its hang-up would wake the poll for ever.
        pollfd p[3] = {{netEvents ? net : -1, netEvents, 0},
                       {plainEvents ? relayEnd : -1, plainEvents, 0},
                       {wake, POLLIN, 0}};
        if (::poll(p, 3, -1) < 0 && errno != EINTR) return;
        if (p[2].revents) {
            qCDebug(lcSecure, "relay: stopped");
            return;
        }
        // Any event on a side (ready, hung up, failed) is worth the calls that were waiting on it.
        if (p[0].revents) tryRead = tryWrite = true;
        if (p[1].revents) tryRecv = trySend = true;
    }
}

// Sends the TLS close and waits a little for the peer's end, taking what still comes: closing a socket
// with unread bytes resets the connection, and a reset can throw away what was sent last.
void TlsTunnel::Impl::CloseGracefully() {
    const auto deadline = Clock::now() + kLinger;
    while (true) {
        ERR_clear_error();
        const int result = SSL_shutdown(ssl);
        if (result >= 0) break;
        const int error = SSL_get_error(ssl, result);
        if (error != SSL_ERROR_WANT_WRITE && error != SSL_ERROR_WANT_READ) break;
        pollfd p[2] = {{net, short(error == SSL_ERROR_WANT_WRITE ? POLLOUT : POLLIN), 0}, {wake, POLLIN, 0}};
        if (::poll(p, 2, MsUntil(deadline)) <= 0 || p[1].revents) break;
    }
    ERR_clear_error();
    ::shutdown(net, SHUT_WR);
    char sink[16 * 1024];
    while (!Woken()) {
        const ssize_t n = ::recv(net, sink, sizeof sink, MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) break;
        if (n > 0) continue;
        pollfd p[2] = {{net, POLLIN, 0}, {wake, POLLIN, 0}};
        if (::poll(p, 2, MsUntil(deadline)) <= 0) break;
    }
}

const char* TlsTunnel::FailureText(Failure failure) {
    switch (failure) {
        case Failure::None:
            return "no failure";
        case Failure::System:
            return "the system or OpenSSL could not set the link up";
        case Failure::Handshake:
            return "the TLS handshake failed";
        case Failure::PinMismatch:
            return "the peer's key is not the pinned one";
        case Failure::Timeout:
            return "the TLS handshake took too long";
        case Failure::Cancelled:
            return "cancelled";
    }
    return "unknown";
}

TlsTunnel::TlsTunnel(std::unique_ptr<Impl> impl) : d(std::move(impl)) {}

TlsTunnel::~TlsTunnel() {
    Stop();
    if (d->thread.joinable()) d->thread.join();
}

std::unique_ptr<TlsTunnel> TlsTunnel::Start(std::unique_ptr<Impl> impl, const Options& options,
                                            Failure* failure) {
    const auto report = [failure](Failure f) {
        if (failure) *failure = f;
    };
    impl->timeoutMs = std::max(1, options.timeoutMs);
    std::unique_ptr<TlsTunnel> tunnel(new TlsTunnel(std::move(impl)));
    Impl& d = *tunnel->d;
    if (!d.ready) {
        qCInfo(lcSecure, "cannot set the link up: %s", TakeOpenSslError().c_str());
        report(Failure::System);
        return nullptr;
    }
    try {
        d.thread = std::thread([&d] { d.Run(); });
    } catch (const std::system_error&) {
        report(Failure::System);
        return nullptr;
    }
    std::unique_lock lock(d.mutex);
    while (!d.changed.wait_for(lock, std::chrono::milliseconds(100), [&d] { return d.handshakeDone; })) {
        lock.unlock();
        if (options.cancelled && options.cancelled()) tunnel->Stop();
        lock.lock();
    }
    const Failure result = d.failure;
    lock.unlock();
    report(result);
    if (result != Failure::None) return nullptr;
    return tunnel;
}

std::unique_ptr<TlsTunnel> TlsTunnel::Connect(int socket, const Pin& pin, const Options& options,
                                              Failure* failure) {
    auto impl = std::make_unique<Impl>();
    impl->client = true;
    impl->expected = pin;
    impl->ready = impl->Setup(socket, nullptr);
    return Start(std::move(impl), options, failure);
}

std::unique_ptr<TlsTunnel> TlsTunnel::Accept(int socket, const AgentKey& key, const Options& options,
                                             Failure* failure) {
    auto impl = std::make_unique<Impl>();
    impl->client = false;
    impl->ready = impl->Setup(socket, &key);
    return Start(std::move(impl), options, failure);
}

int TlsTunnel::TakePlainFd() {
    return std::exchange(d->plain, -1);
}

QString TlsTunnel::CheckCode() const {
    std::lock_guard lock(d->mutex);
    return d->checkCode;
}

void TlsTunnel::Stop() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(d->wake, &one, sizeof one);
}

bool TlsTunnel::WaitFinished(int ms) {
    std::unique_lock lock(d->mutex);
    return d->changed.wait_for(lock, std::chrono::milliseconds(std::max(ms, 0)),
                               [this] { return d->finished; });
}

bool TlsTunnel::Lost() const {
    return d->lost.load();
}

bool TlsTunnel::ReadCounters(int plainFd, std::uint64_t& delivered, std::uint64_t& taken) const {
    std::lock_guard lock(d->countMutex);
    int unread = 0;
    if (plainFd < 0 || ::ioctl(plainFd, SIOCINQ, &unread) != 0 || unread < 0) return false;
    delivered = d->delivered;
    taken = delivered >= std::uint64_t(unread) ? delivered - std::uint64_t(unread) : 0;
    return true;
}

}  // namespace pelio::components::secure
