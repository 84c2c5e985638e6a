// The calling order and events of ServerComponent.h, checked the same way on the program's test double
// and on the real component (LibVNCServer against the reference agent under a private Xvfb): session
// tests are only as good as the double's likeness to the real one.
#include "ServerTestSupport.h"
#include "app/ValueCipher.h"
#include "server/FakeServerComponent.h"
#include "server/VncServerComponent.h"
#include "support/Wait.h"
#include "support/XvfbDisplay.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QSignalSpy>

#include <memory>

using pelio::components::FakeServerComponent;
using pelio::components::ServerComponent;
using pelio::components::VncServerComponent;
using pelio::test::AgentProcess;
using pelio::test::WaitFor;

namespace {

// Each side plays the agent's program for its component. Texts are plain here; the sides encrypt and
// decrypt them as the session does.

// The double: the test raises what the agent's program would cause.
class FakeSide {
  public:
    bool Ready() const { return true; }
    ServerComponent& Server() { return m_server; }

    // Makes the link and has the agent's program take it; the index Connected gave, or -1.
    int ConnectAgent(bool busy = false) {
        QSignalSpy connected(&m_server, &ServerComponent::Connected);
        if (!m_server.Connect(QStringLiteral("127.0.0.1"), 5500)) return -1;
        m_index = m_server.SimulateConnected(busy ? QStringLiteral("0.0.0.0") : QStringLiteral("127.0.0.1"));
        return connected.isEmpty() ? -1 : connected.first().first().toInt();
    }
    void AgentSays(const QString& text) { m_server.SimulateText(pelio::app::EncryptValue(text), m_index); }
    void AgentLeaves() { m_server.SimulateDisconnected(m_index); }
    // Waits until the agent's program has left after a Stop; the double has nothing to wait for.
    bool AgentSawTheEnd() { return true; }
    // What the agent's program has received so far, without waiting.
    QStringList ReceivedNow() const { return Plain(m_server.sent); }
    // What it received once `count` texts are there (or the time limit passed).
    QStringList Received(int count) {
        WaitFor([&] { return m_server.sent.size() >= count; }, 10000);
        return Plain(m_server.sent);
    }
    int Port() const { return 5500; }

  private:
    static QStringList Plain(const QStringList& texts) {
        QStringList plain;
        for (const QString& text : texts) plain << pelio::app::DecryptValue(text);
        return plain;
    }
    FakeServerComponent m_server;
    int m_index = -1;
};

// The real component and pelio-agent.
class RealSide {
  public:
    RealSide() {
        if (m_x.ok()) m_server = std::make_unique<VncServerComponent>(m_x.name());
    }
    bool Ready() const { return m_server != nullptr; }
    ServerComponent& Server() { return *m_server; }

    int ConnectAgent(bool busy = false) {
        m_agent =
            std::make_unique<AgentProcess>(busy ? QStringList{QStringLiteral("--busy")} : QStringList{});
        QSignalSpy connected(m_server.get(), &ServerComponent::Connected);
        if (m_agent->port() <= 0 || !m_server->Connect(QStringLiteral("127.0.0.1"), m_agent->port()))
            return -1;
        WaitFor([&] { return !connected.isEmpty(); }, 10000);
        return connected.isEmpty() ? -1 : connected.first().first().toInt();
    }
    void AgentSays(const QString& text) { m_agent->Command(text); }
    void AgentLeaves() { m_agent->Command(QStringLiteral("\\quit")); }
    bool AgentSawTheEnd() { return !m_agent || !m_agent->WaitLine(QStringLiteral("disconnected")).isEmpty(); }
    QStringList ReceivedNow() { return Take(0, 0); }
    QStringList Received(int count) { return Take(count, 10000); }
    int Port() const { return m_agent ? m_agent->port() : 18925; }

  private:
    // The texts of the agent's "message" lines so far: all that came, waiting up to ms for each one
    // missing until there are `count`.
    QStringList Take(int count, int ms) {
        while (m_agent) {
            const QString line =
                m_agent->WaitLine(QStringLiteral("message "), m_received.size() < count ? ms : 0);
            if (line.isEmpty()) break;
            m_received << line.mid(8);
        }
        return m_received;
    }
    QStringList m_received;
    pelio::test::XvfbDisplay m_x{QSize(320, 240)};
    std::unique_ptr<VncServerComponent> m_server;
    std::unique_ptr<AgentProcess> m_agent;
};

template <typename Side>
class ServerContract : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(side.Ready());
        Server().SetConfigFlag1(false);
        Server().SetConfigFlag2(true);
        Server().SetConfigFlag3(true);
        Server().SetConfigFlag4(false);
    }
    ServerComponent& Server() { return side.Server(); }
    // Starts the session and connects an agent that is then admitted; the index, or -1.
    int Admitted() {
        Server().Start(18925);
        const int index = side.ConnectAgent();
        if (index > 0) Server().Client(index)->SetAllowed(true);
        return index;
    }

    Side side;
};

using Sides = ::testing::Types<FakeSide, RealSide>;
TYPED_TEST_SUITE(ServerContract, Sides);

TYPED_TEST(ServerContract, ConnectFailsWhileInactive) {
    ServerComponent& server = this->Server();
    EXPECT_FALSE(server.Active());
    QSignalSpy connected(&server, &ServerComponent::Connected);
    EXPECT_FALSE(server.Connect(QStringLiteral("127.0.0.1"), this->side.Port()));
    server.Start(18925);
    server.Stop();
    EXPECT_FALSE(server.Active());
    EXPECT_FALSE(server.Connect(QStringLiteral("127.0.0.1"), this->side.Port()));
    QCoreApplication::processEvents();
    EXPECT_TRUE(connected.isEmpty());
}

TYPED_TEST(ServerContract, AnUnknownIndexGivesAnInertObject) {
    ServerComponent& server = this->Server();
    server.Start(18925);
    for (int index : {0, -1, 4711}) {
        ASSERT_NE(server.Client(index), nullptr) << index;
        EXPECT_TRUE(server.Client(index)->Address().isEmpty());
        server.Client(index)->SetAllowed(true);
        EXPECT_FALSE(server.Client(index)->Allowed()) << index;
    }
    const int index = this->side.ConnectAgent();
    ASSERT_GT(index, 0);
    EXPECT_EQ(server.Client(index)->Address(), QStringLiteral("127.0.0.1"));
    server.Client(index + 1)->SetAllowed(true);  // admits nobody
    EXPECT_FALSE(server.Client(index)->Allowed());
    EXPECT_FALSE(server.Client(index + 1)->Allowed());
}

TYPED_TEST(ServerContract, TextsWaitForAdmissionAndPassInOrderBothWays) {
    ServerComponent& server = this->Server();
    server.Start(18925);
    const int index = this->side.ConnectAgent();
    ASSERT_GT(index, 0);
    server.Send(0, pelio::app::EncryptValue(QStringLiteral("먼저")));
    EXPECT_TRUE(this->side.ReceivedNow().isEmpty());
    server.Client(index)->SetAllowed(true);
    EXPECT_TRUE(server.Client(index)->Allowed());
    server.Send(0, pelio::app::EncryptValue(QStringLiteral("나중")));
    EXPECT_EQ(this->side.Received(2), (QStringList{QStringLiteral("먼저"), QStringLiteral("나중")}));

    QSignalSpy received(&server, &ServerComponent::TextReceived);
    this->side.AgentSays(QStringLiteral("안녕하세요"));
    ASSERT_TRUE(WaitFor([&] { return !received.isEmpty(); }, 10000));
    EXPECT_EQ(received.first()[0].toInt(), index);
    EXPECT_EQ(pelio::app::DecryptValue(received.first()[1].toString()), QStringLiteral("안녕하세요"));
    EXPECT_EQ(received.first()[2].toInt(), received.first()[1].toString().toUtf8().size());
}

TYPED_TEST(ServerContract, TheAgentLeavingRaisesDisconnected) {
    ServerComponent& server = this->Server();
    const int index = this->Admitted();
    ASSERT_GT(index, 0);
    QSignalSpy disconnected(&server, &ServerComponent::Disconnected);
    this->side.AgentLeaves();
    ASSERT_TRUE(WaitFor([&] { return !disconnected.isEmpty(); }, 10000));
    EXPECT_EQ(disconnected.first().first().toInt(), index);
    this->side.AgentLeaves();  // gone already: nothing more
    QCoreApplication::processEvents();
    EXPECT_EQ(disconnected.size(), 1);
    EXPECT_TRUE(server.Active());  // the session is the program's to end
    server.Stop();
}

TYPED_TEST(ServerContract, StopRaisesNothingAndEndsTheSessionsEvents) {
    ServerComponent& server = this->Server();
    const int index = this->Admitted();
    ASSERT_GT(index, 0);
    QSignalSpy connected(&server, &ServerComponent::Connected);
    QSignalSpy disconnected(&server, &ServerComponent::Disconnected);
    QSignalSpy received(&server, &ServerComponent::TextReceived);
    server.Stop();
    EXPECT_FALSE(server.Active());
    EXPECT_TRUE(this->side.AgentSawTheEnd());
    this->side.AgentSays(QStringLiteral("늦은 말"));
    this->side.AgentLeaves();
    QCoreApplication::processEvents();
    EXPECT_TRUE(connected.isEmpty());
    EXPECT_TRUE(disconnected.isEmpty());
    EXPECT_TRUE(received.isEmpty());
}

TYPED_TEST(ServerContract, ABusyAgentIsNeverAdmitted) {
    ServerComponent& server = this->Server();
    server.Start(18925);
    const int index = this->side.ConnectAgent(true);
    ASSERT_GT(index, 0);
    EXPECT_EQ(server.Client(index)->Address(), QStringLiteral("0.0.0.0"));
    server.Client(index)->SetAllowed(true);  // does nothing
    EXPECT_FALSE(server.Client(index)->Allowed());
    server.Send(0, pelio::app::EncryptValue(QStringLiteral("아무도")));
    EXPECT_TRUE(this->side.ReceivedNow().isEmpty());
    server.Stop();
}

}  // namespace
