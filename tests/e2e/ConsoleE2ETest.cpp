// The agent's console (pelio-agent console) in a session with the built program on a private X
// server: the window shows the customer's screen, chat lines go both ways, and its end button,
// driven through its command input, ends the session.
#include "SessionOnDisplay.h"

#include <gtest/gtest.h>

using namespace pelio::test;

namespace {

class ConsoleOnDisplay : public SessionOnDisplay {
  protected:
    void SetUp() override {
        agentCommand = QStringLiteral("console");
        SessionOnDisplay::SetUp();
    }
};

}  // namespace

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

    // A line longer than one piece, paced by the console's timer.
    const QString line = QStringLiteral("상담원입니다 ") + QString(400, u'x');
    agent->Send(QStringLiteral("\\chat ") + line);
    EXPECT_TRUE(WaitLog(program, QStringLiteral("agent chat %1\n").arg(line).toUtf8().constData()))
        << log.constData();

    agent->Send(QStringLiteral("\\end"));
    EXPECT_TRUE(agent->WaitFor("disconnected\n")) << agent->Output().constData();
    EXPECT_TRUE(WaitFor(
        [&] {
            return Messages().contains(QStringLiteral("원격지원이 정상적으로 종료되었습니다. 감사합니다."));
        },
        kWindowWaitMs));
}
