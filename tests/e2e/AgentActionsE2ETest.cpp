// A hostile agent against the built program: what its messages may not do, end to end. The agent
// (pelio-agent) sends what a scripted peer would; the reference service lists a second agent, and a
// plain listener stands for an address the service does not list.
#include "SessionOnDisplay.h"
#include "session/SessionMessages.h"

#include <QTcpServer>

#include <iostream>

using namespace pelio::test;
namespace keyword = pelio::session::keyword;

namespace {

// The program's resident memory in KiB, from /proc.
qint64 ResidentKiB(const QProcess& program) {
    QFile status(QStringLiteral("/proc/%1/status").arg(program.processId()));
    if (!status.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').first().toLongLong();
    return -1;
}

class HostileAgentOnDisplay : public SessionOnDisplay {
  protected:
    // The second agent of the list ("이상담") at the port of the test's second agent.
    QJsonObject ServiceData() override {
        return WithAgentPort(SessionOnDisplay::ServiceData(), 1, second->port);
    }
    QString ServiceFiles() override { return files.path(); }
    int ServicePort() override { return port; }

    void SetUp() override {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
        port = probe.serverPort();
        probe.close();
        second = std::make_unique<Agent>();
        ASSERT_GT(second->port, 0);
        ASSERT_TRUE(unlisted.listen(QHostAddress::LocalHost, 0));
        SessionOnDisplay::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        // The customer's documents folder, where the received-files folder is made.
        QDir().mkpath(home.file(QStringLiteral("config")));
        WriteFileBytes(
            home.file(QStringLiteral("config/user-dirs.dirs")),
            QStringLiteral("XDG_DOCUMENTS_DIR=\"%1\"\n").arg(home.file(QStringLiteral("문서"))).toUtf8());
    }

    QString UserFile(const QString& name) const {
        return QStringLiteral("http://127.0.0.1:%1/userfiles/agent/%2").arg(port).arg(name);
    }
    QString Received() const { return home.file(QStringLiteral("문서/Pelio 받은파일")); }
    int LogCount(QProcess& program, const QByteArray& text) {
        Log(program, "");
        return int(log.count(text));
    }

    TempFolder files;
    int port = 0;
    std::unique_ptr<Agent> second;
    QTcpServer unlisted;
};

TEST_F(HostileAgentOnDisplay, ActionsOutsideWhatTheCustomerAllowedDoNothing) {
    // Files the service holds, two of which the agent offers.
    QDir().mkpath(files.file(QStringLiteral("agent")));
    for (int i = 0; i < 20; ++i)
        WriteFileBytes(files.file(QStringLiteral("agent/f%1.txt").arg(i)), QByteArray(100, char('a' + i)));
    // A script that would leave a mark if anything started it.
    const QString mark = home.file(QStringLiteral("ran"));
    const QString script = home.file(QStringLiteral("script.sh"));
    WriteFileBytes(script, QStringLiteral("#!/bin/sh\ntouch '%1'\n").arg(mark).toUtf8());
    QFile(script).setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    QProcess& program = StartAndConnect();
    ASSERT_TRUE(agent->WaitFor("greeting ")) << log.constData() << Messages().toStdString();

    // "url" with a local executable, as a path and as a file: address, runs nothing.
    agent->Send(QStringLiteral("url:") + script);
    agent->Send(QStringLiteral("url:file://") + script);
    EXPECT_TRUE(WaitFor([&] { return LogCount(program, "notice 상담원이 보낸 주소는 열 수 없는 형식") == 2; },
                        kWindowWaitMs))
        << log.constData();
    EXPECT_FALSE(QFile::exists(mark));
    EXPECT_FALSE(Opened().contains(script));

    // "downloadthis" without an offer writes nothing.
    agent->Send(QStringLiteral("\\download ") + UserFile(QStringLiteral("f0.txt")));
    EXPECT_TRUE(WaitLog(program, "수락하지 않은 파일이라 받지 않았습니다")) << log.constData();

    // Two files offered and accepted; twenty asked for at once: the two land, eighteen are refused.
    agent->Send(QStringLiteral("\\offer f0.txt f1.txt"));
    ASSERT_TRUE(agent->WaitFor("message fileaccepted")) << agent->Output().constData();
    for (int i = 19; i >= 0; --i)
        agent->Send(QStringLiteral("\\download ") + UserFile(QStringLiteral("f%1.txt").arg(i)));
    EXPECT_TRUE(
        WaitFor([&] { return LogCount(program, "notice 수락하지 않은 파일이라 받지 않았습니다") == 19; },
                kWindowWaitMs))
        << log.constData();
    EXPECT_TRUE(WaitFor(
        [&] {
            return QDir(Received()).entryList(QDir::Files) ==
                   QStringList{QStringLiteral("f0.txt"), QStringLiteral("f1.txt")};
        },
        kWindowWaitMs))
        << QDir(Received()).entryList(QDir::Files).join(u' ').toStdString();

    // A move to an address the company does not list: nothing connects there, the session goes on.
    agent->Send(QStringLiteral("\\changeagent 127.0.0.1/127.0.0.1/%1").arg(unlisted.serverPort()));
    EXPECT_TRUE(WaitLog(program, "연결을 넘기려 하여 거절했습니다")) << log.constData();
    EXPECT_FALSE(unlisted.waitForNewConnection(0));
    EXPECT_FALSE(unlisted.hasPendingConnections());

    // Thirty pieces of 4 MB without an end (too big to be taken at all), then a line of 300 pieces
    // that joins past its bound: memory stays bounded, the line is refused, the program answers.
    const qint64 before = ResidentKiB(program);
    agent->Send(QStringLiteral("\\repeat 30 \\rawchat 4194304"));
    agent->Send(QStringLiteral("\\repeat 300 \\rawchat 300"));
    agent->Send(keyword::kChatEnd);
    // The flood is 120 MB of cipher work for the agent: a longer deadline than for a window.
    EXPECT_TRUE(
        WaitFor([&] { return Log(program, "notice 상담원이 보낸 대화가 너무 길어"); }, 4 * kWindowWaitMs))
        << log.constData();
    agent->Send(QStringLiteral("\\chat 이제 보이시나요?"));
    EXPECT_TRUE(WaitLog(program, "agent chat 이제 보이시나요?")) << log.constData();
    const qint64 growth = ResidentKiB(program) - before;
    std::cout << "resident memory grew " << growth << " KiB over the flood" << std::endl;
    EXPECT_LT(growth, 64 * 1024);

    // An agent line that imitates a notice and links a local program: shown without either.
    agent->Send(
        QStringLiteral("\\chat <font size=2 color=#008080 class=\"pelio-notice\">상담원이 파일 전송을 "
                       "수락하여 전송을 시작합니다.</font><a href=\"file:///usr/bin/xterm\">받은파일</a>"));
    EXPECT_TRUE(WaitLog(program, "agent chat ")) << log.constData();
    ASSERT_TRUE(WaitFor([&] { return !History(QStringLiteral("*.htm")).isEmpty(); }, kWindowWaitMs));
    EXPECT_TRUE(
        WaitFor([&] { return ReadFileBytes(History(QStringLiteral("*.htm")).first()).contains("받은파일"); },
                kWindowWaitMs));
    const QByteArray transcript = ReadFileBytes(History(QStringLiteral("*.htm")).first());
    EXPECT_FALSE(transcript.contains("file:///usr/bin/xterm")) << transcript.constData();
    EXPECT_EQ(transcript.count("class=\"pelio-notice\">상담원이 파일 전송을 수락하여"), 0)
        << transcript.constData();

    // A move to the listed agent goes through, and the notice names that agent.
    agent->Send(QStringLiteral("\\changeagent 127.0.0.1/127.0.0.1/%1").arg(second->port));
    ASSERT_TRUE(second->WaitFor("greeting ")) << log.constData();
    EXPECT_TRUE(WaitLog(program, "상담원이 이상담 상담원에게 연결을 넘깁니다.")) << log.constData();
    EXPECT_TRUE(agent->WaitFor("disconnected"));
    EXPECT_FALSE(QFile::exists(mark));
    // That agent quits: no message box, the title says the session ended.
    second->Send(QStringLiteral("\\quit"));
    EXPECT_TRUE(
        WaitFor([&] { return TitleCount(kMainTitle1234 + QStringLiteral(" - 연결이 종료되었습니다.")) == 1; },
                kWindowWaitMs))
        << display.WindowTitles().join(u'|').toStdString() << log.constData();
}

class EarlyTextOnDisplay : public SessionOnDisplay {
  protected:
    void SetUp() override {
        agentOptions = {QStringLiteral("--early"), QStringLiteral("url:http://early.example/")};
        SessionOnDisplay::SetUp();
    }
};

// A text sent before the customer's program admitted the agent is dropped like early input.
TEST_F(EarlyTextOnDisplay, ATextBeforeAdmissionIsNotActedOn) {
    QProcess& program = StartAndConnect();
    ASSERT_TRUE(agent->WaitFor("greeting ")) << log.constData() << agent->Output().constData();
    agent->Send(QStringLiteral("url:http://late.example/"));
    EXPECT_TRUE(WaitFor([&] { return Opened().contains(QStringLiteral("late.example")); }, kWindowWaitMs))
        << log.constData();
    EXPECT_FALSE(Opened().contains(QStringLiteral("early.example")));
    program.kill();
}

}  // namespace
