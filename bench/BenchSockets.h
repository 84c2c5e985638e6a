// Sockets of the server bench: connecting to a server that is starting, seeing that a viewer listens
// without connecting to it, and the bytes a socket has received.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>

#include <arpa/inet.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <thread>

namespace pelio::bench {

// A socket connected to 127.0.0.1:port, tried for ten seconds (the server is starting); -1 when none.
inline int ConnectTo(int port) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        if (fd < 0) return -1;
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(std::uint16_t(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return fd;
        close(fd);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return -1;
}

// Whether something listens on TCP `port` (from /proc/net/tcp and tcp6), seen without connecting: a
// viewer that listens for a server would take a probe for its server.
inline bool Listening(int port) {
    const QByteArray hexPort = QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        QFile file(QString::fromLatin1(table));
        if (!file.open(QIODevice::ReadOnly)) continue;
        for (const QByteArray& line : file.readAll().split('\n')) {
            const QList<QByteArray> fields = line.simplified().split(' ');
            if (fields.size() > 3 && fields[1].endsWith(":" + hexPort) && fields[3] == "0A") return true;
        }
    }
    return false;
}

// Bytes the viewer's socket has received: TCP's own count.
inline std::uint64_t TcpBytesReceived(int fd) {
    tcp_info info{};
    socklen_t length = sizeof info;
    return getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) == 0 ? info.tcpi_bytes_received : 0;
}

}  // namespace pelio::bench
