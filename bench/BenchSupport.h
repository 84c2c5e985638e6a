// Small helpers the benchmarks share: the memory and CPU time of a process tree and waiting for a
// condition while the event loop runs.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <cstring>
#include <functional>
#include <vector>

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

}  // namespace pelio::bench
