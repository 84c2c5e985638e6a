// A soak of the whole session on a desktop (SessionOnDesktop): the built program in a session with a
// scripted agent that sends every message of the session protocol, in a random order at random
// moments, while the test acts as a customer who answers some message boxes at once, some late and
// some never, closes the program's windows, chats and clicks. All along the program must keep running,
// report nothing to a sanitizer, answer the window manager's ping from its main window within 2 s,
// and keep its resident memory bounded.
//
// Short mode (part of the normal suite, about 100 s, seed 1 unless PELIO_SOAK_SEED is given):
//   build/tests/e2e/pelio_e2e_tests --gtest_filter='*Soak*'
// Long mode, by hand, with the program built with AddressSanitizer (cmake -B build-asan -DPELIO_ASAN=ON,
// then cmake --build build-asan --target pelio); the test itself needs no sanitizer:
//   export PELIO_SOAK_SECONDS=1800 PELIO_SOAK_SEED=7 PELIO_TEST_EXECUTABLE=build-asan/src/pelio
//   build/tests/e2e/pelio_e2e_tests --gtest_filter='*Soak*'
// The seed is printed at the start and in every failure; PELIO_SOAK_SEED=N makes the same choices
// again (the timing of the peers still varies); a run with PELIO_SOAK_SECONDS and no seed takes one
// from the clock. PELIO_SOAK_GDB=1 runs the program under gdb, which prints every thread's stack when
// it crashes; PELIO_SOAK_VERBOSE=1 prints each step as it is taken.
//
// The customer never closes the main window on purpose. Should it close anyway (a stray key reaching
// its 종료 button) and the program end cleanly, the program is started again and the run goes on; the
// summary counts such ends. Any other end of the program fails the run.
#include "ScreenPixels.h"
#include "SessionSoak.h"

#include <gtest/gtest.h>
#include <QUrl>

#include <iostream>

#include <signal.h>

namespace pelio::test {

void SessionSoak::Note(const QString& step) {
    const QString line = QStringLiteral("[%1 s] %2").arg(Now() / 1000.0, 0, 'f', 1).arg(step);
    recent.push_back(line);
    if (recent.size() > 40) recent.pop_front();
    if (verbose) std::cerr << "soak " << line.toStdString() << std::endl;
}

// A fault the run goes on after (with the program started again); Fail ends the run.
void SessionSoak::Report(const QString& what, const QByteArray& evidence) {
    QString steps;
    for (const QString& line : recent) steps += line + u'\n';
    const QStringList shown = Messages().split(u'\n', Qt::SkipEmptyParts);
    const QString lastBoxes = shown.mid(std::max<qsizetype>(0, shown.size() - 6)).join(u'\n');
    ADD_FAILURE() << "soak seed " << seed << " (PELIO_SOAK_SEED=" << seed << "), at " << Now() / 1000
                  << " s: " << what.toStdString() << "\nlast steps:\n"
                  << steps.toStdString() << "windows: " << DesktopTitles().join(u'|').toStdString()
                  << "\nlast message boxes:\n"
                  << lastBoxes.toStdString() << "\n"
                  << evidence.constData();
}

void SessionSoak::Fail(const QString& what, const QByteArray& evidence) {
    failed = true;
    Report(what, evidence);
}

void SessionSoak::Launch() {
    QProcessEnvironment env = DesktopEnvironment();
    // The browser engine's own code frees some objects through a base of another size (a page's
    // teardown, seen with Qt WebEngine 6.4): that report is not about this program.
    env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0:new_delete_type_mismatch=0:") +
                                                   env.value(QStringLiteral("ASAN_OPTIONS")));
    env.insert(QStringLiteral("UBSAN_OPTIONS"), QStringLiteral("print_stacktrace=1"));
    program = &Start({kCustomer}, env);
    program->waitForStarted(10000);
    programStartedAt = Now();
    boxes.clear();
    current = nullptr;
    askedAtPress = -1;
    downSince = Now();
    nextRequestAt = Now();
    Note(QStringLiteral("program started"));
}

qint64 SessionSoak::ProgramPid() const {
    const qint64 pid = program->processId();
    if (!underGdb) return pid;
    // Under gdb: its child.
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!entry.front().isDigit() || !stat.open(QIODevice::ReadOnly)) continue;
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields[1].toLongLong() == pid) return entry.toLongLong();
    }
    return 0;
}

QByteArray SessionSoak::MainThreadStack() {
    if (underGdb) {
        // gdb stops the program at the interrupt, prints every stack and ends.
        if (const qint64 pid = ProgramPid()) ::kill(pid_t(pid), SIGINT);
        program->waitForFinished(60000);
        return program->readAllStandardOutput().right(30000);
    }
    QProcess gdb;
    gdb.start(
        QStringLiteral("gdb"),
        {QStringLiteral("-q"), QStringLiteral("-batch"), QStringLiteral("-p"), QString::number(ProgramPid()),
         QStringLiteral("-ex"), QStringLiteral("thread 1"), QStringLiteral("-ex"), QStringLiteral("bt 60")});
    gdb.waitForFinished(60000);
    return "main thread:\n" + gdb.readAllStandardOutput().right(20000);
}

// False (after reporting) when the program ended badly, a sanitizer spoke, or the main window hangs.
bool SessionSoak::Healthy() {
    log += program->readAllStandardError();
    static const char* const reports[] = {"ERROR: AddressSanitizer", "runtime error:", "ERROR: LeakSanitizer",
                                          "Sanitizer:DEADLYSIGNAL"};
    for (const char* report : reports) {
        if (log.indexOf(report, std::max<qsizetype>(0, scanned - 64)) >= 0) {
            program->waitForFinished(5000);
            log += program->readAllStandardError();
            Fail(QStringLiteral("a sanitizer report"), log.right(20000));
            return false;
        }
    }
    scanned = log.size();
    if (program->state() != QProcess::Running) return HandleEnd();
    return Now() < nextHealthAt || CheckHealth();
}

bool SessionSoak::CheckHealth() {
    nextHealthAt = Now() + 2000;
    std::optional<TitledWindow> main;
    for (const TitledWindow& window : TitledWindows())
        if (window.title.startsWith(kMainTitle)) main = window;
    if (!main) {
        // Minimised or hidden with the desktop, it is still there; gone is a fault.
        if (++mainMissing >= 3 && Now() - programStartedAt > 15000) {
            Fail(QStringLiteral("the program runs without its main window"));
            return false;
        }
    } else {
        mainMissing = 0;
        if (!AnswersPingOf(main->id, 2000)) {
            ++slowPings;
            Note(QStringLiteral("the main window did not answer a ping within 2 s"));
            if (!AnswersPingOf(main->id, 2000)) {
                Fail(QStringLiteral("the main window did not answer two pings in a row, 2 s each"),
                     MainThreadStack());
                return false;
            }
        }
    }
    const qint64 kib = ResidentKiB(ProgramPid());
    peakKiB = std::max(peakKiB, kib);
    if (!baselineKiB && Now() - programStartedAt >= 60000) baselineKiB = kib;
    const qint64 bound = baselineKiB ? baselineKiB * 3 / 2 + 512 * kMiB : 1536 * kMiB;
    if (kib > bound) {
        Fail(QStringLiteral("resident memory %1 MiB is over the bound of %2 MiB")
                 .arg(kib / kMiB)
                 .arg(bound / kMiB));
        return false;
    }
    return true;
}

bool SessionSoak::HandleEnd() {
    log += program->readAllStandardError();
    const QByteArray out = program->readAllStandardOutput();  // gdb's report
    const bool clean = program->exitStatus() == QProcess::NormalExit && program->exitCode() == 0 &&
                       (!underGdb || out.contains("exited normally"));
    if (!clean) {
        Fail(QStringLiteral("the program ended: %1, status %2")
                 .arg(program->exitStatus() == QProcess::CrashExit ? QStringLiteral("crash")
                                                                   : QStringLiteral("exit"))
                 .arg(program->exitCode()),
             out.right(30000) + "\nstandard error:\n" + log.right(12000));
        return false;
    }
    ++cleanEnds;
    Note(QStringLiteral("the program ended cleanly (its main window closed): started again"));
    std::cerr << "soak seed " << seed << ": the program ended cleanly; last steps:\n";
    for (const QString& line : recent) std::cerr << line.toStdString() << "\n";
    Launch();
    return true;
}

SoakAgent& SessionSoak::NewAgent(int port, const QStringList& options) {
    agents.push_back(std::make_unique<SoakAgent>(port, options));
    return *agents.back();
}

void SessionSoak::TrackAgents() {
    SoakAgent* live = nullptr;  // the newest agent greeted and still linked
    for (const auto& a : agents) {
        if (a->Greeted() && !a->Gone()) live = a.get();
        if (a->Connected() && a->connectedAt < 0) a->connectedAt = Now();
        // A link that never became a session (or a busy agent) must not hold the program for ever.
        const bool stale = a->connectedAt >= 0 && !a->Greeted() && Now() - a->connectedAt > 30000;
        if (a->Running() && ((a->killAt >= 0 && Now() >= a->killAt) || (stale && !a->busy))) {
            Note(QStringLiteral("agent :%1 dropped (%2)")
                     .arg(a->port)
                     .arg(a->busy ? QStringLiteral("busy") : QStringLiteral("connected but never greeted")));
            a->Kill();
        }
    }
    if (live != current) {
        if (live) {
            ++sessions;
            askedAtPress = -1;
            Note(QStringLiteral("session with agent :%1").arg(live->port));
        } else {
            Note(QStringLiteral("session over"));
            downSince = Now();
            nextRequestAt = Now() + Between(1000, 8000);
        }
        current = live;
    }
    std::erase_if(agents, [&](const auto& a) { return !a->Running() && a.get() != current; });
    // An agent always waits at the port the service lists.
    bool waiting = false;
    for (const auto& a : agents) waiting = waiting || (a->port == listedPort && a->Listening());
    if (!waiting && Now() >= nextStandbyAt) {
        nextStandbyAt = Now() + 1000;
        SoakAgent& standby = NewAgent(listedPort, {QStringLiteral("--screen"), agentScreen.name()});
        if (standby.port != listedPort) Note(QStringLiteral("no agent could listen on the listed port yet"));
    }
}

void SessionSoak::Say(const QString& kind, const QString& line) {
    ++sent[kind];
    Note(QStringLiteral("agent: ") + (line.size() > 100 ? line.left(100) + QStringLiteral("...") : line));
    current->Send(line);
}

QString SessionSoak::ChatText() {
    switch (Between(0, 5)) {
        case 0:
            return QStringLiteral("안녕하세요, 상담원입니다. 무엇을 도와드릴까요?");
        case 1:
            return QStringLiteral("똠 뷁 햏 쀍 — 드문 글자");
        case 2:
            return QStringLiteral(
                "<b>굵게</b> & <script>alert(1)</script> \"따옴표\" 'x' \\ %s %n <img src=x>");
        case 3: {
            const int length = Between(500, 6000);
            QString text;
            while (text.size() < length) text += QStringLiteral("아주 긴 줄 a long line 0123456789 ");
            return text.left(length);
        }
        case 4:
            return QStringLiteral("🙂 이모지와 결합 문자 é");
        default:
            return QStringLiteral("줄 %1").arg(random());
    }
}

void SessionSoak::AgentStep() {
    const QString files = QStringLiteral("http://127.0.0.1:%1/userfiles/").arg(servicePort);
    const QStringList names{QStringLiteral("설정방법.pdf"),
                            QStringLiteral("readme.txt"),
                            QStringLiteral("\"따옴표\".zip"),
                            QStringLiteral("../../밖으로.exe"),
                            QString(300, u'가') + QStringLiteral(".txt"),
                            QStringLiteral("con.txt")};
    const auto changeTo = [](int port) {
        return QStringLiteral("\\changeagent 127.0.0.1/127.0.0.1/%1").arg(port);
    };
    struct Step {
        int weight;
        std::function<void()> run;
    };
    const std::vector<Step> steps{
        {12, [&] { Say(QStringLiteral("chat"), QStringLiteral("\\chat ") + ChatText()); }},
        {5,
         [&] {
             // The pieces of chat lines, out of order.
             for (int i = Between(1, 6); i > 0; --i) {
                 const int piece = Between(0, 2);
                 Say(QStringLiteral("chat pieces"), piece == 0 ? QStringLiteral("chatstart")
                                                    : piece == 1
                                                        ? QStringLiteral("chat:") + ChatText().left(300)
                                                        : QStringLiteral("chatend"));
             }
         }},
        {6,
         [&] {
             QStringList offered;
             for (int i = Between(1, 4); i > 0; --i) offered << names[Between(0, int(names.size()) - 1)];
             Say(QStringLiteral("filename"), QStringLiteral("\\offer ") + offered.join(u' '));
         }},
        {5,
         [&] {
             const QStringList present{
                 QStringLiteral("small.txt"), QStringLiteral("big.bin"),
                 QString::fromLatin1(QUrl::toPercentEncoding(QStringLiteral("설명서.pdf")))};
             Say(QStringLiteral("downloadthis"),
                 QStringLiteral("\\download ") + files + present[Between(0, 2)]);
         }},
        {3,
         [&] {
             const QStringList missing{files + QStringLiteral("없는파일.zip"),
                                       files + QStringLiteral("../secret"),
                                       QStringLiteral("http://127.0.0.1:%1/x.bin").arg(ClosedPort()),
                                       QStringLiteral("ftp://127.0.0.1:1/x"), QStringLiteral("nonsense")};
             Say(QStringLiteral("downloadthis missing"),
                 QStringLiteral("\\download ") + missing[Between(0, 4)]);
         }},
        {3, [&] { Say(QStringLiteral("lastfile"), QStringLiteral("\\lastfile ") + names[Between(0, 5)]); }},
        {2, [&] { Say(QStringLiteral("fileaccepted"), QStringLiteral("fileaccepted")); }},
        {3, [&] { Say(QStringLiteral("filerefused"), QStringLiteral("filerefused")); }},
        {4,
         [&] {
             Say(QStringLiteral("showme live"), QStringLiteral("\\showme 김상담 %1").arg(Between(0, 1)));
         }},
        {3,
         [&] {
             Say(QStringLiteral("showme dead"),
                 QStringLiteral("\\showme 상담원 1 127.0.0.1 %1").arg(ClosedPort()));
         }},
        {4,
         [&] {
             if (!hostile) hostile = std::make_unique<HostileServer>(random);
             Say(QStringLiteral("showme hostile"),
                 QStringLiteral("\\showme 악성 %1 127.0.0.1 %2").arg(Between(0, 1)).arg(hostile->Port()));
         }},
        {4, [&] { Say(QStringLiteral("stopshowme"), QStringLiteral("\\stopshowme")); }},
        {2,
         [&] {
             // To the listed port, where the next agent waits: the session goes on with it.
             Say(QStringLiteral("changeagent listed"), changeTo(listedPort));
         }},
        {2,
         [&] {
             SoakAgent& next = NewAgent(0, {QStringLiteral("--screen"), agentScreen.name()});
             Say(QStringLiteral("changeagent other"), changeTo(next.port));
         }},
        {1, [&] { Say(QStringLiteral("changeagent closed"), changeTo(ClosedPort())); }},
        {1,
         [&] {
             SoakAgent& busy = NewAgent(0, {QStringLiteral("--busy")});
             busy.busy = true;
             busy.killAt = Now() + Between(3000, 10000);
             Say(QStringLiteral("changeagent busy"), changeTo(busy.port));
         }},
        {3,
         [&] {
             const QStringList addresses{
                 QStringLiteral("http://127.0.0.1:%1/soak?n=%2").arg(ClosedPort()).arg(random()),
                 QStringLiteral("javascript:alert(1)"), QStringLiteral("file:///etc/passwd"),
                 QStringLiteral("http://[::1"), QStringLiteral("mailto:a@b.c")};
             Say(QStringLiteral("url"), QStringLiteral("\\url ") + addresses[Between(0, 4)]);
         }},
        {2, [&] { Say(QStringLiteral("ie"), QStringLiteral("\\ie")); }},
        {2, [&] { Say(QStringLiteral("explorer"), QStringLiteral("\\explorer")); }},
        {2, [&] { Say(QStringLiteral("desktop"), QStringLiteral("\\desktop")); }},
        {2, [&] { Say(QStringLiteral("ime"), QStringLiteral("\\ime")); }},
        {1, [&] { Say(QStringLiteral("shell true"), QStringLiteral("\\shell true")); }},
        {3,
         [&] {
             const QStringList odd{QStringLiteral("changeagent:"),
                                   QStringLiteral("changeagent:a/b/99999999"),
                                   QStringLiteral("showme:"),
                                   QStringLiteral("showme:a#;#b"),
                                   QStringLiteral("showme:x#;#1#;#127.0.0.1#;#-5"),
                                   QStringLiteral("downloadthis:"),
                                   QStringLiteral("filename:"),
                                   QStringLiteral("url:"),
                                   QStringLiteral("CHATEND"),
                                   QStringLiteral("unknown:xyz"),
                                   QStringLiteral("\\\\"),
                                   QString(3000, u'#')};
             Say(QStringLiteral("malformed"), odd[Between(0, int(odd.size()) - 1)]);
         }},
        {2, [&] { Say(QStringLiteral("end"), QStringLiteral("\\end")); }},
        {1,
         [&] {
             if (Chance(50)) {
                 Say(QStringLiteral("drop"), QStringLiteral("\\quit"));
             } else {
                 ++sent[QStringLiteral("drop")];
                 Note(QStringLiteral("agent: killed"));
                 current->Kill();
             }
         }},
    };
    int total = 0;
    for (const Step& step : steps) total += step.weight;
    int pick = Between(0, total - 1);
    for (const Step& step : steps) {
        if (pick < step.weight) {
            step.run();
            break;
        }
        pick -= step.weight;
    }
}

void SessionSoak::Run(int seconds) {
    // The suite's run takes the same choices every time; a run by hand of its own length takes new
    // ones unless told the seed.
    seed = qEnvironmentVariableIsSet("PELIO_SOAK_SEED")
               ? unsigned(qEnvironmentVariableIntValue("PELIO_SOAK_SEED"))
           : qEnvironmentVariableIsSet("PELIO_SOAK_SECONDS")
               ? unsigned(QDateTime::currentMSecsSinceEpoch() & 0x7fffffff)
               : 1u;
    random.seed(seed);
    std::cout << "soak seed " << seed << ", " << seconds << " s" << (underGdb ? ", under gdb" : "")
              << std::endl;
    clock.start();
    TrackAgents();
    Launch();
    if (!WaitFor([&] { return Log(*program, "agent list filled") || program->state() != QProcess::Running; },
                 kWindowWaitMs))
        Fail(QStringLiteral("the agent list did not fill"), log.right(4000));
    while (!failed && Now() < seconds * 1000LL) {
        if (!Healthy()) break;
        TrackAgents();
        TendBoxes();
        Reconnect();
        if (current && Now() >= nextAgentAt) {
            AgentStep();
            const int gap = Between(0, 99);
            nextAgentAt = Now() + (gap < 10   ? Between(0, 50)
                                   : gap < 75 ? Between(50, 900)
                                              : Between(900, 3000));
        }
        if (Now() >= nextCustomerAt) {
            CustomerStep();
            nextCustomerAt = Now() + Between(300, 2500);
        }
        TendDesktop();
        if (!current && sessions == 0 && Now() - programStartedAt > 90000) {
            Fail(QStringLiteral("no session came up in 90 s"), log.right(4000));
        } else if (!current && Now() - downSince > 120000) {
            Fail(QStringLiteral("the customer could not start a session for 2 minutes"), log.right(4000));
        }
        Pass(Between(20, 120));
    }
    if (!failed) CheckHealth();

    QString kinds;
    for (const auto& [kind, count] : sent)
        kinds += (kinds.isEmpty() ? QString() : QStringLiteral(", ")) + kind + u'=' + QString::number(count);
    std::cout << "soak summary: seed " << seed << ", " << Now() / 1000 << " s; sent {" << kinds.toStdString()
              << "}; sessions " << sessions << ", connect requests " << requests << "; boxes seen "
              << boxesSeen << ", answered " << boxesAnswered << "; windows closed " << windowsClosed
              << ", chat lines typed " << chatsTyped << ", clicks " << clicks << "; hostile connections "
              << (hostile ? hostile->connections : 0) << "; clean ends " << cleanEnds
              << ", restarts after a dead 지원요청 " << stuck << ", slow pings " << slowPings << "; peak RSS "
              << peakKiB / kMiB << " MiB (first-minute RSS " << baselineKiB / kMiB << " MiB)" << std::endl;
    if (verbose) std::cerr << "the program's standard error:\n" << log.constData() << std::endl;
    if (!failed) {
        EXPECT_GT(sessions, 0) << "soak seed " << seed << ": no session ever started";
        if (seconds >= 90) {
            EXPECT_GT(sent.size(), 5u) << "soak seed " << seed << ": the agent hardly spoke";
        }
    }
}

TEST_F(SessionSoak, EveryMessageWhileWindowsAndQuestionsStayOpen) {
    const int seconds = qEnvironmentVariableIsSet("PELIO_SOAK_SECONDS")
                            ? qEnvironmentVariableIntValue("PELIO_SOAK_SECONDS")
                            : 100;
    Run(seconds);
}

}  // namespace pelio::test
