// Side-by-side figures for the FTP client: a 30 MB upload and download on loopback through clsFTP
// (chunked, with its progress events handled) and through curl (-T / -o), against the same server, in
// turns. Two servers are measured: pyftpdlib and vsftpd, each started on a free port of 127.0.0.1.
//
// Each transfer runs in a process of its own: clsFTP in a child of this program ("client" mode), curl
// as itself. Throughput is each client's own measure of its transfer (connect, login and data; not the
// process start): clsFTP's clock around OpenConnection and the transfer, curl's time_total. Memory is
// the client process's peak resident set (wait4), and for clsFTP also how much it grew during the
// transfer, which one chunk buffer bounds whatever the file's size.
//
//   pelio-ftp-bench [ROUNDS]          (default 5 rounds; prints medians)
#include "BenchSupport.h"
#include "transfer/clsFTP.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

using pelio::transfer::clsFTP;

namespace {

using pelio::bench::Median;
using pelio::bench::StatusKb;

constexpr qint64 kFileBytes = 30LL * 1000 * 1000;

// "client put|get SERVER USER PASSWORD LOCAL REMOTE": one transfer; prints "seconds grownKb".
int Client(char** argv) {
    clsFTP ftp;
    ftp.SetMode(false);
    qint64 events = 0;
    QObject::connect(&ftp, &clsFTP::FileTransferProgress, [&](qint32, qint32, qint32) { ++events; });
    QElapsedTimer clock;
    clock.start();
    bool ok = ftp.OpenConnection(QString::fromLocal8Bit(argv[3]), QString::fromLocal8Bit(argv[4]),
                                 QString::fromLocal8Bit(argv[5]));
    const qint64 before = StatusKb("VmHWM:");  // the connection is up: what the transfer adds from here
    if (ok && std::strcmp(argv[2], "put") == 0)
        ok = ftp.FTPUploadFile(QString::fromLocal8Bit(argv[6]), QString::fromLocal8Bit(argv[7]));
    else if (ok)
        ok = ftp.FTPDownloadFile(QString::fromLocal8Bit(argv[6]), QString::fromLocal8Bit(argv[7]));
    const double seconds = clock.nsecsElapsed() / 1e9;
    if (!ok || events == 0) {
        std::fprintf(stderr, "clsFTP failed: %s\n", ftp.LastErrorMessage().toUtf8().constData());
        return 1;
    }
    std::printf("%.6f %lld\n", seconds, StatusKb("VmHWM:") - before);
    return 0;
}

struct Run {
    double seconds = 0;
    long peakKb = 0;
    long grownKb = -1;
};

// Runs a program, returns its own timing from its output and its peak memory.
Run Measure(const QString& program, const QStringList& args, bool curl) {
    std::vector<QByteArray> words{QFile::encodeName(program)};
    for (const QString& a : args) words.push_back(a.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    int out[2];
    if (pipe(out) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    QByteArray text;
    char buffer[256];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) text.append(buffer, n);
    close(out[0]);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    Run r;
    r.peakKb = usage.ru_maxrss;
    const QList<QByteArray> fields = text.simplified().split(' ');
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || fields.value(0).isEmpty()) {
        std::fprintf(stderr, "%s failed\n", qPrintable(program));
        return {};
    }
    r.seconds = fields.value(0).toDouble();
    if (!curl) r.grownKb = fields.value(1).toLong();
    return r;
}

struct Server {
    QString name, address, user, password;
    QProcess process;
    QTemporaryDir root;
    QTemporaryDir config;
};

bool Accepts(int port) {
    QTcpSocket s;
    s.connectToHost(QHostAddress::LocalHost, quint16(port));
    return s.waitForConnected(200);
}

bool StartPy(Server& s) {
    s.name = QStringLiteral("pyftpdlib");
    s.user = QStringLiteral("bench");
    s.password = QStringLiteral("bench");
    s.process.setProcessChannelMode(QProcess::MergedChannels);
    s.process.start(
        QStringLiteral("/usr/bin/python3"),
        {QStringLiteral("-m"), QStringLiteral("pyftpdlib"), QStringLiteral("-i"), QStringLiteral("127.0.0.1"),
         QStringLiteral("-p"), QStringLiteral("0"), QStringLiteral("-w"), QStringLiteral("-d"), s.root.path(),
         QStringLiteral("-u"), s.user, QStringLiteral("-P"), s.password});
    static const QRegularExpression started(QStringLiteral(R"(starting FTP server on 127\.0\.0\.1:(\d+))"));
    QByteArray log;
    for (int i = 0; i < 200; ++i) {
        s.process.waitForReadyRead(100);
        log += s.process.readAll();
        const auto m = started.match(QString::fromUtf8(log));
        if (m.hasMatch()) {
            s.address = QStringLiteral("127.0.0.1:") + m.captured(1);
            return true;
        }
    }
    return false;
}

bool StartVs(Server& s) {
    s.name = QStringLiteral("vsftpd");
    s.user = QStringLiteral("anonymous");
    s.password = QStringLiteral("x");
    QFile::setPermissions(s.root.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                             QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                             QFileDevice::WriteOther | QFileDevice::ExeOther);
    const int port = pelio::bench::FreePort();
    QFile conf(s.config.filePath(QStringLiteral("vsftpd.conf")));
    if (!conf.open(QIODevice::WriteOnly)) return false;
    conf.write(QStringLiteral(
                   "listen=YES\nbackground=NO\nlisten_address=127.0.0.1\nlisten_port=%1\n"
                   "run_as_launching_user=YES\nftp_username=nobody\nanonymous_enable=YES\nlocal_enable=NO\n"
                   "anon_root=%2\nno_anon_password=YES\nwrite_enable=YES\nanon_upload_enable=YES\n"
                   "anon_other_write_enable=YES\nanon_umask=022\nseccomp_sandbox=NO\n"
                   "connect_from_port_20=NO\n")
                   .arg(port)
                   .arg(s.root.path())
                   .toUtf8());
    conf.close();
    s.process.start(QStringLiteral("/usr/sbin/vsftpd"), {conf.fileName()});
    for (int i = 0; i < 100 && !Accepts(port); ++i) QThread::msleep(50);
    s.address = QStringLiteral("127.0.0.1:%1").arg(port);
    return Accepts(port);
}

long MedianL(std::vector<long> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 8 && std::strcmp(argv[1], "client") == 0) return Client(argv);
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const QString self = QCoreApplication::applicationFilePath();
    QTemporaryDir work;
    const QString upFile = work.filePath(QStringLiteral("up.bin"));
    {
        QFile f(upFile);
        f.open(QIODevice::WriteOnly);
        QByteArray block(1 << 20, Qt::Uninitialized);
        quint32 x = 12345;
        for (char& b : block) b = char(x = x * 1103515245u + 12345u);
        for (qint64 left = kFileBytes; left > 0; left -= block.size())
            f.write(block.constData(), std::min<qint64>(left, block.size()));
    }
    std::printf("%d rounds of a %lld-byte file each way, medians\n", rounds, kFileBytes);
    std::printf("%-10s %-6s %-9s %9s %10s %12s\n", "server", "way", "client", "MB/s", "peak KB", "grown KB");
    for (bool vs : {false, true}) {
        Server s;
        if (!(vs ? StartVs(s) : StartPy(s))) {
            std::fprintf(stderr, "%s did not start\n", qPrintable(s.name));
            continue;
        }
        const QString url = QStringLiteral("ftp://%1:%2@%3/").arg(s.user, s.password, s.address);
        for (const char* way : {"up", "down"}) {
            const bool up = std::strcmp(way, "up") == 0;
            std::vector<double> ours, theirs;
            std::vector<long> oursPeak, theirsPeak, oursGrown;
            for (int i = 0; i < rounds; ++i) {
                if (!up) QFile::copy(upFile, s.root.filePath(QStringLiteral("down.bin")));
                // Each client writes a new file; the files go between the measurements, and the two
                // clients take turns at going first.
                const QString oursLocal = work.filePath(QStringLiteral("ours.bin"));
                const QString theirsLocal = work.filePath(QStringLiteral("theirs.bin"));
                QFile::remove(oursLocal);
                QFile::remove(theirsLocal);
                const auto runOurs = [&] {
                    return Measure(
                        self,
                        {QStringLiteral("client"), up ? QStringLiteral("put") : QStringLiteral("get"),
                         s.address, s.user, s.password, up ? upFile : oursLocal,
                         up ? QStringLiteral("ours.bin") : QStringLiteral("down.bin")},
                        false);
                };
                const auto runCurl = [&] {
                    return Measure(QStringLiteral("curl"),
                                   up ? QStringList{QStringLiteral("-s"), QStringLiteral("-w"),
                                                    QStringLiteral("%{time_total}"), QStringLiteral("-T"),
                                                    upFile, url + QStringLiteral("theirs.bin")}
                                      : QStringList{QStringLiteral("-s"), QStringLiteral("-w"),
                                                    QStringLiteral("%{time_total}"), QStringLiteral("-o"),
                                                    theirsLocal, url + QStringLiteral("down.bin")},
                                   true);
                };
                Run a, b;
                if (i % 2 == 0) {
                    a = runOurs();
                    b = runCurl();
                } else {
                    b = runCurl();
                    a = runOurs();
                }
                if (a.seconds > 0)
                    ours.push_back(kFileBytes / 1e6 / a.seconds), oursPeak.push_back(a.peakKb),
                        oursGrown.push_back(a.grownKb);
                if (b.seconds > 0)
                    theirs.push_back(kFileBytes / 1e6 / b.seconds), theirsPeak.push_back(b.peakKb);
            }
            std::printf("%-10s %-6s %-9s %9.1f %10ld %12ld\n", qPrintable(s.name), way, "clsFTP",
                        Median(ours), MedianL(oursPeak), MedianL(oursGrown));
            std::printf("%-10s %-6s %-9s %9.1f %10ld %12s\n", qPrintable(s.name), way, "curl", Median(theirs),
                        MedianL(theirsPeak), "-");
        }
        pelio::bench::EndProcess(s.process);
    }
    return 0;
}
