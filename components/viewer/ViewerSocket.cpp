#include "viewer/ViewerSocket.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>

namespace pelio::components {

namespace {

using Clock = std::chrono::steady_clock;

std::int64_t MsLeft(Clock::time_point deadline) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
}

// Waits for a non-blocking connect on fd; false on failure, time-out or a wake-up on wakeFd.
bool WaitConnected(int fd, int wakeFd, Clock::time_point deadline) {
    while (true) {
        const std::int64_t left = MsLeft(deadline);
        if (left <= 0) return false;
        pollfd fds[2] = {{fd, POLLOUT, 0}, {wakeFd, POLLIN, 0}};
        const int n = poll(fds, 2, int(left));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0 || fds[1].revents) return false;
        int error = 0;
        socklen_t length = sizeof error;
        return getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
    }
}

}  // namespace

// A connected non-blocking TCP socket to host:port, or -1.
int ConnectSocket(const std::string& host, int port, int wakeFd, Clock::time_point deadline) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0) return -1;
    int result = -1;
    for (addrinfo* a = found; a && result < 0 && MsLeft(deadline) > 0; a = a->ai_next) {
        const int fd = socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) continue;
        if (connect(fd, a->ai_addr, a->ai_addrlen) == 0 ||
            (errno == EINPROGRESS && WaitConnected(fd, wakeFd, deadline)))
            result = fd;
        else
            close(fd);
    }
    freeaddrinfo(found);
    return result;
}

// Low latency for input, and a dead peer noticed on an idle link (keep-alive) and on one that takes
// no data (user time-out).
void TuneSocket(int fd, int readTimeoutS) {
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
    const int idle = 15, interval = 5, count = 3;
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
    const unsigned userTimeout = unsigned(readTimeoutS) * 1000u;
    setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeout, sizeof userTimeout);
}

}  // namespace pelio::components
