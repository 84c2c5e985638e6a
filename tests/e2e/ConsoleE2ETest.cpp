// The agent's console (pelio-agent console) in a session with the built program on a private X
// server: the window shows the customer's screen, chat lines go both ways, and its end button,
// driven through its command input, ends the session; on a display of two monitors it shows the one
// the agent chooses.
#include "SessionOnDisplay.h"

#include <gtest/gtest.h>

#include <QStandardPaths>

using namespace pelio::test;

namespace {

class ConsoleOnDisplay : public SessionOnDisplay {
  protected:
    void SetUp() override {
        agentCommand = QStringLiteral("console");
        agentOptions << QStringLiteral("--name") << QStringLiteral("김상담");
        SessionOnDisplay::SetUp();
    }
};

// The console on a display of its own, as on the agent's computer: each side has its own clipboard.
class ConsoleOnItsOwnDisplay : public ConsoleOnDisplay {
  protected:
    void SetUp() override {
        if (!agentScreen.ok()) GTEST_SKIP() << "Xvfb could not start";
        if (QStandardPaths::findExecutable(QStringLiteral("xclip")).isEmpty())
            GTEST_SKIP() << "xclip is not installed (scripts/deps.sh)";
        consoleDisplay = agentScreen.name();
        ConsoleOnDisplay::SetUp();
    }
    // Puts text on a display's clipboard; xclip keeps it there until another client takes it.
    void Copy(const QString& displayName, const QString& text) {
        QProcess xclip;
        xclip.setProcessEnvironment(On(displayName));
        xclip.start(QStringLiteral("xclip"), {QStringLiteral("-selection"), QStringLiteral("clipboard")});
        xclip.write(text.toUtf8());
        xclip.closeWriteChannel();
        xclip.waitForFinished(10000);  // it stays on in the background, holding the text
    }
    QString Pasted(const QString& displayName) {
        QProcess xclip;
        xclip.setProcessEnvironment(On(displayName));
        xclip.start(QStringLiteral("xclip"),
                    {QStringLiteral("-selection"), QStringLiteral("clipboard"), QStringLiteral("-o")});
        xclip.waitForFinished(10000);
        return QString::fromUtf8(xclip.readAllStandardOutput());
    }
    static QProcessEnvironment On(const QString& displayName) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), displayName);
        return env;
    }
    XvfbDisplay agentScreen{QSize(1024, 768)};
};

}  // namespace

TEST_F(ConsoleOnItsOwnDisplay, KoreanTextCopiedOnEitherSideIsPastedOnTheOther) {
    QProcess& program = StartAndConnect();
    ASSERT_TRUE(agent->WaitFor("greeting ")) << agent->Output().constData() << log.constData();
    ASSERT_TRUE(agent->WaitFor("screen 1280x800\n")) << agent->Output().constData();

    const QString fromAgent = QStringLiteral("상담원이 복사한 주소: https://예시.kr/도움말\n둘째 줄");
    Copy(agentScreen.name(), fromAgent);
    EXPECT_TRUE(WaitFor([&] { return Pasted(display.name()) == fromAgent; }, kWindowWaitMs));
    const QString fromCustomer = QStringLiteral("고객의 오류 메시지: 똠방각하 0x80070005");
    Copy(display.name(), fromCustomer);
    EXPECT_TRUE(WaitFor([&] { return Pasted(agentScreen.name()) == fromCustomer; }, kWindowWaitMs));
    EXPECT_EQ(program.state(), QProcess::Running);
}

TEST_F(ConsoleOnDisplay, ShowsTheCustomerChatsBothWaysAndEndsTheSession) {
    // The customer's prepared request goes to the agent as the customer's first chat line.
    QFile request(programFolder.file(QStringLiteral("요청내용.txt")));
    ASSERT_TRUE(request.open(QIODevice::WriteOnly));
    request.write("프린터가 안 돼요");
    request.close();
    EXPECT_TRUE(WaitFor([&] { return TitleCount(QStringLiteral("Pelio 상담원 콘솔")) == 1; }, kWindowWaitMs));

    QProcess& program = StartAndConnect();
    ASSERT_TRUE(agent->WaitFor("greeting ")) << agent->Output().constData() << log.constData();
    EXPECT_TRUE(agent->Has("\t홍길동\t010-1234-5678\thong\n")) << agent->Output().constData();
    EXPECT_TRUE(agent->WaitFor("screen 1280x800\n")) << agent->Output().constData();
    EXPECT_TRUE(agent->WaitFor("chat \\r\\n<br><font size=2 color=#008000>홍길동 / 010-1234-5678 ("))
        << agent->Output().constData();
    EXPECT_TRUE(agent->Has("프린터가 안 돼요</span></font><br>\\r\\n\n")) << agent->Output().constData();

    // A line longer than one piece, paced by the console's timer, headed by the agent's name and the
    // time as the customer's lines are.
    const QString line = QStringLiteral("상담원입니다 ") + QString(400, u'x');
    agent->Send(QStringLiteral("\\chat ") + line);
    EXPECT_TRUE(WaitLog(program, line.toUtf8().constData())) << log.constData();
    EXPECT_TRUE(Log(program, "agent chat \r\n<br><font size=2 color=#0000FF>김상담 (")) << log.constData();

    agent->Send(QStringLiteral("\\end"));
    EXPECT_TRUE(agent->WaitFor("disconnected\n")) << agent->Output().constData();
    EXPECT_TRUE(WaitFor(
        [&] {
            return Messages().contains(QStringLiteral("원격지원이 정상적으로 종료되었습니다. 감사합니다."));
        },
        kWindowWaitMs));
}

TEST_F(ConsoleOnDisplay, TheAgentChoosesOneOfTheCustomersMonitorsAndGoesBackToTheWholeDesktop) {
    // The display split into two monitors side by side.
    const auto xrandr = [&](const QStringList& arguments) {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), display.name());
        process.setProcessEnvironment(env);
        process.start(QStringLiteral("xrandr"), arguments);
        return process.waitForFinished(10000) && process.exitCode() == 0;
    };
    ASSERT_TRUE(xrandr({QStringLiteral("--setmonitor"), QStringLiteral("L"),
                        QStringLiteral("640/170x800/212+0+0"), QStringLiteral("screen")}));
    ASSERT_TRUE(xrandr({QStringLiteral("--setmonitor"), QStringLiteral("R"),
                        QStringLiteral("640/170x800/212+640+0"), QStringLiteral("none")}));
    EXPECT_TRUE(WaitFor([&] { return TitleCount(QStringLiteral("Pelio 상담원 콘솔")) == 1; }, kWindowWaitMs));

    QProcess& program = StartAndConnect();
    ASSERT_TRUE(agent->WaitFor("message monitors:0,0,640x800;640,0,640x800\n"))
        << agent->Output().constData() << log.constData();
    EXPECT_TRUE(agent->WaitFor("screen 1280x800\n")) << agent->Output().constData();

    agent->Send(QStringLiteral("\\monitor 2"));
    EXPECT_TRUE(agent->WaitFor("screen 640x800\n")) << agent->Output().constData();
    EXPECT_TRUE(WaitLog(program, "상담원이 모니터 2 (640x800) 화면만 봅니다.")) << log.constData();
    agent->Send(QStringLiteral("\\monitor 0"));
    EXPECT_TRUE(WaitFor([&] { return agent->Output().count("screen 1280x800\n") == 2; }, kWindowWaitMs))
        << agent->Output().constData();
    EXPECT_TRUE(WaitLog(program, "상담원이 전체 화면을 봅니다.")) << log.constData();
}
