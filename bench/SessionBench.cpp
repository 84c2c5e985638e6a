// The support session on loopback, on a private 1280x800 Xvfb, with the reference agent (pelio-agent):
//   connect: from the customer's connect request (after the question) until the agent prints the
//            customer's greeting; also until the agent has the first screen, measured side by side
//            with x11vnc making the same reverse connection to the same agent (from its start);
//   chat:    a 300-character chat line from the agent's \chat command until the session hands the
//            whole line to the chat window (the agent paces its pieces: 50 ms after the piece, 10 ms
//            before the end, as the customer's program does too).
// Usage: pelio-session-bench [ROUNDS]   (default 20); prints the median and the range of each.
#include "../tests/session/SessionDoubles.h"
#include "BenchSupport.h"
#include "app/AppContext.h"
#include "server/VncServerComponent.h"
#include "session/MessageDispatcher.h"
#include "session/SessionController.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

using namespace pelio;

using pelio::bench::Until;

namespace {

// A pelio-agent listening on a free port.
struct Agent {
    QProcess process;
    QByteArray out;
    int port = 0;
    Agent() {
        process.start(QStringLiteral(PELIO_AGENT_EXECUTABLE),
                      {QStringLiteral("listen"), QStringLiteral("0")});
        Until([&] { return Has("listening "); });
        const qsizetype at = out.indexOf("listening ");
        if (at >= 0) port = out.mid(at + 10, out.indexOf('\n', at) - at - 10).toInt();
    }
    ~Agent() {
        process.kill();
        process.waitForFinished(5000);
    }
    bool Has(const char* text) {
        out += process.readAllStandardOutput();
        return out.contains(text);
    }
};

void Report(const char* what, std::vector<double> ms) {
    if (ms.empty()) {
        std::printf("%-34s no measurement\n", what);
        return;
    }
    std::sort(ms.begin(), ms.end());
    std::printf("%-34s median %7.1f ms   min %7.1f   max %7.1f   (%zu rounds)\n", what, ms[ms.size() / 2],
                ms.front(), ms.back(), ms.size());
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    QProcess xvfb;
    xvfb.start("Xvfb", {"-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp"});
    xvfb.waitForReadyRead(10000);
    const QString display = QStringLiteral(":") + QString::fromLatin1(xvfb.readAllStandardOutput().trimmed());
    qputenv("DISPLAY", display.toLatin1());
    std::printf("1280x800 Xvfb %s, loopback, %d rounds\n", qPrintable(display), rounds);

    std::vector<double> greeting, screen, peerScreen, chat;
    const QString line(300, u'가');
    for (int round = 0; round < rounds; ++round) {
        {
            Agent agent;
            app::AppContext context;
            context.MachineCode = QStringLiteral("M");
            context.CustomerName = QStringLiteral("홍길동");
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
            session::MessageDispatcher dispatcher(
                context, controller, view, session::MessageDispatcher::Peers{peers, peers, peers, peers},
                QStringLiteral("http://127.0.0.1/"));
            controller.SetDispatcher(&dispatcher);
            controller.Prepare();

            QElapsedTimer timer;
            timer.start();
            controller.RequestConnect(
                {session::AgentChoice{QStringLiteral("김상담"), QString::number(agent.port),
                                      QStringLiteral("127.0.0.1"), QStringLiteral("127.0.0.1"), QString()},
                 QString()});
            bool greeted = false, screened = false;
            Until([&] {
                if (!greeted && agent.Has("greeting ")) {
                    greeted = true;
                    greeting.push_back(timer.nsecsElapsed() / 1e6);
                }
                if (!screened && agent.Has("screen ")) {
                    screened = true;
                    screen.push_back(timer.nsecsElapsed() / 1e6);
                }
                return greeted && screened;
            });
            if (!greeted) {
                std::fprintf(stderr, "round %d: no greeting\n%s\n", round, agent.out.constData());
                continue;
            }

            agent.process.write((QStringLiteral("\\chat ") + line + u'\n').toUtf8());
            timer.restart();
            if (Until([&] { return peers.calls.contains(QStringLiteral("agent-chat:") + line); }))
                chat.push_back(timer.nsecsElapsed() / 1e6);
            controller.EndByCustomer();
        }
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
            x11vnc.kill();
            x11vnc.waitForFinished(5000);
        }
    }
    Report("connect -> greeting (ours)", greeting);
    Report("connect -> first screen (ours)", screen);
    Report("start -> first screen (x11vnc)", peerScreen);
    Report("300-character chat line", chat);
    xvfb.terminate();
    xvfb.waitForFinished(5000);
    return 0;
}
