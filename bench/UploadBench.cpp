// The whole path of a 30 MB file from the customer to the agent on loopback, side by side with curl.
//
// Ours: the chat window's upload run (UploadRun, without its one-second pause per file) puts the file
// into the FTP drop box (tools/dropbox/pelio-dropbox.py) and tells the agent where it is; the agent
// fetches it from the reference web service (pelio-service, userfiles/) with `curl -o`, as the peer
// does, so that only the program's part differs. The clock runs from the start of the run (the agent's
// acceptance) to the end of the agent's fetch. Peer: `curl -T` of the same file into the same drop box,
// then `curl -o` of it from the same web service, timed as processes. Rounds alternate; the remote copy is
// removed before each round, so every round really uploads. Memory: the peak resident set of this process
// (the run and the fetch; the servers are processes of their own).
//
//   pelio-upload-bench [ROUNDS]          (default 5 rounds; prints medians)
#include "BenchSupport.h"
#include "transfer/FileSend.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

using pelio::bench::Median;

constexpr qint64 kFileBytes = 30LL * 1000 * 1000;

// Starts a server process and reads the port from the line matching the pattern.
int StartServer(QProcess& process, const QString& program, const QStringList& args, const QString& pattern) {
    process.setProgram(program);
    process.setArguments(args);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start();
    const QRegularExpression line(pattern);
    QByteArray out;
    int port = 0;
    pelio::bench::Until(
        [&] {
            process.waitForReadyRead(50);
            out += process.readAll();
            const auto m = line.match(QString::fromUtf8(out));
            if (m.hasMatch()) port = m.captured(1).toInt();
            return port > 0 || process.state() == QProcess::NotRunning;
        },
        20000);
    return port;
}

double Seconds(const QElapsedTimer& clock) {
    return double(clock.nsecsElapsed()) / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    QTemporaryDir root, local;
    QFile file(local.filePath(QStringLiteral("payload.bin")));
    if (!file.open(QIODevice::WriteOnly)) return 1;
    QByteArray block(1 << 20, Qt::Uninitialized);
    quint32 x = 2463534242u;
    for (char& b : block) x ^= x << 13, x ^= x >> 17, x ^= x << 5, b = char(x);
    for (qint64 left = kFileBytes; left > 0; left -= block.size())
        file.write(block.constData(), std::min<qint64>(left, block.size()));
    file.close();

    QProcess dropBox, service;
    const int ftpPort = StartServer(
        dropBox, QStringLiteral("/usr/bin/python3"),
        {QStringLiteral(PELIO_DROPBOX_SCRIPT), QStringLiteral("--port"), QStringLiteral("0"),
         QStringLiteral("--root"), root.path(), QStringLiteral("--password"), QStringLiteral("pw")},
        QStringLiteral(R"(starting FTP server on 127\.0\.0\.1:(\d+))"));
    const int httpPort =
        StartServer(service, QStringLiteral(PELIO_SERVICE_EXECUTABLE),
                    {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--files"), root.path()},
                    QStringLiteral(R"(listening on 127\.0\.0\.1:(\d+))"));
    if (ftpPort <= 0 || httpPort <= 0) {
        std::fprintf(stderr, "servers did not start (ftp %d, http %d)\n", ftpPort, httpPort);
        return 1;
    }
    const QString remote = root.filePath(QStringLiteral("1234/payload.bin"));
    const QString address = QStringLiteral("http://127.0.0.1:%1/userfiles/1234/payload.bin").arg(httpPort);

    std::vector<double> ours, curl;
    for (int round = 0; round < rounds; ++round) {
        QFile::remove(remote);
        pelio::transfer::UploadRun::Job job;
        job.paths = {file.fileName()};
        job.dropBox = {
            QStringLiteral("127.0.0.1:%1").arg(ftpPort), QStringLiteral("pelio"), QStringLiteral("pw"), {}};
        job.deptCode = QStringLiteral("1234");
        job.roots.ServiceRoot = QStringLiteral("http://127.0.0.1:%1/").arg(httpPort);
        pelio::transfer::UploadRun run(job, 0);
        QElapsedTimer clock;
        bool fetched = false;
        QObject::connect(&run, &pelio::transfer::UploadRun::sendMessage, [&](const QString& message) {
            if (!message.startsWith(QLatin1String("downloadthis:"))) return;
            fetched = QProcess::execute(QStringLiteral("curl"),
                                        {QStringLiteral("-sf"), QStringLiteral("-o"),
                                         QStringLiteral("/dev/null"), message.mid(13)}) == 0;
        });
        clock.start();
        run.Run();
        const double seconds = Seconds(clock);
        if (!fetched) {
            std::fprintf(stderr, "round %d: our upload or the agent's fetch failed\n", round + 1);
            return 1;
        }
        ours.push_back(seconds);

        QFile::remove(remote);
        clock.restart();
        const int put = QProcess::execute(
            QStringLiteral("curl"),
            {QStringLiteral("-s"), QStringLiteral("--ftp-create-dirs"), QStringLiteral("-T"), file.fileName(),
             QStringLiteral("ftp://pelio:pw@127.0.0.1:%1/1234/").arg(ftpPort)});
        const int get = QProcess::execute(
            QStringLiteral("curl"),
            {QStringLiteral("-sf"), QStringLiteral("-o"), QStringLiteral("/dev/null"), address});
        if (put != 0 || get != 0) {
            std::fprintf(stderr, "round %d: curl failed (%d, %d)\n", round + 1, put, get);
            return 1;
        }
        curl.push_back(Seconds(clock));
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double mb = double(kFileBytes) / 1e6;
    std::printf("30 MB from the customer to the agent on loopback, median of %d rounds\n", rounds);
    std::printf("  ours (upload run + agent's fetch): %.3f s  %.1f MB/s\n", Median(ours), mb / Median(ours));
    std::printf("  curl -T + curl -o:                 %.3f s  %.1f MB/s\n", Median(curl), mb / Median(curl));
    std::printf("  ratio of throughput (ours / curl): %.2f\n", Median(curl) / Median(ours));
    std::printf("  peak RSS of this process: %ld MiB\n", usage.ru_maxrss / 1024);
    pelio::bench::EndProcess(dropBox);
    pelio::bench::EndProcess(service);
    return 0;
}
