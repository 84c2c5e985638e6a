#include "secure/TlsTunnel.h"
#include "secure/TlsTunnelImpl.h"

#include "secure/LinkLiveness.h"
#include "secure/SecureLog.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <fcntl.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
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

using Clock = TunnelClock;

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

}  // namespace

TlsTunnel::Impl::~Impl() {
    if (ssl) SSL_free(ssl);  // the socket BIO does not close the descriptor
    if (context) SSL_CTX_free(context);
    for (int fd : {net, relayEnd, plain, wake})
        if (fd >= 0) ::close(fd);
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
