// The server component's test double keeps the rules of the real one that session code relies on.
#include "server/FakeServerComponent.h"

#include <gtest/gtest.h>

#include <QSignalSpy>

using pelio::components::FakeServerComponent;
using pelio::components::ServerComponent;

TEST(FakeServerComponent, KeepsTheRealComponentsRules) {
    FakeServerComponent server;
    server.Send(0, QStringLiteral("before start"));
    EXPECT_TRUE(server.sent.isEmpty());  // inactive: nothing reaches the agent

    server.Start(18925);
    EXPECT_TRUE(server.Active());
    QSignalSpy connected(&server, &ServerComponent::Connected);
    const int index = server.SimulateConnected(QStringLiteral("127.0.0.1"));
    ASSERT_EQ(connected.size(), 1);
    EXPECT_EQ(connected.first().first().toInt(), index);
    EXPECT_EQ(server.Client(index)->Address(), QStringLiteral("127.0.0.1"));
    server.Client(index)->SetAllowed(true);
    server.Client(index)->SetAllowed(false);  // admission cannot be taken back
    EXPECT_TRUE(server.Client(index)->Allowed());
    EXPECT_NE(server.Client(index + 100), nullptr);  // an unknown index gives an inert object
    EXPECT_TRUE(server.Client(index + 100)->Address().isEmpty());

    server.Send(0, QStringLiteral("hello"));
    server.Send(1, QStringLiteral("to nobody"));
    EXPECT_EQ(server.sent, QStringList{QStringLiteral("hello")});
    EXPECT_TRUE(server.calls.contains(QStringLiteral("Start 18925")));
}
