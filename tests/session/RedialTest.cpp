// A lost link is dialled again: the controller's redial states, driven by the manual clock and the
// redial timer's tick instead of real time.
#include "SessionFixture.h"

#include <gtest/gtest.h>

using namespace pelio;
using namespace pelio::session;
using pelio::session::test::SessionTest;

namespace {

const QString kRedialTitle = QStringLiteral("status:연결이 끊어져 다시 연결하는 중...");

class RedialTest : public SessionTest {
  protected:
    // A session with the agent admitted and some time on the clock, then its link lost.
    void LoseLink() {
        Connect();
        for (int i = 0; i < 10; ++i) session->Timer1Tick();
        view.calls.clear();
        component.calls.clear();
        component.sent.clear();
        component.SimulateLost(agentLink);
    }
    int Dials() const { return int(component.calls.filter(QStringLiteral("Connect ")).size()); }
};

TEST_F(RedialTest, ALostLinkIsDialledAgainAndTheSessionGoesOn) {
    LoseLink();
    EXPECT_EQ(session->CurrentState(), SessionController::State::Lost);
    EXPECT_TRUE(session->bConnected());
    EXPECT_FALSE(session->Connected());  // the chat tells the customer instead of sending
    EXPECT_TRUE(view.Saw(kRedialTitle));
    EXPECT_TRUE(view.Saw(QStringLiteral("agent:연결이 끊어져 다시 연결하는 중...")));
    EXPECT_TRUE(view.Saw(QStringLiteral("redialling:1")));
    EXPECT_FALSE(view.Saw(QStringLiteral("close-onsupport")));
    EXPECT_FALSE(peers.calls.contains(QStringLiteral("session-ended")));

    // The agent refuses for a while; the session keeps dialling the same address with the same pin.
    component.connectResult = false;
    clock.Advance(1000);
    session->RedialTick();
    clock.Advance(3000);
    session->RedialTick();
    EXPECT_EQ(component.calls.filter(QStringLiteral("Connect 203.0.113.9 5500 pin sha256//agent")).size(), 2);
    EXPECT_EQ(session->CurrentState(), SessionController::State::Lost);
    // Meanwhile a message of the file exchange waits instead of going before the greeting.
    session->SendMessage(QStringLiteral("lastfile:a.txt"));
    EXPECT_TRUE(component.sent.isEmpty());

    component.connectResult = true;
    clock.Advance(3000);
    session->RedialTick();
    EXPECT_EQ(session->CurrentState(), SessionController::State::Rejoining);
    // An agent that has not noticed the loss yet answers busy: no message, the next dial follows.
    const int busy = component.SimulateConnected(QStringLiteral("0.0.0.0"));
    EXPECT_TRUE(view.calls.filter(QStringLiteral("inform:")).isEmpty());
    EXPECT_EQ(session->CurrentState(), SessionController::State::Lost);
    component.SimulateDisconnected(busy);
    EXPECT_EQ(session->CurrentState(), SessionController::State::Lost);

    clock.Advance(3000);
    session->RedialTick();
    const int again = component.SimulateConnected(QStringLiteral("203.0.113.9"));
    EXPECT_EQ(session->CurrentState(), SessionController::State::InSession);
    EXPECT_TRUE(component.Client(again)->Allowed());
    EXPECT_EQ(Sent(),
              (QStringList{QStringLiteral("customer:M1/홍길동//"), QStringLiteral("lastfile:a.txt")}));
    EXPECT_EQ(view.calls.filter(QStringLiteral("status:")).last(), QStringLiteral("status:연결되었습니다."));
    EXPECT_EQ(view.calls.filter(QStringLiteral("agent:")).last(), QStringLiteral("agent:접속되었습니다."));
    EXPECT_TRUE(view.Saw(QStringLiteral("redialling:0")));
    // The component ran on throughout: the recording goes on in the same file.
    for (const char* call : {"Stop", "StopRecording", "Start 18925"})
        EXPECT_FALSE(component.calls.contains(QString::fromUtf8(call))) << call;
    EXPECT_TRUE(component.Recording());
    EXPECT_FALSE(peers.calls.contains(QStringLiteral("session-ended")));
    session->Timer1Tick();
    EXPECT_EQ(view.time, QStringLiteral("0분 11초"));

    // The agent's messages reach their peers again, and only from the new link.
    FromAgent(QStringLiteral("url:http://old/"));
    agentLink = again;
    FromAgent(QStringLiteral("url:http://new/"));
    EXPECT_EQ(Actions(), QStringList{QStringLiteral("open:http://new/")});
}

TEST_F(RedialTest, DiallingStopsAfterSixtySecondsAndTheSessionEndsAsAtADrop) {
    LoseLink();
    component.connectResult = false;
    for (qint64 passed = 1000; passed < SessionController::kRedialWindowMs; passed += 3000) {
        clock.Advance(passed == 1000 ? 1000 : 3000);
        session->RedialTick();
        ASSERT_TRUE(session->Redialling());
    }
    const int dials = Dials();
    EXPECT_GE(dials, 15);
    clock.Advance(3000);
    session->RedialTick();
    EXPECT_EQ(Dials(), dials);
    EXPECT_EQ(session->CurrentState(), SessionController::State::Idle);
    EXPECT_FALSE(session->bConnected());
    EXPECT_TRUE(view.Saw(QStringLiteral("status:연결이 종료되었습니다.")));
    EXPECT_TRUE(view.Saw(QStringLiteral("close-onsupport")));
    EXPECT_TRUE(view.Saw(QStringLiteral("beep")));
    EXPECT_TRUE(view.Saw(QStringLiteral("enable:List=1")));
    EXPECT_TRUE(component.calls.contains(QStringLiteral("StopRecording")));
    EXPECT_FALSE(component.Active());
    EXPECT_EQ(peers.calls.count(QStringLiteral("session-ended")), 1);

    // A link the agent takes only after the end is not admitted.
    component.Start(SessionController::kDefaultAgentPort);
    const int late = component.SimulateConnected(QStringLiteral("203.0.113.9"));
    EXPECT_FALSE(component.Client(late)->Allowed());
}

// The agent's orderly close, its "end" and the customer's end are never dialled again.
TEST_F(RedialTest, AnEndedSessionIsNeverDialledAgain) {
    Connect();
    component.SimulateDisconnected(agentLink);
    EXPECT_EQ(session->CurrentState(), SessionController::State::Idle);
    EXPECT_TRUE(view.Saw(QStringLiteral("status:연결이 종료되었습니다.")));

    Connect();
    FromAgent(QStringLiteral("end"));
    component.SimulateLost(agentLink);  // a loss the agent's end raised would be no reason either
    clock.Advance(1000);
    session->RedialTick();
    EXPECT_EQ(session->CurrentState(), SessionController::State::Idle);
    EXPECT_FALSE(view.Saw(kRedialTitle));

    // The customer ends while a dial waits: nothing more is dialled, the indicator goes.
    component.calls.clear();
    Connect();
    component.SimulateLost(agentLink);
    view.calls.clear();
    session->EndByCustomer();
    EXPECT_TRUE(view.Saw(QStringLiteral("redialling:0")));
    EXPECT_TRUE(view.Saw(QStringLiteral("close-onsupport")));
    clock.Advance(1000);
    session->RedialTick();
    EXPECT_EQ(component.calls.filter(QStringLiteral("Connect ")).size(), 1);
    EXPECT_EQ(session->CurrentState(), SessionController::State::Idle);
}

}  // namespace
