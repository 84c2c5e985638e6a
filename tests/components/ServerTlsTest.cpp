// The server component's TLS link with a pinned agent key, under a private Xvfb: against a TLS server
// of the test's own, and against the reference agent behind a relay that tampers with one record.
#include "ServerTestSupport.h"
#include "app/ValueCipher.h"
#include "secure/AgentKey.h"
#include "secure/TlsTunnel.h"
#include "server/VncServerComponent.h"
#include "support/XvfbDisplay.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

using pelio::components::ServerComponent;
using pelio::components::VncServerComponent;
using pelio::components::secure::AgentKey;
using pelio::components::secure::TlsTunnel;
using pelio::test::AgentProcess;
using pelio::test::ListenOnLoopback;
using pelio::test::WaitFor;
using pelio::test::XvfbDisplay;

namespace {

int AcceptUntil(int listener, const std::atomic<bool>& stop) {
    while (!stop) {
        pollfd p{listener, POLLIN, 0};
        if (poll(&p, 1, 100) > 0) return accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    }
    return -1;
}

bool SendAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0) return false;
        data += n;
        size -= std::size_t(n);
    }
    return true;
}

// An agent's program as far as the component's greeting goes, on a thread of its own: it takes one
// connection on 127.0.0.1, runs TLS as the server with a key of its own and, when that succeeds,
// reads the server's protocol version on the plain side and answers with its own.
class TlsAgent {
  public:
    TlsAgent() : m_key(AgentKey::Generate()) {
        m_listener = ListenOnLoopback(m_port);
        m_thread = std::thread([this] { Run(); });
    }
    ~TlsAgent() {
        m_stop = true;
        m_thread.join();
        close(m_listener);
    }
    int port() const { return m_port; }
    QString Pin() const { return m_key.GetPin().ToString(); }
    bool Done() {
        std::lock_guard lock(m_mutex);
        return m_done;
    }
    TlsTunnel::Failure failure = TlsTunnel::Failure::None;  // read once Done
    QString checkCode;
    std::string version;  // what the server sent first inside the tunnel

  private:
    void Run() {
        const int fd = AcceptUntil(m_listener, m_stop);
        TlsTunnel::Options options;
        options.cancelled = [this] { return m_stop.load(); };
        TlsTunnel::Failure why = TlsTunnel::Failure::Cancelled;
        std::unique_ptr<TlsTunnel> tunnel = fd >= 0 ? TlsTunnel::Accept(fd, m_key, options, &why) : nullptr;
        std::string got;
        if (tunnel) {
            m_plain = tunnel->TakePlainFd();
            char buffer[12];
            while (got.size() < sizeof buffer && !m_stop) {
                pollfd p{m_plain, POLLIN, 0};
                if (poll(&p, 1, 100) <= 0) continue;
                const ssize_t n = recv(m_plain, buffer, sizeof buffer - got.size(), 0);
                if (n <= 0) break;
                got.append(buffer, std::size_t(n));
            }
            SendAll(m_plain, "RFB 003.008\n", 12);
        }
        std::lock_guard lock(m_mutex);
        failure = why;
        checkCode = tunnel ? tunnel->CheckCode() : QString();
        version = got;
        m_tunnel = std::move(tunnel);
        m_done = true;
    }

    AgentKey m_key;
    int m_listener = -1, m_port = 0, m_plain = -1;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    bool m_done = false;
    std::unique_ptr<TlsTunnel> m_tunnel;  // kept, so the link stays up
    std::thread m_thread;
};

// Passes the bytes between the component (which connects to port()) and the agent at `target`, and
// once armed flips one bit in the next TLS application-data record that the agent sends.
class FlippingRelay {
  public:
    explicit FlippingRelay(int target) {
        m_listener = ListenOnLoopback(m_port);
        m_thread = std::thread([this, target] { Run(target); });
    }
    ~FlippingRelay() {
        m_stop = true;
        m_thread.join();
        close(m_listener);
    }
    int port() const { return m_port; }
    void Arm() { m_armed = true; }
    int Flipped() const { return m_flipped; }

  private:
    void Run(int target) {
        const int component = AcceptUntil(m_listener, m_stop);
        if (component < 0) return;
        const int agent = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(std::uint16_t(target));
        std::string records;  // from the agent, not passed on yet
        char buffer[65536];
        bool open = connect(agent, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        while (open && !m_stop) {
            pollfd p[2] = {{component, POLLIN, 0}, {agent, POLLIN, 0}};
            if (poll(p, 2, 100) <= 0) continue;
            if (p[0].revents) {
                const ssize_t n = recv(component, buffer, sizeof buffer, 0);
                open = n > 0 && SendAll(agent, buffer, std::size_t(n));
            }
            if (open && p[1].revents) {
                const ssize_t n = recv(agent, buffer, sizeof buffer, 0);
                open = n > 0;
                if (open) records.append(buffer, std::size_t(n));
                // Whole records only: a 5-byte header (type, version, length) and the payload.
                while (open && records.size() >= 5) {
                    const std::size_t length =
                        std::size_t(std::uint8_t(records[3])) << 8 | std::uint8_t(records[4]);
                    if (records.size() < 5 + length) break;
                    if (m_armed && records[0] == 0x17 && length > 0) {
                        records[5] = char(records[5] ^ 0x01);
                        m_armed = false;
                        ++m_flipped;
                    }
                    open = SendAll(component, records.data(), 5 + length);
                    records.erase(0, 5 + length);
                }
            }
        }
        close(agent);
        close(component);
    }

    int m_listener = -1, m_port = 0;
    std::atomic<bool> m_stop{false}, m_armed{false};
    std::atomic<int> m_flipped{0};
    std::thread m_thread;
};

class ServerTls : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_x.ok());
        m_server = std::make_unique<VncServerComponent>(m_x.name());
        m_server->Start(18925);
        ASSERT_TRUE(m_server->Active());
    }

    XvfbDisplay m_x{QSize(640, 480)};
    std::unique_ptr<VncServerComponent> m_server;
};

}  // namespace

TEST_F(ServerTls, RightPinConnectsAndBothEndsHaveTheSameCheckCode) {
    TlsAgent agent;
    m_server->SetAgentPin(agent.Pin());
    QSignalSpy connected(m_server.get(), &VncServerComponent::Connected);
    ASSERT_TRUE(m_server->Connect(QStringLiteral("127.0.0.1"), agent.port()));
    EXPECT_EQ(m_server->LastConnectFailure(), ServerComponent::ConnectFailure::None);
    ASSERT_TRUE(WaitFor([&] { return !connected.isEmpty() && agent.Done(); }));
    EXPECT_EQ(agent.version, "RFB 003.008\n");  // RFB runs inside the tunnel
    const auto* client = m_server->Client(connected.first().first().toInt());
    EXPECT_EQ(client->Address(), QStringLiteral("127.0.0.1"));  // the network peer, not the local pair
    EXPECT_FALSE(client->CheckCode().isEmpty());
    EXPECT_EQ(client->CheckCode(), agent.checkCode);
}

TEST_F(ServerTls, AnotherKeyOrAnUnreadablePinGetsNoRfbByte) {
    {
        TlsAgent agent;
        m_server->SetAgentPin(AgentKey::Generate().GetPin().ToString());
        QSignalSpy connected(m_server.get(), &VncServerComponent::Connected);
        EXPECT_FALSE(m_server->Connect(QStringLiteral("127.0.0.1"), agent.port()));
        EXPECT_EQ(m_server->LastConnectFailure(), ServerComponent::ConnectFailure::Security);
        ASSERT_TRUE(WaitFor([&] { return agent.Done(); }));
        // The handshake failed on the agent's side too: no application byte passed either way.
        EXPECT_EQ(agent.failure, TlsTunnel::Failure::Handshake);
        EXPECT_TRUE(agent.version.empty());
        EXPECT_TRUE(connected.isEmpty());
    }
    // A pin that cannot be read protects nothing: no connection is even tried, least of all a plain one.
    int port = 0;
    const int listener = ListenOnLoopback(port);
    m_server->SetAgentPin(AgentKey::Generate().GetPin().ToString() + u' ');
    EXPECT_FALSE(m_server->Connect(QStringLiteral("127.0.0.1"), port));
    EXPECT_EQ(m_server->LastConnectFailure(), ServerComponent::ConnectFailure::Security);
    pollfd p{listener, POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 0), 0);
    close(listener);
    // Without a pin a refused connection is no security failure.
    m_server->SetAgentPin(QString());
    EXPECT_FALSE(m_server->Connect(QStringLiteral("127.0.0.1"), port));
    EXPECT_EQ(m_server->LastConnectFailure(), ServerComponent::ConnectFailure::Unreachable);
}

TEST_F(ServerTls, ATamperedRecordEndsTheLinkAndNothingOfItIsDelivered) {
    QTemporaryDir dir;
    const QString keyFile = dir.filePath(QStringLiteral("agent.key"));
    const AgentKey key = AgentKey::Generate();
    ASSERT_TRUE(key.Save(keyFile));
    AgentProcess agent({QStringLiteral("--key"), keyFile});
    ASSERT_GT(agent.port(), 0);
    FlippingRelay relay(agent.port());
    m_server->SetAgentPin(key.GetPin().ToString());
    QSignalSpy connected(m_server.get(), &VncServerComponent::Connected);
    QSignalSpy received(m_server.get(), &VncServerComponent::TextReceived);
    QSignalSpy disconnected(m_server.get(), &VncServerComponent::Disconnected);
    ASSERT_TRUE(m_server->Connect(QStringLiteral("127.0.0.1"), relay.port()));
    ASSERT_TRUE(WaitFor([&] { return !connected.isEmpty(); }));
    m_server->Client(connected.first().first().toInt())->SetAllowed(true);
    EXPECT_EQ(agent.WaitLine(QStringLiteral("screen ")), QStringLiteral("screen 640x480"));
    agent.Command(QStringLiteral("before"));
    ASSERT_TRUE(WaitFor([&] { return !received.isEmpty(); }));
    EXPECT_EQ(pelio::app::DecryptValue(received.first()[1].toString()), QStringLiteral("before"));

    relay.Arm();
    agent.Command(QStringLiteral("after"));
    ASSERT_TRUE(WaitFor([&] { return !disconnected.isEmpty(); }));
    EXPECT_EQ(relay.Flipped(), 1);
    // A text the library had read would have been posted before the link's end.
    EXPECT_EQ(received.size(), 1);
    EXPECT_FALSE(agent.WaitLine(QStringLiteral("disconnected")).isEmpty());
}

// What a peer sends before admission is told apart on the tunnel's plain side as on a plain link.
TEST_F(ServerTls, TextsAndInputSentBeforeAdmissionAreDroppedInsideTheTunnelToo) {
    QTemporaryDir dir;
    const QString keyFile = dir.filePath(QStringLiteral("agent.key"));
    const AgentKey key = AgentKey::Generate();
    ASSERT_TRUE(key.Save(keyFile));
    const QPoint start = pelio::test::PointerPosition(m_x.display());
    AgentProcess agent({QStringLiteral("--key"), keyFile, QStringLiteral("--early"), QStringLiteral("early"),
                        QStringLiteral("--early"), QStringLiteral("\\pointer 50 60 1")});
    ASSERT_GT(agent.port(), 0);
    m_server->SetAgentPin(key.GetPin().ToString());
    QSignalSpy connected(m_server.get(), &VncServerComponent::Connected);
    QSignalSpy received(m_server.get(), &VncServerComponent::TextReceived);
    ASSERT_TRUE(m_server->Connect(QStringLiteral("127.0.0.1"), agent.port()));
    ASSERT_TRUE(WaitFor([&] { return !connected.isEmpty(); }));
    m_server->Client(connected.first().first().toInt())->SetAllowed(true);
    EXPECT_EQ(agent.WaitLine(QStringLiteral("screen ")), QStringLiteral("screen 640x480"));
    // Texts and input are taken in order: once the later text is there, the early lines were read.
    agent.Command(QStringLiteral("later"));
    ASSERT_TRUE(WaitFor([&] { return !received.isEmpty(); }));
    EXPECT_EQ(pelio::app::DecryptValue(received.first()[1].toString()), QStringLiteral("later"));
    EXPECT_EQ(received.size(), 1);
    EXPECT_EQ(pelio::test::PointerPosition(m_x.display()), start);
}
