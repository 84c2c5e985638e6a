// pelio-agent in a session with the real server component, under a private Xvfb: what it prints of
// the customer's messages and what its message commands deliver, as a viewer and as the raw peer.
#include "LinkRelay.h"
#include "ServerTestSupport.h"
#include "app/ValueCipher.h"
#include "server/VncServerComponent.h"
#include "session/SessionMessages.h"
#include "support/XvfbDisplay.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTemporaryDir>

using pelio::components::VncServerComponent;
using pelio::test::AgentProcess;
using pelio::test::WaitFor;

namespace {

QString Escaped(QString s) {
    return s.replace('\\', QLatin1String("\\\\"))
        .replace('\n', QLatin1String("\\n"))
        .replace('\r', QLatin1String("\\r"));
}

QString LongLine(int size) {
    const QString alphabet = QStringLiteral("가나다 abc\\:/#;#0123456789");
    QString s;
    for (int i = 0; i < size; ++i) s += alphabet[i % alphabet.size()];
    return s;
}

}  // namespace

TEST(AgentSession, PrintsGreetingAndChatLinesAndSendsChatLinesWhole) {
    pelio::test::XvfbDisplay x(QSize(320, 240));
    ASSERT_TRUE(x.ok());
    VncServerComponent server(x.name());
    server.Start(18925);
    ASSERT_TRUE(server.Active());
    AgentProcess agent;
    ASSERT_GT(agent.port(), 0);
    QSignalSpy connected(&server, &VncServerComponent::Connected);
    ASSERT_TRUE(server.Connect(QStringLiteral("127.0.0.1"), agent.port()));
    ASSERT_TRUE(WaitFor([&] { return !connected.isEmpty(); }));
    server.Client(connected.first().first().toInt())->SetAllowed(true);
    const auto send = [&](const QString& plain) { server.Send(0, pelio::app::EncryptValue(plain)); };

    // A TAB in a field cannot shift the columns, and an empty phone stays an empty column.
    send(pelio::session::SessionGreeting(QStringLiteral("EXK4U96B482"), QStringLiteral("홍\t길동"), QString(),
                                         QStringLiteral("hong/x")));
    EXPECT_EQ(agent.WaitLine(QStringLiteral("greeting ")),
              QStringLiteral("greeting EXK4U96B482\t홍\\t길동\t\thong/x"));

    const QString customerLine = LongLine(650) + QStringLiteral("\r\n끝");
    for (const QString& message : pelio::session::ChatMessages(customerLine)) send(message);
    EXPECT_EQ(agent.WaitLine(QStringLiteral("chat ")), "chat " + Escaped(customerLine));
    EXPECT_EQ(agent.WaitLine(QStringLiteral("message chatend")), QStringLiteral("message chatend"));

    // The agent's chat line arrives in pieces that join to the whole line; a refused command sends
    // nothing, so "end" is the next message.
    QSignalSpy received(&server, &VncServerComponent::TextReceived);
    const QString agentLine = LongLine(650);
    agent.Command("\\chat " + agentLine);
    agent.Command(QStringLiteral("\\chatty x"));
    agent.Command(QStringLiteral("\\end"));
    QStringList texts;
    ASSERT_TRUE(WaitFor(
        [&] {
            while (texts.size() < received.size())
                texts << pelio::app::DecryptValue(received[texts.size()][1].toString());
            return texts.contains(QStringLiteral("end"));
        },
        20000));
    ASSERT_EQ(texts.size(), 6);
    EXPECT_EQ(texts.first(), QStringLiteral("chatstart"));
    EXPECT_EQ(texts[4], QStringLiteral("chatend"));
    EXPECT_EQ(texts[5], QStringLiteral("end"));
    pelio::session::ChatBuffer joined;
    for (const QString& text : texts.mid(1, 3)) {
        const auto message = pelio::session::SplitMessage(text);
        EXPECT_EQ(message.keyword, QStringLiteral("chat"));
        joined.Append(message.argument);
    }
    EXPECT_EQ(joined.Take(), agentLine);
    QByteArray errors;
    EXPECT_TRUE(WaitFor([&] {
        errors += agent.process().readAllStandardError();
        return errors.contains("pelio-agent: unknown command \\chatty");
    })) << errors.constData();

    agent.Command(QStringLiteral("\\quit"));
    EXPECT_TRUE(agent.WaitExit());
    server.Stop();
}

// The raw peer sends its early lines with the handshake, before the link is admitted; whether they
// pass is the component's rule and not looked at here. The handshake has to hold together with them
// in front, and the session has to run as the viewer's does afterwards.
TEST(AgentSession, RawPeerSendsEarlyLinesWithTheHandshakeAndThenRunsTheSession) {
    pelio::test::XvfbDisplay x(QSize(320, 240));
    ASSERT_TRUE(x.ok());
    VncServerComponent server(x.name());
    server.Start(18925);
    ASSERT_TRUE(server.Active());
    AgentProcess agent({QStringLiteral("--early"), QStringLiteral("early"), QStringLiteral("--early"),
                        QStringLiteral("\\pointer 5 5 1"), QStringLiteral("--early"),
                        QStringLiteral("\\chat ") + LongLine(400)});
    ASSERT_GT(agent.port(), 0);
    QSignalSpy connected(&server, &VncServerComponent::Connected);
    QSignalSpy received(&server, &VncServerComponent::TextReceived);
    ASSERT_TRUE(server.Connect(QStringLiteral("127.0.0.1"), agent.port()));
    ASSERT_TRUE(WaitFor([&] { return !connected.isEmpty(); }));
    EXPECT_EQ(agent.WaitLine(QStringLiteral("connected ")), QStringLiteral("connected 127.0.0.1"));
    server.Client(connected.first().first().toInt())->SetAllowed(true);
    EXPECT_EQ(agent.WaitLine(QStringLiteral("screen ")), QStringLiteral("screen 320x240"));

    const auto send = [&](const QString& plain) { server.Send(0, pelio::app::EncryptValue(plain)); };
    send(pelio::session::SessionGreeting(QStringLiteral("M1"), QStringLiteral("홍길동"),
                                         QStringLiteral("010"), QStringLiteral("hong")));
    EXPECT_EQ(agent.WaitLine(QStringLiteral("message customer:")),
              QStringLiteral("message customer:M1/홍길동/010/hong"));
    EXPECT_EQ(agent.WaitLine(QStringLiteral("greeting ")), QStringLiteral("greeting M1\t홍길동\t010\thong"));
    const QString customerLine = LongLine(650);
    for (const QString& message : pelio::session::ChatMessages(customerLine)) send(message);
    EXPECT_EQ(agent.WaitLine(QStringLiteral("chat ")), "chat " + Escaped(customerLine));

    // Texts of several framing pieces each, after a plain one.
    agent.Command(QStringLiteral("after"));
    agent.Command(QStringLiteral("\\repeat 2 \\rawchat 5000"));
    QStringList texts;
    ASSERT_TRUE(WaitFor(
        [&] {
            while (texts.size() < received.size())
                texts << pelio::app::DecryptValue(received[texts.size()][1].toString());
            const qsizetype after = texts.indexOf(QStringLiteral("after"));
            return after >= 0 && texts.size() >= after + 3;
        },
        20000));
    const QStringList late = texts.mid(texts.indexOf(QStringLiteral("after")) + 1);
    ASSERT_EQ(late.size(), 2);
    for (const QString& text : late) {
        const auto message = pelio::session::SplitMessage(text);
        EXPECT_EQ(message.keyword, QStringLiteral("chat"));
        EXPECT_EQ(message.argument.size(), 5000);
    }

    agent.Command(QStringLiteral("\\quit"));
    EXPECT_FALSE(agent.WaitLine(QStringLiteral("disconnected")).isEmpty());
    EXPECT_TRUE(agent.WaitExit());
    server.Stop();
}

// The agent's key made by keygen: a component given the printed pin takes the agent's TLS link, both
// ends show the same check code, and the session runs inside the tunnel as it does without one.
TEST(AgentSession, ListenWithAKeyRunsTheSessionOverTlsToTheComponentGivenThePrintedPin) {
    pelio::test::XvfbDisplay x(QSize(320, 240));
    ASSERT_TRUE(x.ok());
    QTemporaryDir dir;
    const QString keyFile = dir.filePath(QStringLiteral("agent.key"));
    QProcess keygen;
    keygen.start(QStringLiteral(PELIO_AGENT_EXECUTABLE), {QStringLiteral("keygen"), keyFile});
    ASSERT_TRUE(keygen.waitForFinished(30000));
    ASSERT_EQ(keygen.exitCode(), 0);
    const QString pin = QString::fromUtf8(keygen.readAllStandardOutput()).trimmed();

    VncServerComponent server(x.name());
    server.Start(18925);
    ASSERT_TRUE(server.Active());
    AgentProcess agent({QStringLiteral("--key"), keyFile});
    ASSERT_GT(agent.port(), 0);
    server.SetAgentPin(pin);
    QSignalSpy connected(&server, &VncServerComponent::Connected);
    QSignalSpy received(&server, &VncServerComponent::TextReceived);
    QSignalSpy disconnected(&server, &VncServerComponent::Disconnected);
    ASSERT_TRUE(server.Connect(QStringLiteral("127.0.0.1"), agent.port()));
    ASSERT_TRUE(WaitFor([&] { return !connected.isEmpty(); }));
    auto* client = server.Client(connected.first().first().toInt());
    const QString code = client->CheckCode();
    ASSERT_EQ(code.size(), 7);
    EXPECT_EQ(agent.WaitLine(QStringLiteral("secure ")), "secure " + QString(code).remove(u' ') + u' ' + pin);

    client->SetAllowed(true);
    EXPECT_EQ(agent.WaitLine(QStringLiteral("screen ")), QStringLiteral("screen 320x240"));
    server.Send(0, pelio::app::EncryptValue(QStringLiteral("고객이 보냄")));
    EXPECT_EQ(agent.WaitLine(QStringLiteral("message ")), QStringLiteral("message 고객이 보냄"));
    agent.Command(QStringLiteral("상담원이 보냄"));
    ASSERT_TRUE(WaitFor([&] { return !received.isEmpty(); }));
    EXPECT_EQ(pelio::app::DecryptValue(received.first()[1].toString()), QStringLiteral("상담원이 보냄"));

    agent.Command(QStringLiteral("\\quit"));
    EXPECT_FALSE(agent.WaitLine(QStringLiteral("disconnected")).isEmpty());
    EXPECT_TRUE(agent.WaitExit());
    EXPECT_EQ(agent.process().exitCode(), 0);
    EXPECT_TRUE(WaitFor([&] { return !disconnected.isEmpty(); }));
    server.Stop();
}

// How a link ends decides whether the customer's program dials again: a reset (a network that dropped
// the link) is lost, and `listen` takes the same customer back on a new link; the agent's \quit is a
// close, neither lost nor awaited.
TEST(AgentSession, ALostLinkIsToldFromAClosedOneAndTheCustomerIsTakenBack) {
    pelio::test::XvfbDisplay x(QSize(320, 240));
    ASSERT_TRUE(x.ok());
    VncServerComponent server(x.name());
    server.Start(18925);
    AgentProcess agent;
    ASSERT_GT(agent.port(), 0);
    pelio::test::LinkRelay relay(agent.port());
    QSignalSpy connected(&server, &VncServerComponent::Connected);
    QSignalSpy disconnected(&server, &VncServerComponent::Disconnected);
    const auto admitAndGreet = [&] {
        ASSERT_TRUE(server.Connect(QStringLiteral("127.0.0.1"), relay.Port()));
        ASSERT_TRUE(WaitFor([&] { return !connected.isEmpty(); }));
        server.Client(connected.takeFirst().first().toInt())->SetAllowed(true);
        server.Send(0, pelio::app::EncryptValue(pelio::session::SessionGreeting(
                           QStringLiteral("M1"), QStringLiteral("홍길동"), QString(), QString())));
    };
    admitAndGreet();
    EXPECT_FALSE(agent.WaitLine(QStringLiteral("greeting M1")).isEmpty());

    relay.Cut();
    ASSERT_TRUE(WaitFor([&] { return !disconnected.isEmpty(); }));
    EXPECT_TRUE(server.LinkLost(disconnected.takeFirst().first().toInt()));
    EXPECT_FALSE(agent.WaitLine(QStringLiteral("disconnected")).isEmpty());
    EXPECT_FALSE(agent.WaitLine(QStringLiteral("listening ")).isEmpty());  // again, at the same port
    ASSERT_TRUE(relay.Resume());
    admitAndGreet();
    EXPECT_EQ(agent.WaitLine(QStringLiteral("reconnected ")), QStringLiteral("reconnected M1"));

    agent.Command(QStringLiteral("\\quit"));
    ASSERT_TRUE(WaitFor([&] { return !disconnected.isEmpty(); }));
    EXPECT_FALSE(server.LinkLost(disconnected.takeFirst().first().toInt()));
    EXPECT_TRUE(agent.WaitExit());
    server.Stop();
}
