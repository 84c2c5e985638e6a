// A third-party viewer (TigerVNC's vncviewer in listening mode, on a display of its own) takes the
// server component's reverse connection and shows the customer's screen.
#include "ServerTestSupport.h"
#include "server/VncServerComponent.h"
#include "support/XvfbDisplay.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>

using pelio::components::VncServerComponent;
using pelio::test::WaitFor;
using pelio::test::XvfbDisplay;

namespace {

// Where `part` appears in `whole`, if anywhere.
bool Contains(const QImage& whole, const QImage& part) {
    for (int y = 0; y + part.height() <= whole.height(); ++y)
        for (int x = 0; x + part.width() <= whole.width(); ++x) {
            if ((whole.pixel(x, y) & 0xffffff) != (part.pixel(0, 0) & 0xffffff)) continue;
            if (pelio::test::SamePixels(whole.copy(x, y, part.width(), part.height()), part)) return true;
        }
    return false;
}

TEST(ThirdPartyViewer, ListeningTigerVncViewerShowsTheCustomerScreen) {
    if (QStandardPaths::findExecutable(QStringLiteral("vncviewer")).isEmpty())
        GTEST_SKIP() << "vncviewer is not installed (scripts/deps.sh)";
    XvfbDisplay customer(QSize(640, 480));
    XvfbDisplay agentDisplay(QSize(800, 600));
    ASSERT_TRUE(customer.ok() && agentDisplay.ok());
    const QRect area(40, 40, 120, 80);
    pelio::test::DrawPattern(customer.display(), area, 5);
    const QImage expected = pelio::test::GrabScreen(customer.display(), area);

    QProcess viewer;
    QByteArray output;
    const int port = pelio::test::StartListeningVncViewer(
        viewer, agentDisplay.name(),
        {QStringLiteral("-AutoSelect=0"), QStringLiteral("-PreferredEncoding=ZRLE"),
         QStringLiteral("-FullColor=1"), QStringLiteral("-SecurityTypes=None")},
        output);
    ASSERT_GT(port, 0) << output.toStdString();

    VncServerComponent server(customer.name());
    server.Start(18925);
    QSignalSpy connected(&server, &VncServerComponent::Connected);
    EXPECT_TRUE(server.Connect(QStringLiteral("127.0.0.1"), port));
    ASSERT_TRUE(WaitFor([&] { return !connected.isEmpty(); }, 10000)) << output.toStdString();
    auto* client = server.Client(connected.first().first().toInt());
    EXPECT_EQ(client->Address(), QStringLiteral("127.0.0.1"));
    client->SetAllowed(true);

    EXPECT_TRUE(WaitFor(
        [&] {
            return Contains(pelio::test::GrabScreen(agentDisplay.display(), QRect(0, 0, 800, 600)), expected);
        },
        15000))
        << output.toStdString();

    // A later change reaches the viewer too.
    pelio::test::DrawPattern(customer.display(), area, 6);
    const QImage changed = pelio::test::GrabScreen(customer.display(), area);
    EXPECT_TRUE(WaitFor(
        [&] {
            return Contains(pelio::test::GrabScreen(agentDisplay.display(), QRect(0, 0, 800, 600)), changed);
        },
        15000));

    server.Stop();
    viewer.kill();
    viewer.waitForFinished(5000);
}

}  // namespace
