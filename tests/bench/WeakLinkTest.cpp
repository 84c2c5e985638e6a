// The weak link the benchmarks put between a server and its viewer: whatever its rate and delay, every
// byte arrives in order both ways, and an end passes after the bytes before it.
#include "WeakLink.h"

#include "support/Wait.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

#include <random>

using pelio::bench::WeakLink;
using pelio::test::WaitFor;

namespace {

QByteArray Noise(int size, unsigned seed) {
    std::mt19937 random(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char& b : bytes) b = char(random());
    return bytes;
}

}  // namespace

TEST(WeakLink, EveryByteArrivesInOrderBothWaysAndTheEndAfterThem) {
    QTcpServer target;
    ASSERT_TRUE(target.listen(QHostAddress::LocalHost, 0));
    // Fast enough for a test, slow enough that the window fills and the rate holds the writer back.
    WeakLink link({40e6, 10});
    ASSERT_TRUE(link.Start(target.serverPort()));

    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, quint16(link.Port()));
    ASSERT_TRUE(WaitFor([&] { return target.hasPendingConnections(); }, 10000));
    QTcpSocket* server = target.nextPendingConnection();

    // Written in pieces of every size, as a screen server writes.
    const QByteArray up = Noise(1500000, 1), down = Noise(700000, 2);
    for (qsizetype at = 0, piece = 1; at < up.size(); at += piece, piece = piece * 3 % 70001 + 1)
        client.write(up.mid(at, piece));
    server->write(down);
    QByteArray gotUp, gotDown;
    ASSERT_TRUE(WaitFor(
        [&] {
            gotUp += server->readAll();
            gotDown += client.readAll();
            return gotUp.size() >= up.size() && gotDown.size() >= down.size();
        },
        60000))
        << gotUp.size() << " " << gotDown.size();
    EXPECT_TRUE(gotUp == up);
    EXPECT_TRUE(gotDown == down);
    EXPECT_EQ(link.BytesTowardsTarget(), std::uint64_t(up.size()));
    EXPECT_EQ(link.BytesBack(), std::uint64_t(down.size()));

    // The client ends: the server reads the last bytes, then the end.
    client.write("last words");
    client.disconnectFromHost();
    QByteArray tail;
    EXPECT_TRUE(WaitFor(
        [&] {
            tail += server->readAll();
            return server->state() != QAbstractSocket::ConnectedState;
        },
        10000));
    tail += server->readAll();
    EXPECT_EQ(tail, QByteArray("last words"));
}
