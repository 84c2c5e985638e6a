#include "secure/LinkLiveness.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cerrno>

namespace pelio::components::secure {

namespace {

// An idle link is probed after kIdle seconds, then every kInterval seconds; the user time-out ends
// the link kUserTimeoutMs after the last byte the peer acknowledged or sent, whether data waits or
// only probes are out. Probes at 4, 6, 8, 10 s and the time-out at 10 s end a dead link by about
// 12 s, within kDeadLinkMs.
constexpr int kIdle = 4;
constexpr int kInterval = 2;
constexpr int kCount = 4;
constexpr unsigned kUserTimeoutMs = 10000;
static_assert(kIdle + kInterval * kCount <= kDeadLinkMs / 1000 &&
                  int(kUserTimeoutMs) + kInterval * 1000 <= kDeadLinkMs,
              "a dead link must be noticed within kDeadLinkMs");

}  // namespace

bool WatchLiveness(int fd) {
    const int one = 1, idle = kIdle, interval = kInterval, count = kCount;
    const unsigned timeout = kUserTimeoutMs;
    bool ok = setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one) == 0;
    ok = setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle) == 0 && ok;
    ok = setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval) == 0 && ok;
    ok = setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count) == 0 && ok;
    ok = setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &timeout, sizeof timeout) == 0 && ok;
    return ok;
}

TcpEnd ReadTcpEnd(int fd) {
    tcp_info info{};
    socklen_t length = sizeof info;
    if (fd < 0 || getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) != 0 || length < 1)
        return TcpEnd::Open;
    switch (info.tcpi_state) {
        case TCP_ESTABLISHED:
        case TCP_SYN_SENT:
        case TCP_SYN_RECV:
            return TcpEnd::Open;
        case TCP_CLOSE: {
            // A reset that follows the peer's FIN leaves EPIPE behind (the reader stopped at the FIN
            // and took no error); a reset or a time-out of an open link leaves ECONNRESET or
            // ETIMEDOUT, or nothing when the reader's failed read has taken it.
            int error = 0;
            socklen_t size = sizeof error;
            getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size);
            return error == EPIPE ? TcpEnd::Closed : TcpEnd::Lost;
        }
        default:
            // CLOSE_WAIT: the peer's FIN came; the others follow a FIN of one side or the other.
            return TcpEnd::Closed;
    }
}

}  // namespace pelio::components::secure
