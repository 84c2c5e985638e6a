// Small helpers the benchmarks share: the memory and CPU time of a process tree, waiting for a
// condition while the event loop runs, and what a benchmark starts and must leave behind clean: a
// free port, a private Xvfb, and its helper processes ended so that they can clean up.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStringList>

#include <algorithm>
#include <cstring>
#include <functional>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace pelio::bench {

// PSS of the process and all its descendants, in KiB (from /proc/PID/smaps_rollup).
inline qint64 PssKb(qint64 pid) {
    qint64 total = 0;
    QFile rollup(QStringLiteral("/proc/%1/smaps_rollup").arg(pid));
    if (rollup.open(QIODevice::ReadOnly))
        for (const QByteArray& line : rollup.readAll().split('\n'))
            if (line.startsWith("Pss:")) total += line.mid(4).trimmed().split(' ').value(0).toLongLong();
    QFile children(QStringLiteral("/proc/%1/task/%1/children").arg(pid));
    if (children.open(QIODevice::ReadOnly))
        for (const QByteArray& child : children.readAll().split(' '))
            if (!child.trimmed().isEmpty()) total += PssKb(child.trimmed().toLongLong());
    return total;
}

// User and system CPU time of the process and of its descendants that are still running, in seconds
// (from /proc/PID/stat).
inline double CpuSeconds(qint64 pid) {
    double total = 0;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (stat.open(QIODevice::ReadOnly)) {
        const QByteArray all = stat.readAll();
        // The fields after the command name in parentheses: utime and stime are the 12th and 13th.
        const QList<QByteArray> fields = all.mid(all.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 12)
            total =
                double(fields[11].toULongLong() + fields[12].toULongLong()) / double(sysconf(_SC_CLK_TCK));
    }
    QFile children(QStringLiteral("/proc/%1/task/%1/children").arg(pid));
    if (children.open(QIODevice::ReadOnly))
        for (const QByteArray& child : children.readAll().split(' '))
            if (!child.trimmed().isEmpty()) total += CpuSeconds(child.trimmed().toLongLong());
    return total;
}

// A field of /proc/self/status in KiB ("VmHWM:" is the peak resident set); 0 when it cannot be read.
inline qint64 StatusKb(const char* field) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(int(std::strlen(field))).trimmed().split(' ').value(0).toLongLong();
    return 0;
}

// The median of the values (the upper one of an even count); 0 for none.
inline double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// Runs the event loop until the condition holds; false after ms milliseconds without it.
inline bool Until(const std::function<bool()>& condition, int ms = 30000) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > ms) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
    }
    return true;
}

// A TCP port on 127.0.0.1 that nothing listens on now (the system picks it); 0 when none was had.
inline int FreePort() {
    const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    if (probe < 0) return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(probe);
    return port;
}

// Ends a helper process: SIGTERM first, so that it can remove what it made (Xvfb its socket and lock
// file, a server its files), and SIGKILL only when it has not ended within graceMs.
inline void EndProcess(QProcess& process, int graceMs = 5000) {
    if (process.state() == QProcess::NotRunning) return;
    process.terminate();
    if (!process.waitForFinished(graceMs)) {
        process.kill();
        process.waitForFinished(2000);
    }
}

// An Xvfb of its own on a display number it picks itself (-displayfd), for the life of the object;
// ended with SIGTERM so that no socket or lock file stays behind.
class PrivateXvfb {
  public:
    explicit PrivateXvfb(const QString& screen = QStringLiteral("1280x800x24")) {
        m_process.start(QStringLiteral("Xvfb"),
                        {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                         QStringLiteral("0"), screen, QStringLiteral("-nolisten"), QStringLiteral("tcp")});
        QByteArray number;
        QElapsedTimer timer;
        timer.start();
        while (!number.contains('\n') && timer.elapsed() < 10000 &&
               m_process.state() != QProcess::NotRunning) {
            m_process.waitForReadyRead(100);
            number += m_process.readAllStandardOutput();
        }
        if (number.contains('\n')) m_name = QStringLiteral(":") + QString::fromLatin1(number.trimmed());
    }
    ~PrivateXvfb() { EndProcess(m_process); }
    PrivateXvfb(const PrivateXvfb&) = delete;
    PrivateXvfb& operator=(const PrivateXvfb&) = delete;

    bool ok() const { return !m_name.isEmpty(); }
    // ":N"; empty when the server did not start.
    QString name() const { return m_name; }

  private:
    QProcess m_process;
    QString m_name;
};

}  // namespace pelio::bench
