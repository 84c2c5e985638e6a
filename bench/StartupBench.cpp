// Start-up of the program as a customer meets it: from the process start to the agent list filled,
// with a command line that carries the company code and the phone (so no entry window opens), against
// the reference web service on 127.0.0.1, on an Xvfb display of its own. One start to warm the caches,
// then RUNS timed starts: the median and the spread of the time, and the whole process tree's memory
// (PSS of the program and its browser-engine helpers, from /proc/PID/smaps_rollup) at the moment the
// list is filled.
//
//   pelio-startup-bench [RUNS]          (default 10)
#include "ReferenceService.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include "BenchSupport.h"

#include <algorithm>
#include <cstdio>
#include <vector>

using pelio::bench::PssKb;

namespace {

struct Start {
    double seconds = -1;
    qint64 pssKb = 0;
};

// Runs the program until it reports the list filled; the time and the memory then.
Start RunOnce(const QString& program, const QProcessEnvironment& env, const QString& folder) {
    QProcess p;
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(folder);
    p.setProcessChannelMode(QProcess::MergedChannels);
    QElapsedTimer clock;
    clock.start();
    p.start(program, {QStringLiteral("1234/Bench+Co/홍길동/010-1234-5678")});
    Start result;
    QByteArray out;
    while (clock.elapsed() < 60000 && p.state() != QProcess::NotRunning) {
        p.waitForReadyRead(5);
        out += p.readAll();
        if (out.contains("agent list filled")) {
            result.seconds = clock.nsecsElapsed() / 1e9;
            result.pssKb = PssKb(p.processId());
            break;
        }
    }
    if (result.seconds < 0) std::fprintf(stderr, "the program did not fill its list: %s\n", out.constData());
    pelio::bench::EndProcess(p);
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;

    // The reference service with one company and three agents.
    QJsonObject company{{QStringLiteral("status"), QStringLiteral("1")},
                        {QStringLiteral("name"), QStringLiteral("벤치 상사")}};
    QJsonArray agents;
    for (const char* status : {"상담중", "지원가능", "지원가능"})
        agents.append(QJsonObject{{QStringLiteral("name"), QStringLiteral("상담원")},
                                  {QStringLiteral("status"), QString::fromUtf8(status)},
                                  {QStringLiteral("publicAddress"), QStringLiteral("127.0.0.1")},
                                  {QStringLiteral("port"), QStringLiteral("18925")},
                                  {QStringLiteral("localAddress"), QStringLiteral("127.0.0.1")},
                                  {QStringLiteral("info"), QString()}});
    company.insert(QStringLiteral("agents"), agents);
    pelio::tools::ReferenceService service(
        QJsonObject{{QStringLiteral("companies"), QJsonObject{{QStringLiteral("1234"), company}}}});
    const int port = service.Start();
    if (port == 0) return 1;

    // The program runs from a folder of its own whose settings point at the service.
    QTemporaryDir folder;
    const QString program = folder.filePath(QStringLiteral("pelio"));
    QFile::copy(QStringLiteral(PELIO_EXECUTABLE), program);
    QFile ini(folder.filePath(QStringLiteral("PelioRS.ini")));
    ini.open(QIODevice::WriteOnly);
    ini.write(
        QStringLiteral("[Service]\nServiceRoot=http://127.0.0.1:%1/\nIpLookupRoot=http://127.0.0.1:%1/\n")
            .arg(port)
            .toUtf8());
    ini.close();

    // A display of its own.
    pelio::bench::PrivateXvfb xvfb;
    if (!xvfb.ok()) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return 1;
    }
    const QString display = xvfb.name();
    QTemporaryDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("pelio.request.info=true"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
    env.insert(QStringLiteral("HOME"), home.path());
    env.insert(QStringLiteral("PELIO_MESSAGE_LOG"), home.filePath(QStringLiteral("messages.log")));

    RunOnce(program, env, folder.path());  // warms the caches
    std::vector<double> seconds;
    std::vector<qint64> pss;
    for (int i = 0; i < runs; ++i) {
        const Start s = RunOnce(program, env, folder.path());
        if (s.seconds < 0) continue;
        seconds.push_back(s.seconds);
        pss.push_back(s.pssKb);
    }
    if (seconds.empty()) return 1;
    std::sort(seconds.begin(), seconds.end());
    std::sort(pss.begin(), pss.end());
    std::printf(
        "%zu warm starts to the agent list filled: median %.0f ms (min %.0f, max %.0f); "
        "whole-process PSS median %.1f MiB (min %.1f, max %.1f)\n",
        seconds.size(), seconds[seconds.size() / 2] * 1000, seconds.front() * 1000, seconds.back() * 1000,
        pss[pss.size() / 2] / 1024.0, pss.front() / 1024.0, pss.back() / 1024.0);
    return 0;
}
