// The encrypted session against the built programs: an agent with a key the service vouches for
// (pelio-agent --key, its pin in the agent list), a relay in the middle that reads and alters what it
// forwards, an agent with another key, an agent the service does not vouch for, and the setting that
// allows verified agents only.
#include "ScreenPixels.h"
#include "SessionOnDisplay.h"
#include "app/ValueCipher.h"

#include <QRegularExpression>
#include <QTcpSocket>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <thread>

using namespace pelio::test;

namespace {

// A new agent key in path; its pin.
QString MakeKey(const QString& path) {
    QProcess keygen;
    keygen.start(QStringLiteral(PELIO_AGENT_EXECUTABLE), {QStringLiteral("keygen"), path});
    keygen.waitForFinished(30000);
    return QString::fromUtf8(keygen.readAllStandardOutput()).trimmed();
}

// A TCP relay on 127.0.0.1 between the customer's program and the agent: it keeps a copy of what it
// forwards and, when told, flips one byte of what goes to the customer's program.
class Relay {
  public:
    explicit Relay(int target) : m_target(target) {
        m_listener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(m_listener, 1);
        socklen_t length = sizeof address;
        getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
        port = ntohs(address.sin_port);
        m_thread = std::thread([this] { Run(); });
    }
    ~Relay() {
        m_stop = true;
        shutdown(m_listener, SHUT_RDWR);
        m_thread.join();
        close(m_listener);
    }
    // Flips a byte of the next data that goes to the customer's program, from the agent.
    void FlipNext() { m_flip = true; }
    QByteArray Seen() {
        std::lock_guard lock(m_mutex);
        return m_seen;
    }

    int port = 0;

  private:
    void Run() {
        const int customer = accept(m_listener, nullptr, nullptr);
        if (customer < 0) return;
        const int agent = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(quint16(m_target));
        if (::connect(agent, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
            char buffer[65536];
            pollfd fds[2] = {{customer, POLLIN, 0}, {agent, POLLIN, 0}};
            while (!m_stop && poll(fds, 2, 200) >= 0) {
                bool ended = false;
                for (int i = 0; i < 2; ++i) {
                    if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
                    const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
                    if (n <= 0) {
                        ended = true;
                        break;
                    }
                    {
                        std::lock_guard lock(m_mutex);
                        m_seen.append(buffer, n);
                    }
                    if (i == 1 && m_flip.exchange(false)) buffer[n / 2] ^= 0x20;
                    if (write(fds[1 - i].fd, buffer, size_t(n)) != n) ended = true;
                }
                if (ended) break;
            }
        }
        close(agent);
        close(customer);
    }

    int m_target;
    int m_listener = -1;
    std::atomic<bool> m_stop{false}, m_flip{false};
    std::mutex m_mutex;
    QByteArray m_seen;
    std::thread m_thread;
};

class SecureSessionOnDisplay : public SessionOnDisplay {
  protected:
    // The first agent of company 1234 at the test's agent (or its relay), with the pin the test chose.
    QJsonObject ServiceData() override {
        if (throughRelay && !relay) relay = std::make_unique<Relay>(agent->port);
        QJsonObject data =
            WithAgentPort(SessionOnDisplay::ServiceData(), 0, relay ? relay->port : agent->port);
        QJsonObject companies = data.value(QStringLiteral("companies")).toObject();
        QJsonObject company = companies.value(QStringLiteral("1234")).toObject();
        QJsonArray agents = company.value(QStringLiteral("agents")).toArray();
        QJsonObject first = agents.at(0).toObject();
        if (listPin) first.insert(QStringLiteral("pin"), listedPin);
        agents.replace(0, first);
        if (second) {
            QJsonObject next = agents.at(1).toObject();
            next.insert(QStringLiteral("port"), QString::number(second->port));
            next.insert(QStringLiteral("pin"), listedPin);
            agents.replace(1, next);
        }
        company.insert(QStringLiteral("agents"), agents);
        companies.insert(QStringLiteral("1234"), company);
        data.insert(QStringLiteral("companies"), companies);
        return data;
    }

    void SetUp() override {
        keyFile = keys.file(QStringLiteral("agent.pem"));
        listedPin = MakeKey(keyFile);
        ASSERT_TRUE(listedPin.startsWith(QStringLiteral("sha256//"))) << listedPin.toStdString();
        if (withSecond) second = std::make_unique<Agent>(QStringList{QStringLiteral("--key"), keyFile});
        if (agentKey == u"other") {
            agentKey = keys.file(QStringLiteral("other.pem"));
            MakeKey(agentKey);
        }
        if (agentKey != u"none")
            agentOptions = {QStringLiteral("--key"), agentKey.isEmpty() ? keyFile : agentKey};
        agentOptions += extraAgentOptions;
        SessionOnDisplay::SetUp();
    }

    // The six digits of the check code the program shows, from its log.
    QString ProgramCode(QProcess& program, int nth = 1) {
        static const QRegularExpression line(QStringLiteral("secure link, check code (\\d{3}) (\\d{3})"));
        QString code;
        WaitFor(
            [&] {
                Log(program, "");
                int found = 0;
                for (auto m = line.globalMatch(QString::fromUtf8(log)); m.hasNext();) {
                    const auto match = m.next();
                    if (++found == nth) code = match.captured(1) + match.captured(2);
                }
                return !code.isEmpty();
            },
            kWindowWaitMs);
        return code;
    }
    // The code an agent printed ("secure CODE PIN").
    static QString AgentCode(Agent& who) {
        static const QRegularExpression line(QStringLiteral("secure (\\d{6}) (\\S+)"));
        QString code;
        WaitFor(
            [&] { return (code = line.match(QString::fromUtf8(who.Output())).captured(1)), !code.isEmpty(); },
            kWindowWaitMs);
        return code;
    }

    TempFolder keys;
    QString keyFile, listedPin;
    QString agentKey;           // the agent's key file: the listed one, "other" (a new one) or "none"
    bool listPin = true;        // whether the service lists the agent's pin
    bool throughRelay = false;  // whether the listed address is a relay to the agent
    bool withSecond = false;    // a second listed agent with the same key
    QStringList extraAgentOptions;
    std::unique_ptr<Relay> relay;
    std::unique_ptr<Agent> second;
};

TEST_F(SecureSessionOnDisplay, BothSidesShowTheSameCode) {
    QProcess& program = StartAndConnect();
    ASSERT_TRUE(agent->WaitFor("greeting ")) << log.constData() << agent->Output().constData();
    const QString code = ProgramCode(program);
    ASSERT_EQ(code.size(), 6) << log.constData();
    EXPECT_EQ(AgentCode(*agent), code);
    EXPECT_TRUE(agent->Has(("secure " + code + " " + listedPin).toUtf8()));
    // A verified agent's programs run without a question.
    const QString ran = home.file(QStringLiteral("ran"));
    agent->Send(QStringLiteral("\\shell touch \"%1\"").arg(ran));
    EXPECT_TRUE(WaitFor([&] { return QFile::exists(ran); }, kWindowWaitMs)) << log.constData();
    EXPECT_FALSE(Messages().contains(QStringLiteral("허용하시겠습니까")));
}

class MovingSecureSession : public SecureSessionOnDisplay {
  protected:
    MovingSecureSession() { withSecond = true; }
};

TEST_F(MovingSecureSession, TheNextAgentsCodeIsShownAndDiffers) {
    QProcess& program = StartAndConnect();
    ASSERT_TRUE(agent->WaitFor("greeting ")) << log.constData();
    const QString first = ProgramCode(program);
    agent->Send(QStringLiteral("\\changeagent 127.0.0.1/127.0.0.1/%1").arg(second->port));
    ASSERT_TRUE(second->WaitFor("greeting ")) << log.constData() << second->Output().constData();
    const QString next = ProgramCode(program, 2);
    EXPECT_EQ(AgentCode(*second), next);
    EXPECT_NE(next, first);
}

class RelayedSecureSession : public SecureSessionOnDisplay {
  protected:
    RelayedSecureSession() { throughRelay = true; }
};

// What a relay forwards tells it nothing, and a byte it alters ends the session with nothing done.
TEST_F(RelayedSecureSession, TheRelayReadsNothingAndAnAlteredByteEndsTheSession) {
    QProcess& program = StartAndConnect();
    ASSERT_TRUE(agent->WaitFor("greeting ")) << log.constData() << agent->Output().constData();
    agent->Send(QStringLiteral("\\chat 비밀번호는 금고에 있습니다"));
    ASSERT_TRUE(WaitLog(program, "agent chat 비밀번호는 금고에 있습니다")) << log.constData();
    const QByteArray seen = relay->Seen();
    EXPECT_GT(seen.size(), 1000);
    for (const char* secret : {"홍길동", "010-1234-5678", "customer:", "비밀번호", "RFB 003"})
        EXPECT_FALSE(seen.contains(QByteArray(secret))) << secret;
    // The app's value cipher alone would show the greeting's hex text; TLS hides that too.
    EXPECT_FALSE(seen.contains(pelio::app::EncryptValue(QStringLiteral("chatstart")).toUtf8()));

    const QString ran = home.file(QStringLiteral("ran"));
    relay->FlipNext();
    agent->Send(QStringLiteral("\\shell touch \"%1\"").arg(ran));
    EXPECT_TRUE(agent->WaitFor("disconnected")) << agent->Output().constData();
    EXPECT_TRUE(WaitLog(program, "disconnected")) << log.constData();
    EXPECT_FALSE(QFile::exists(ran));
}

class OtherKeySession : public SecureSessionOnDisplay {
  protected:
    OtherKeySession() { agentKey = QStringLiteral("other"); }
};

// An agent with another key at the listed address gets no RFB byte and no greeting.
TEST_F(OtherKeySession, AnAgentWithAnotherKeyGetsNothing) {
    StartAndConnect();
    EXPECT_TRUE(WaitFor(
        [&] {
            return Messages().contains(
                QStringLiteral("상담원 프로그램의 보안 인증에 실패하여 연결하지 않았습니다."));
        },
        kWindowWaitMs))
        << log.constData() << Messages().toStdString();
    EXPECT_FALSE(agent->Has("screen ")) << agent->Output().constData();
    EXPECT_FALSE(agent->Has("greeting ")) << agent->Output().constData();
    EXPECT_FALSE(agent->Has("secure ")) << agent->Output().constData();
}

class UnverifiedSession : public SecureSessionOnDisplay {
  protected:
    UnverifiedSession() {
        agentKey = QStringLiteral("none");
        listPin = false;
    }
};

// An agent the service does not vouch for holds a session, told as not encrypted, and its "shell" is
// asked about with the whole command line; with RequireSecure=1 it is refused before connecting.
TEST_F(UnverifiedSession, IsToldAsNotEncryptedAndAskedAbout) {
    QProcess& program = StartAndConnect();
    ASSERT_TRUE(agent->WaitFor("greeting ")) << log.constData();
    EXPECT_TRUE(WaitLog(program, "plain link")) << log.constData();
    const QString ran = home.file(QStringLiteral("ran by an unverified agent"));
    agent->Send(QStringLiteral("\\shell touch \"%1\"").arg(ran));
    EXPECT_TRUE(
        WaitFor([&] { return Messages().contains(QStringLiteral("touch \"%1\"").arg(ran)); }, kWindowWaitMs))
        << Messages().toStdString();
    EXPECT_TRUE(WaitFor([&] { return QFile::exists(ran); }, kWindowWaitMs));  // answered 예
}

TEST_F(UnverifiedSession, RequireSecureRefusesItBeforeConnecting) {
    AddSettings(QStringLiteral("[Security]\r\nRequireSecure=1\r\n"));
    QProcess& program = StartAndConnect();
    EXPECT_TRUE(WaitFor([&] { return Messages().contains(QStringLiteral("확인된 상담원에게만 연결")); },
                        kWindowWaitMs))
        << Messages().toStdString() << log.constData();
    EXPECT_FALSE(agent->Has("connected")) << agent->Output().constData();
    EXPECT_EQ(program.state(), QProcess::Running);
}

class SecureScreenSession : public SecureSessionOnDisplay {
  protected:
    void SetUp() override {
        ASSERT_TRUE(agentScreen.ok());
        extraAgentOptions = {QStringLiteral("--screen"), agentScreen.name()};
        SecureSessionOnDisplay::SetUp();
    }
    pelio::test::XvfbDisplay agentScreen{QSize(640, 480)};
};

// A verified agent's screen is shown through TLS on its key: the port it names speaks no RFB in the
// clear, and the customer's view shows the screen.
TEST_F(SecureScreenSession, TheAgentsScreenIsShownThroughTls) {
    StartAndConnect();
    ASSERT_TRUE(agent->WaitFor("greeting ")) << log.constData() << agent->Output().constData();
    FillScreen(agentScreen, 0x3366cc);
    agent->Send(QStringLiteral("\\showme 김상담 0"));
    ASSERT_TRUE(agent->WaitFor("showing ")) << agent->Output().constData();
    const QString title = QStringLiteral("[김상담]님의 화면보기 - 접속됨");
    EXPECT_TRUE(WaitFor([&] { return TitleCount(title) == 1; }, kWindowWaitMs))
        << display.WindowTitles().join(u'|').toStdString() << log.constData();
    EXPECT_TRUE(WaitFor([&] { return PointsOf(display, 0x3366cc) > 500; }, kWindowWaitMs));

    // A plain viewer at the same port gets no protocol greeting: the server waits for a TLS hello.
    const QByteArray out = agent->Output();
    const qsizetype at = out.indexOf("showing ");
    const quint16 port = quint16(out.mid(at + 8, out.indexOf('\n', at) - at - 8).toInt());
    QTcpSocket plain;
    plain.connectToHost(QHostAddress::LocalHost, port);
    ASSERT_TRUE(plain.waitForConnected(5000));
    plain.waitForReadyRead(2000);  // a bounded look for bytes that must not come
    EXPECT_FALSE(plain.readAll().startsWith("RFB "));
}

}  // namespace
