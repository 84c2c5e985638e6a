// The agent's screen served through TLS with the agent's key (AgentScreen with a key: x11vnc on
// 127.0.0.1 behind the agent's TLS front) and the viewer component reaching it through a tunnel that
// takes only the server with the pin it was given.
#include "AgentScreen.h"
#include "ScreenPixels.h"
#include "secure/AgentKey.h"
#include "secure/TlsTunnel.h"
#include "support/XvfbDisplay.h"
#include "viewer/VncViewerComponent.h"

#include <gtest/gtest.h>

#include <QStandardPaths>

#include <atomic>
#include <memory>

using pelio::components::VncViewerComponent;
using pelio::components::secure::AgentKey;
using pelio::components::secure::Pin;
using pelio::components::secure::TlsTunnel;
using pelio::test::WaitFor;

namespace {

constexpr int kNoAnswer = -1;

// The viewer's socket wrap: TLS to the server with `pin`; what the handshake ended with goes to
// `outcome` (a TlsTunnel::Failure).
VncViewerComponent::SocketWrap TlsWrap(const Pin& pin, std::atomic<int>* outcome) {
    return [pin, outcome](int socket, const std::function<bool()>& cancelled, std::shared_ptr<void>& keep,
                          std::string& why) {
        TlsTunnel::Options options;
        options.cancelled = cancelled;
        TlsTunnel::Failure failure = TlsTunnel::Failure::None;
        std::shared_ptr<TlsTunnel> tunnel = TlsTunnel::Connect(socket, pin, options, &failure);
        outcome->store(int(failure));
        if (!tunnel) {
            why = TlsTunnel::FailureText(failure);
            return -1;
        }
        keep = tunnel;
        return tunnel->TakePlainFd();
    };
}

bool Shows(VncViewerComponent& viewer, unsigned long colour) {
    const QImage picture = viewer.grab().toImage();
    return (picture.pixel(picture.rect().center()) & 0xffffffu) == colour;
}

}  // namespace

TEST(AgentScreenThroughTls, OnlyTheViewerWithTheAgentsPinSeesTheScreen) {
    if (QStandardPaths::findExecutable(QStringLiteral("x11vnc")).isEmpty())
        GTEST_SKIP() << "x11vnc is not installed (scripts/deps.sh)";
    pelio::test::XvfbDisplay agentDisplay{QSize(640, 480)};
    ASSERT_TRUE(agentDisplay.ok());
    const AgentKey key = AgentKey::Generate();
    ASSERT_TRUE(key.IsValid());
    pelio::agent::AgentScreen screen(agentDisplay.name().toStdString(), "127.0.0.1");
    screen.SetKey(key);
    const int port = screen.Start();
    ASSERT_GT(port, 0);
    pelio::test::FillScreen(agentDisplay, 0x3366cc);

    // Another key's pin: the handshake fails on the pin and no picture comes.
    std::atomic<int> outcome{kNoAnswer};
    VncViewerComponent refused;
    refused.resize(640, 480);
    refused.SetAccessCode(QStringLiteral("harborclinks"));
    refused.SetSocketWrap(TlsWrap(AgentKey::Generate().GetPin(), &outcome));
    refused.Connect(QStringLiteral("127.0.0.1"), port, QString());
    ASSERT_TRUE(WaitFor([&] { return outcome != kNoAnswer; }));
    EXPECT_EQ(outcome, int(TlsTunnel::Failure::PinMismatch));
    EXPECT_FALSE(refused.IsConnected());

    // The agent's pin: the screen shows, and follows a change; the refused viewer did not spoil the
    // front for the next one.
    outcome = kNoAnswer;
    VncViewerComponent viewer;
    viewer.resize(640, 480);
    viewer.SetAccessCode(QStringLiteral("harborclinks"));
    viewer.SetSocketWrap(TlsWrap(key.GetPin(), &outcome));
    viewer.Connect(QStringLiteral("127.0.0.1"), port, QString());
    ASSERT_TRUE(WaitFor([&] { return viewer.IsConnected(); })) << "outcome " << outcome;
    EXPECT_EQ(outcome, int(TlsTunnel::Failure::None));
    EXPECT_EQ(viewer.RemoteSize(), QSize(640, 480));
    EXPECT_TRUE(WaitFor([&] { return Shows(viewer, 0x3366cc); }));
    pelio::test::FillScreen(agentDisplay, 0xcc6633);
    EXPECT_TRUE(WaitFor([&] { return Shows(viewer, 0xcc6633); }));
    EXPECT_FALSE(refused.IsConnected());
}
