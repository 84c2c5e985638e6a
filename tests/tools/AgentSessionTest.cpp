// pelio-agent in a session with the real server component, under a private Xvfb: what it prints of
// the customer's messages and what its message commands deliver.
#include "ServerTestSupport.h"
#include "app/ValueCipher.h"
#include "server/VncServerComponent.h"
#include "session/SessionMessages.h"
#include "support/XvfbDisplay.h"

#include <gtest/gtest.h>

#include <QSignalSpy>

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
