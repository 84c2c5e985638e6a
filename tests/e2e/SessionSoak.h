// The session soak's fixture: the program on a desktop (SessionOnDesktop) driven by a scripted agent
// and a customer who acts at random; see SessionSoakE2ETest.cpp for what it checks and how to run it.
// The agent's side and the health checks are in SessionSoakE2ETest.cpp, the customer's side in
// SessionSoakCustomer.cpp.
#pragma once

#include "SessionOnDesktop.h"
#include "SoakPeers.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <deque>
#include <map>
#include <optional>
#include <random>

namespace pelio::test {

const QString kCustomer = QStringLiteral("1234/My+Company/홍길동/010-1234-5678/hong");
const QString kBoxTitle = pelio::util::kAppTitle;
const QString kChatTitle = QStringLiteral("상담원과 대화하기");
const QString kConnectQuestion = QStringLiteral("원격지원을 요청하시겠습니까?");
// The program's answer to a press when no agent is chosen: the list was filled again between the
// harness's choice and its press. An answer all the same; the next press chooses again.
const QString kChooseAgentNotice = QStringLiteral("'지원가능'한 상담원을 선택하신 후 [지원요청] 하십시오.");
constexpr qint64 kMiB = 1024;  // in KiB

class SessionSoak : public SessionOnDesktop {
  protected:
    QString ServiceFiles() override { return userFiles.path(); }

    void SetUp() override {
        ASSERT_TRUE(agentScreen.ok());
        WriteFileBytes(userFiles.file(QStringLiteral("small.txt")), QByteArray(1000, 'a'));
        WriteFileBytes(userFiles.file(QStringLiteral("설명서.pdf")), QByteArray(300000, 'b'));
        WriteFileBytes(userFiles.file(QStringLiteral("big.bin")), QByteArray(6000000, 'c'));
        agentOptions = {QStringLiteral("--screen"), agentScreen.name()};
        SessionOnDesktop::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        // The fixture's agent gives way to the test's own, which can wait on the listed port again
        // after each session.
        listedPort = agent->port;
        agent.reset();
        // Downloads land in the test's own documents folder.
        QDir().mkpath(home.file(QStringLiteral("config")));
        WriteFileBytes(
            home.file(QStringLiteral("config/user-dirs.dirs")),
            QStringLiteral("XDG_DOCUMENTS_DIR=\"%1\"\n").arg(home.file(QStringLiteral("문서"))).toUtf8());
        underGdb = qEnvironmentVariableIntValue("PELIO_SOAK_GDB") == 1;
        if (underGdb) {
            const QString wrapper = home.file(QStringLiteral("pelio-under-gdb"));
            WriteFileBytes(wrapper, QStringLiteral("#!/bin/sh\nexec gdb -q -batch -ex 'set pagination off' "
                                                   "-ex 'handle SIGPIPE SIGUSR1 SIGUSR2 nostop noprint pass' "
                                                   "-ex run -ex 'thread apply all bt' --args '%1' \"$@\"\n")
                                        .arg(exe)
                                        .toUtf8());
            QFile::setPermissions(wrapper, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            exe = wrapper;
        }
    }

    void Run(int seconds);

    qint64 Now() const { return clock.elapsed(); }
    int Between(int low, int high) { return low + int(random() % unsigned(high - low + 1)); }
    bool Chance(int percent) { return int(random() % 100) < percent; }
    template <typename T>
    const T& OneOf(const std::vector<T>& items) {
        return items[random() % items.size()];
    }
    void Pass(int ms) {
        WaitFor([] { return false; }, ms);
    }

    void Note(const QString& step);
    void Report(const QString& what, const QByteArray& evidence = {});
    void Fail(const QString& what, const QByteArray& evidence = {});

    void Launch();
    qint64 ProgramPid() const;
    QByteArray MainThreadStack();
    bool Healthy();
    bool CheckHealth();
    bool HandleEnd();

    void TrackAgents();
    SoakAgent& NewAgent(int port, const QStringList& options);
    void TendBoxes();
    QString BoxKey();
    void Reconnect();
    void AgentStep();
    void CustomerStep();
    void TendDesktop();
    void Say(const QString& kind, const QString& line);
    QString ChatText();

    XvfbDisplay agentScreen{QSize(640, 480)};
    TempFolder userFiles;
    int listedPort = 0;
    bool underGdb = false;

    std::mt19937 random;
    unsigned seed = 0;
    QElapsedTimer clock;
    bool verbose = qEnvironmentVariableIntValue("PELIO_SOAK_VERBOSE") == 1;
    QProcess* program = nullptr;
    qint64 programStartedAt = 0;
    qsizetype scanned = 0;  // how far the program's standard error was searched for sanitizer reports
    std::vector<std::unique_ptr<SoakAgent>> agents;
    SoakAgent* current = nullptr;  // the agent in session with the program
    std::unique_ptr<HostileServer> hostile;
    struct BoxPlan {
        qint64 answerAt = 0;  // -1: left open until the customer needs the main window
        QString key;          // xdotool key name, or "close" for the window's close box
    };
    std::map<unsigned long, BoxPlan> boxes;
    bool connectAsked = false;    // 지원요청 was pressed: its question is answered Yes
    qsizetype askedAtPress = -1;  // how many connect questions had come when 지원요청 was last pressed
    qint64 downSince = 0, nextRequestAt = 0, nextAgentAt = 0, nextCustomerAt = 0, nextHealthAt = 0;
    qint64 desktopShownAt = -1, nextPaintAt = 0, nextStandbyAt = 0;
    int mainMissing = 0;

    std::deque<QString> recent;
    bool failed = false;
    std::map<QString, int> sent;
    int boxesSeen = 0, boxesAnswered = 0, windowsClosed = 0, chatsTyped = 0, clicks = 0, sessions = 0,
        requests = 0, cleanEnds = 0, slowPings = 0, stuck = 0;
    qint64 peakKiB = 0, baselineKiB = 0;
};

}  // namespace pelio::test
