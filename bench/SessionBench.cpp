// The support session on loopback, on a private 1280x800 Xvfb, with the reference agent (pelio-agent),
// each round once over a plain link and once over a TLS 1.3 link (the agent listening with --key, a
// key file that `pelio-agent keygen` made for the run in a temporary directory, and the customer's
// program given the pin it printed as the agent's pin in the list):
//   connect: from the customer's connect request (after the question) until the agent prints the
//            customer's greeting (target with TLS: under 300 ms); also until the agent has the first
//            screen, measured side by side with x11vnc making the same plain reverse connection to the
//            same agent (from its start);
//   chat:    a 300-character chat line from the agent's \chat command until the session hands the
//            whole line to the chat window (the agent paces its pieces: 50 ms after the piece, 10 ms
//            before the end, as the customer's program does too).
// Usage: pelio-session-bench [ROUNDS]   (default 20); prints the median and the range of each, and the
// TLS link's connect-to-greeting median against its target.
#include "../tests/session/SessionDoubles.h"
#include "BenchSupport.h"
#include "app/AppContext.h"
#include "server/VncServerComponent.h"
#include "session/MessageDispatcher.h"
#include "session/SessionController.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

using namespace pelio;

using pelio::bench::Until;

namespace {

// A pelio-agent listening on a free port; with a key file, for a TLS link with that key.
struct Agent {
    QProcess process;
    QByteArray out;
    int port = 0;
    explicit Agent(const QString& keyFile = QString()) {
        QStringList arguments{QStringLiteral("listen"), QStringLiteral("0")};
        if (!keyFile.isEmpty()) arguments << QStringLiteral("--key") << keyFile;
        process.start(QStringLiteral(PELIO_AGENT_EXECUTABLE), arguments);
        Until([&] { return Has("listening "); });
        const qsizetype at = out.indexOf("listening ");
        if (at >= 0) port = out.mid(at + 10, out.indexOf('\n', at) - at - 10).toInt();
    }
    ~Agent() { pelio::bench::EndProcess(process); }
    bool Has(const char* text) {
        out += process.readAllStandardOutput();
        return out.contains(text);
    }
};

void Report(const char* what, std::vector<double> ms) {
    if (ms.empty()) {
        std::printf("%-36s no measurement\n", what);
        return;
    }
    std::sort(ms.begin(), ms.end());
    std::printf("%-36s median %7.1f ms   min %7.1f   max %7.1f   (%zu rounds)\n", what, ms[ms.size() / 2],
                ms.front(), ms.back(), ms.size());
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    pelio::bench::PrivateXvfb xvfb;
    if (!xvfb.ok()) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return 1;
    }
    const QString display = xvfb.name();
    qputenv("DISPLAY", display.toLatin1());
    std::printf("1280x800 Xvfb %s, loopback, %d rounds\n", qPrintable(display), rounds);

    // The agent's key for the TLS rounds, and its pin as the service would list it.
    QTemporaryDir keyDir;
    const QString keyFile = keyDir.filePath(QStringLiteral("agent.key"));
    QProcess keygen;
    keygen.start(QStringLiteral(PELIO_AGENT_EXECUTABLE), {QStringLiteral("keygen"), keyFile});
    keygen.waitForFinished(10000);
    const QString pin = QString::fromLatin1(keygen.readAllStandardOutput().trimmed());
    if (keygen.exitCode() != 0 || pin.isEmpty()) {
        std::fprintf(stderr, "pelio-agent keygen failed: %s\n", keygen.readAllStandardError().constData());
        return 1;
    }
    std::printf("TLS rounds: agent key %s\n", qPrintable(pin));

    struct Figures {
        std::vector<double> greeting, screen, chat;
    };
    Figures plain, tls;
    std::vector<double> peerScreen;
    const QString line(300, u'가');
    // One session with a fresh agent: plain without a key file, TLS with one (and the pin).
    const auto session = [&](int round, const QString& agentKeyFile, const QString& agentPin,
                             Figures& figures) {
        Agent agent(agentKeyFile);
        app::AppContext context;
        context.MachineCode = QStringLiteral("M");
        context.CustomerName = QStringLiteral("홍길동");
        context.IniFile = keyDir.filePath(QStringLiteral("PelioRS.ini"));  // none: the default settings
        components::VncServerComponent component(display);
        session::test::RecordingView view;
        session::test::RecordingPeers peers;
        session::SessionController::Hooks hooks;
        hooks.waitResponsive = [](int ms) {
            QElapsedTimer t;
            t.start();
            Until([&] { return t.elapsed() >= ms; });
        };
        hooks.pumpEvents = [] { QCoreApplication::processEvents(); };
        session::SessionController controller(context, component, view, &peers, hooks);
        session::MessageDispatcher dispatcher(context, controller, view,
                                              session::MessageDispatcher::Peers{peers, peers, peers, peers},
                                              QStringLiteral("http://127.0.0.1/"));
        controller.SetDispatcher(&dispatcher);
        controller.Prepare();

        QElapsedTimer timer;
        timer.start();
        controller.RequestConnect(
            {session::AgentChoice{QStringLiteral("김상담"), QString::number(agent.port),
                                  QStringLiteral("127.0.0.1"), QStringLiteral("127.0.0.1"), agentPin},
             QString()});
        bool greeted = false, screened = false;
        Until([&] {
            if (!greeted && agent.Has("greeting ")) {
                greeted = true;
                figures.greeting.push_back(timer.nsecsElapsed() / 1e6);
            }
            if (!screened && agent.Has("screen ")) {
                screened = true;
                figures.screen.push_back(timer.nsecsElapsed() / 1e6);
            }
            return greeted && screened;
        });
        if (!greeted) {
            std::fprintf(stderr, "round %d (%s): no greeting\n%s\n", round,
                         agentPin.isEmpty() ? "plain" : "TLS", agent.out.constData());
            return;
        }
        if (!agentPin.isEmpty() && !agent.Has("secure ")) {
            std::fprintf(stderr, "round %d: the link was not TLS\n%s\n", round, agent.out.constData());
            figures.greeting.pop_back();
            if (screened) figures.screen.pop_back();
            return;
        }

        agent.process.write((QStringLiteral("\\chat ") + line + u'\n').toUtf8());
        timer.restart();
        if (Until([&] { return peers.calls.contains(QStringLiteral("agent-chat:") + line); }))
            figures.chat.push_back(timer.nsecsElapsed() / 1e6);
        controller.EndByCustomer();
    };
    for (int round = 0; round < rounds; ++round) {
        session(round, QString(), QString(), plain);
        session(round, keyFile, pin, tls);
        {
            Agent agent;
            QElapsedTimer timer;
            timer.start();
            QProcess x11vnc;
            x11vnc.start(QStringLiteral("x11vnc"),
                         {QStringLiteral("-display"), display, QStringLiteral("-connect_or_exit"),
                          QStringLiteral("127.0.0.1:%1").arg(agent.port), QStringLiteral("-nopw"),
                          QStringLiteral("-quiet"), QStringLiteral("-noxdamage"), QStringLiteral("-once")});
            if (Until([&] { return agent.Has("screen "); })) peerScreen.push_back(timer.nsecsElapsed() / 1e6);
            pelio::bench::EndProcess(x11vnc);
        }
    }
    Report("connect -> greeting (ours)", plain.greeting);
    Report("connect -> greeting (ours, TLS)", tls.greeting);
    Report("connect -> first screen (ours)", plain.screen);
    Report("connect -> first screen (ours, TLS)", tls.screen);
    Report("start -> first screen (x11vnc)", peerScreen);
    Report("300-character chat line", plain.chat);
    Report("300-character chat line (TLS)", tls.chat);
    if (!tls.greeting.empty() && !plain.greeting.empty()) {
        std::sort(plain.greeting.begin(), plain.greeting.end());
        std::sort(tls.greeting.begin(), tls.greeting.end());
        const double plainMedian = plain.greeting[plain.greeting.size() / 2];
        const double tlsMedian = tls.greeting[tls.greeting.size() / 2];
        std::printf("TLS connect -> greeting: median %.1f ms, %+.1f ms beside plain; target < 300 ms: %s\n",
                    tlsMedian, tlsMedian - plainMedian, tlsMedian < 300.0 ? "met" : "MISSED");
    }
    return 0;
}
