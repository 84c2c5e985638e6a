// Side-by-side figures for HttpDownload: a 30 MB file from pelio-service (a process of its own on a
// free port of 127.0.0.1) downloaded to a file by HttpDownload in this process, with its progress
// events handled on the event loop as a window would, and by `curl -s -o FILE URL`, in turns.
//
// Throughput is each client's own measure: HttpDownload from Start to its finished signal, curl its
// time_total (neither counts a process start). Medians of the rounds; the ratio is HttpDownload's
// throughput over curl's. Memory is this process's peak resident set (VmHWM) before the first and
// after the last download: what HttpDownload adds, whatever the file's size.
//
//   pelio-download-bench [ROUNDS]          (default 5 rounds)
#include "transfer/HttpDownload.h"

#include "BenchSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

using pelio::transfer::HttpDownload;

namespace {

using pelio::bench::Median;
using pelio::bench::StatusKb;

constexpr qint64 kFileBytes = 30LL * 1000 * 1000;

// One download by HttpDownload; seconds, or a negative number when it failed.
double Ours(const QString& url, const QString& target, qint64& events) {
    HttpDownload download(url, target);
    bool done = false, ok = false;
    QObject::connect(&download, &HttpDownload::progress, [&](qint64, qint64) { ++events; });
    QObject::connect(&download, &HttpDownload::finished, [&](bool good, const QString& text) {
        done = true;
        ok = good;
        if (!good) std::fprintf(stderr, "HttpDownload failed: %s\n", qPrintable(text));
    });
    // The event loop sleeps between events, as the program's does (a loop that polls would take a
    // core from the download).
    QEventLoop loop;
    QObject::connect(&download, &HttpDownload::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(120000, &loop, &QEventLoop::quit);
    QElapsedTimer clock;
    clock.start();
    download.Start();
    loop.exec();
    const double seconds = clock.nsecsElapsed() / 1e9;
    return ok && QFileInfo(target).size() == kFileBytes ? seconds : -1;
}

// One download by curl; its time_total, or a negative number when it failed.
double Curl(const QString& url, const QString& target) {
    QProcess curl;
    curl.start(QStringLiteral("curl"), {QStringLiteral("-s"), QStringLiteral("-o"), target,
                                        QStringLiteral("-w"), QStringLiteral("%{time_total}"), url});
    if (!curl.waitForFinished(120000) || curl.exitCode() != 0) {
        std::fprintf(stderr, "curl failed: %s\n", curl.readAllStandardError().constData());
        return -1;
    }
    return QFileInfo(target).size() == kFileBytes ? curl.readAllStandardOutput().trimmed().toDouble() : -1;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    QTemporaryDir work;
    const QString files = work.filePath(QStringLiteral("files"));
    QDir().mkpath(files + QStringLiteral("/1234"));
    {
        QFile big(files + QStringLiteral("/1234/big.bin"));
        if (!big.open(QIODevice::WriteOnly)) return 1;
        QByteArray block(1 << 20, Qt::Uninitialized);
        for (qint64 written = 0; written < kFileBytes; written += block.size()) {
            for (char& c : block) c = char(QRandomGenerator::global()->generate());
            big.write(block.constData(), std::min<qint64>(block.size(), kFileBytes - written));
        }
    }

    QProcess service;
    service.start(QStringLiteral(PELIO_SERVICE_EXECUTABLE),
                  {QStringLiteral("--host"), QStringLiteral("127.0.0.1"), QStringLiteral("--files"), files});
    static const QRegularExpression listening(QStringLiteral(R"(listening on ([0-9.]+:\d+))"));
    QString address;
    pelio::bench::Until(
        [&] {
            service.waitForReadyRead(50);
            const auto m = listening.match(QString::fromUtf8(service.readAllStandardOutput()));
            if (m.hasMatch()) address = m.captured(1);
            return !address.isEmpty() || service.state() == QProcess::NotRunning;
        },
        30000);
    if (address.isEmpty()) {
        std::fprintf(stderr, "pelio-service did not start\n");
        return 1;
    }
    const QString url = QStringLiteral("http://%1/userfiles/1234/big.bin").arg(address);
    const QString target = work.filePath(QStringLiteral("down.bin"));

    const qint64 before = StatusKb("VmHWM:");
    std::vector<double> ours, curl;
    qint64 events = 0;
    for (int i = 0; i < rounds; ++i) {
        QFile::remove(target);
        const double a = Ours(url, target, events);
        QFile::remove(target);
        const double b = Curl(url, target);
        if (a <= 0 || b <= 0) return 1;
        ours.push_back(a);
        curl.push_back(b);
        std::printf("round %d: HttpDownload %.3f s, curl %.3f s\n", i + 1, a, b);
    }
    const qint64 after = StatusKb("VmHWM:");
    pelio::bench::EndProcess(service);

    const double mb = kFileBytes / 1e6;
    const double oursRate = mb / Median(ours), curlRate = mb / Median(curl);
    std::printf("30 MB over loopback, median of %d:\n", rounds);
    std::printf("  HttpDownload  %8.1f MB/s  (%.3f s; %lld progress events in all)\n", oursRate, Median(ours),
                events);
    std::printf("  curl          %8.1f MB/s  (%.3f s)\n", curlRate, Median(curl));
    std::printf("  ratio         %8.2fx curl\n", oursRate / curlRate);
    std::printf("  peak RSS of this process: %lld KiB before the downloads, %lld KiB after\n", before, after);
    return 0;
}
