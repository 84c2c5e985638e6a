#include "WeakLink.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <deque>
#include <list>
#include <vector>

namespace pelio::bench {

namespace {

using Clock = std::chrono::steady_clock;

// What one read took in, and when it may leave (the link's one-way delay after it came).
struct Chunk {
    Clock::time_point due;
    std::vector<char> bytes;
    std::size_t sent = 0;
};

// One direction of a connection.
struct Direction {
    int from = -1, to = -1;
    std::atomic<std::uint64_t>* delivered = nullptr;
    std::deque<Chunk> queue;
    std::size_t queued = 0;  // bytes in the queue not yet sent
    double tokens = 0;       // bytes the rate allows now
    Clock::time_point refilled = Clock::now();
    bool ended = false;   // `from` has nothing more
    bool closed = false;  // and `to` has been told so
    bool failed = false;
    bool waitingRoom = false;  // `to` took no more: the poll waits until it can
};

struct Connection {
    Direction up, down;
};

void NonBlocking(int fd) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

int ConnectTo(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(std::uint16_t(port));
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return fd;
    if (fd >= 0) ::close(fd);
    return -1;
}

}  // namespace

WeakLink::WeakLink(Shape shape) : m_shape(shape) {}

WeakLink::~WeakLink() {
    if (m_thread.joinable()) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(m_wake, &one, sizeof one);
        m_thread.join();
    }
    if (m_listener >= 0) ::close(m_listener);
    if (m_wake >= 0) ::close(m_wake);
}

bool WeakLink::Start(int targetPort) {
    m_target = targetPort;
    m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
    m_wake = ::eventfd(0, EFD_NONBLOCK);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    if (m_listener < 0 || m_wake < 0 || ::bind(m_listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(m_listener, 8) != 0 ||
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&a), &length) != 0)
        return false;
    m_port = ntohs(a.sin_port);
    NonBlocking(m_listener);
    m_thread = std::thread([this] { Run(); });
    return true;
}

void WeakLink::Run() {
    const double rate = m_shape.bitsPerSecond / 8.0;  // bytes per second
    const auto oneWay = std::chrono::microseconds(m_shape.roundTripMs * 500);
    // The bucket holds 5 ms of the rate, and at least one full packet.
    const double burst = std::max(1448.0, rate * 0.005);
    std::list<Connection> connections;
    std::vector<char> buffer(64 * 1024);

    // Moves what it can in one direction; returns the time at which it can move more, if it waits
    // for the clock (due time or tokens).
    const auto step = [&](Direction& d, Clock::time_point now) -> Clock::time_point {
        d.tokens = std::min(burst, d.tokens + rate * std::chrono::duration<double>(now - d.refilled).count());
        d.refilled = now;
        d.waitingRoom = false;
        Clock::time_point wake = Clock::time_point::max();
        while (!d.failed && !d.queue.empty()) {
            Chunk& c = d.queue.front();
            if (c.due > now) {
                wake = c.due;
                break;
            }
            const std::size_t left = c.bytes.size() - c.sent;
            const std::size_t allowed = std::min<std::size_t>(left, std::size_t(d.tokens));
            if (allowed < std::min<std::size_t>(left, 1448)) {
                const double need = double(std::min<std::size_t>(left, 1448)) - d.tokens;
                wake = now + std::chrono::microseconds(std::int64_t(need / rate * 1e6) + 1);
                break;
            }
            const ssize_t n = ::send(d.to, c.bytes.data() + c.sent, allowed, MSG_DONTWAIT | MSG_NOSIGNAL);
            if (n < 0) {
                if (errno == EAGAIN)
                    d.waitingRoom = true;  // the poll waits for room
                else if (errno != EINTR)
                    d.failed = true;
                break;
            }
            c.sent += std::size_t(n);
            d.queued -= std::size_t(n);
            d.tokens -= double(n);
            *d.delivered += std::uint64_t(n);
            if (c.sent == c.bytes.size()) d.queue.pop_front();
        }
        if (d.ended && d.queue.empty() && !d.closed) {
            ::shutdown(d.to, SHUT_WR);
            d.closed = true;
        }
        return wake;
    };

    while (true) {
        const auto now = Clock::now();
        Clock::time_point wake = Clock::time_point::max();
        for (Connection& c : connections)
            for (Direction* d : {&c.up, &c.down}) wake = std::min(wake, step(*d, now));
        connections.remove_if([](Connection& c) {
            const bool done = c.up.failed || c.down.failed || (c.up.closed && c.down.closed);
            if (done) {
                ::close(c.up.from);
                ::close(c.up.to);
            }
            return done;
        });

        std::vector<pollfd> fds{{m_wake, POLLIN, 0}, {m_listener, POLLIN, 0}};
        std::vector<Direction*> directions;
        for (Connection& c : connections)
            for (Direction* d : {&c.up, &c.down}) {
                // A descriptor nothing is awaited on is left out: its hang-up would wake the poll for ever.
                const bool reading = !d->ended && d->queued < kWindowBytes;
                fds.push_back({reading ? d->from : -1, POLLIN, 0});
                fds.push_back({d->waitingRoom ? d->to : -1, POLLOUT, 0});
                directions.push_back(d);
            }
        int timeout = -1;
        if (wake != Clock::time_point::max())
            timeout = int(std::clamp<std::int64_t>(
                std::chrono::duration_cast<std::chrono::milliseconds>(wake - Clock::now()).count() + 1, 0,
                1000));
        if (::poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) return;
        if (fds[0].revents) return;
        if (fds[1].revents & POLLIN) {
            for (int client; (client = ::accept(m_listener, nullptr, nullptr)) >= 0;) {
                const int target = ConnectTo(m_target);
                if (target < 0) {
                    ::close(client);
                    continue;
                }
                NonBlocking(client);
                NonBlocking(target);
                Connection& c = connections.emplace_back();
                c.up.from = c.down.to = client;
                c.up.to = c.down.from = target;
                c.up.delivered = &m_towards;
                c.down.delivered = &m_back;
            }
        }
        const auto arrived = Clock::now();
        for (std::size_t i = 0; i < directions.size(); ++i) {
            Direction& d = *directions[i];
            if (!(fds[2 + 2 * i].revents & (POLLIN | POLLHUP | POLLERR)) || d.ended) continue;
            const std::size_t room = std::min(buffer.size(), kWindowBytes - d.queued);
            const ssize_t n = ::recv(d.from, buffer.data(), room, MSG_DONTWAIT);
            if (n > 0) {
                d.queue.push_back({arrived + oneWay, std::vector<char>(buffer.data(), buffer.data() + n), 0});
                d.queued += std::size_t(n);
            } else if (n == 0) {
                d.ended = true;
            } else if (errno != EAGAIN && errno != EINTR) {
                d.ended = true;
                d.failed = true;
            }
        }
    }
}

}  // namespace pelio::bench
