// Windows that close while one of their own waits runs, on a desktop as customers have it (openbox,
// the accessibility bus on, real message boxes): the built program must live through both, and its
// window must go on answering.
#include "SessionOnDesktop.h"

#include <gtest/gtest.h>
#include <QDeadlineTimer>
#include <QFile>

using namespace pelio::test;

namespace {

const QString kGaveUp = QStringLiteral("상담원 화면을 볼 수 없거나 취소되었습니다.");

class WindowLifetime : public SessionOnDesktop {
  protected:
    // What the program and the agent said, for a failure's message.
    std::string Everything(QProcess& program) {
        Log(program, "");
        return (log + "\n--- agent:\n" + agent->Output() + "\n--- boxes:\n" + Messages().toUtf8())
            .toStdString();
    }

    // Runs the program's events for a while and checks that it lives and answers all along.
    void ExpectAliveFor(QProcess& program, int ms) {
        QDeadlineTimer deadline(ms);
        while (!deadline.hasExpired()) {
            ASSERT_TRUE(StillRuns(program));
            ASSERT_TRUE(AnswersPing(MainTitle(), 2000)) << "the main window did not answer within 2 s";
            WaitFor([] { return false; }, 250);
        }
    }
};

// The request text goes out as the first chat line when the chat window opens by itself, right after
// the agent took the screen; the chat window's first activation closes the connected notice.
TEST_F(WindowLifetime, TheRequestTextOpensTheChatWithoutEndingTheProgram) {
    QFile request(programFolder.file(QStringLiteral("요청내용.txt")));
    ASSERT_TRUE(request.open(QIODevice::WriteOnly));
    request.write("화면이 멈췄어요");
    request.close();

    QProcess& program = StartAndConnectOnDesktop();
    ASSERT_TRUE(agent->WaitFor("greeting ")) << log.constData() << Messages().toStdString();
    ASSERT_TRUE(agent->WaitFor("화면이 멈췄어요</span></font><br>"))
        << agent->Output().constData() << log.constData();
    ExpectAliveFor(program, 4000);
    // The session goes on: the agent's line reaches the chat window.
    agent->Send(QStringLiteral("\\chat 확인했습니다"));
    EXPECT_TRUE(WaitLog(program, "agent chat 확인했습니다\n")) << log.constData();
    EXPECT_TRUE(StillRuns(program));
}

// The agent shows its screen at an address that does not answer; while the customer has not yet
// confirmed the give-up message, the agent tries again, and again.
TEST_F(WindowLifetime, AnotherShowMeWhileTheGiveUpMessageIsOpen) {
    const int dead = ClosedPort();
    ASSERT_GT(dead, 0);
    QProcess& program = StartAndConnectOnDesktop();
    ASSERT_TRUE(agent->WaitFor("greeting ")) << log.constData() << Messages().toStdString();

    const QString showMe = QStringLiteral("\\showme 김상담 1 127.0.0.1 %1").arg(dead);
    agent->Send(showMe);
    ASSERT_TRUE(WaitFor([&] { return Messages().contains(kGaveUp); }, kWindowWaitMs)) << Everything(program);
    agent->Send(showMe);
    // The first message closes with its view; the second view gives up in turn.
    ASSERT_TRUE(
        WaitFor([&] { return Messages().count(kGaveUp) == 2 || !StillRuns(program); }, kWindowWaitMs));
    ExpectAliveFor(program, 1000);
    agent->Send(showMe);
    ASSERT_TRUE(
        WaitFor([&] { return Messages().count(kGaveUp) == 3 || !StillRuns(program); }, kWindowWaitMs));
    // The customer confirms what is left on screen; the program goes on.
    ASSERT_TRUE(WaitFor(
        [&] {
            const QList<unsigned long> boxes = WindowsTitled(pelio::util::kAppTitle);
            if (boxes.isEmpty()) return true;
            KeyInWindow(boxes.first(), QStringLiteral("Return"));
            return false;
        },
        kWindowWaitMs));
    ExpectAliveFor(program, 1000);
    agent->Send(QStringLiteral("\\chat 다시 해 볼게요"));
    EXPECT_TRUE(WaitLog(program, "agent chat 다시 해 볼게요\n")) << log.constData();
}

}  // namespace
