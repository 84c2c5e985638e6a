// The server component on a screen split into two monitors (RandR 1.5, set with xrandr on a private
// Xvfb): the agent chooses the second and sees it alone, points into it and goes back to the whole
// desktop, while the recording keeps the whole desktop; a monitor taken away gives the whole desktop
// back.
#include "ServerTestSupport.h"
#include "recording/SrfReader.h"
#include "server/VncServerComponent.h"
#include "support/XvfbDisplay.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <X11/Xlib.h>

using pelio::components::SrfOpenStatus;
using pelio::components::SrfReader;
using pelio::components::VncServerComponent;
using pelio::test::AgentProcess;
using pelio::test::WaitFor;
using pelio::test::XvfbDisplay;

namespace {

constexpr QRgb kColour = 0xcc3311;
const QRect kLeft(0, 0, 640, 480), kRight(640, 0, 640, 480);
const QRect kWindow(700, 100, 200, 150);  // on the right monitor

class MonitorSession : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_x.ok());
        // The left monitor takes the display's one output; the right one is a monitor without one.
        ASSERT_TRUE(Xrandr({QStringLiteral("--setmonitor"), QStringLiteral("L"),
                            QStringLiteral("640/170x480/127+0+0"), QStringLiteral("screen")}));
        ASSERT_TRUE(Xrandr({QStringLiteral("--setmonitor"), QStringLiteral("R"),
                            QStringLiteral("640/170x480/127+640+0"), QStringLiteral("none")}));
        m_server.Start(18925);
        ASSERT_TRUE(m_server.Active());
    }

    // A window of kColour at kWindow.
    void ShowWindow() {
        auto* d = static_cast<Display*>(m_x.display());
        const Window window =
            XCreateSimpleWindow(d, DefaultRootWindow(d), kWindow.x(), kWindow.y(), unsigned(kWindow.width()),
                                unsigned(kWindow.height()), 0, 0, kColour);
        XMapWindow(d, window);
        XSync(d, False);
    }

    bool Xrandr(const QStringList& arguments) {
        QProcess xrandr;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), m_x.name());
        xrandr.setProcessEnvironment(env);
        xrandr.start(QStringLiteral("xrandr"), arguments);
        return xrandr.waitForFinished(10000) && xrandr.exitStatus() == QProcess::NormalExit &&
               xrandr.exitCode() == 0;
    }

    // Admits the agent once it has connected; false when it did not.
    bool Admit(AgentProcess& agent) {
        QSignalSpy connected(&m_server, &VncServerComponent::Connected);
        if (!m_server.Connect(QStringLiteral("127.0.0.1"), agent.port())) return false;
        if (!WaitFor([&] { return !connected.isEmpty(); }, 10000)) return false;
        m_server.Client(connected.first().first().toInt())->SetAllowed(true);
        return true;
    }

    // The screen the agent has now, once it shows the window's colour at `at`.
    QImage AgentScreenShowing(AgentProcess& agent, QPoint at) {
        const QString file = m_dir.filePath(QStringLiteral("agent.png"));
        QImage screen;
        WaitFor(
            [&] {
                agent.Command(QStringLiteral("\\save ") + file);
                if (agent.WaitLine(QStringLiteral("saved"), 2000).isEmpty()) return false;
                screen = QImage(file);
                return screen.valid(at) && (screen.pixel(at) & 0xffffff) == kColour;
            },
            10000);
        return screen;
    }

    QPoint Pointer() const {
        auto* d = static_cast<Display*>(m_x.display());
        Window r = 0, c = 0;
        int x = 0, y = 0, wx = 0, wy = 0;
        unsigned mask = 0;
        XQueryPointer(d, DefaultRootWindow(d), &r, &c, &x, &y, &wx, &wy, &mask);
        return QPoint(x, y);
    }

    XvfbDisplay m_x{QSize(1280, 480)};
    VncServerComponent m_server{m_x.name()};
    QTemporaryDir m_dir;
};

}  // namespace

TEST_F(MonitorSession, TheAgentSeesAndPointsIntoTheMonitorItChoseWhileTheRecordingKeepsTheDesktop) {
    EXPECT_EQ(m_server.Monitors(), (QList<QRect>{kLeft, kRight}));
    const QString recording = m_dir.filePath(QStringLiteral("session.srf"));
    m_server.StartRecording(recording);
    AgentProcess agent;
    ASSERT_TRUE(Admit(agent));
    EXPECT_EQ(agent.WaitLine(QStringLiteral("screen")), QStringLiteral("screen 1280x480"));

    EXPECT_FALSE(m_server.ShowMonitor(3));
    EXPECT_FALSE(m_server.ShowMonitor(-1));
    ASSERT_TRUE(m_server.ShowMonitor(2));
    EXPECT_EQ(agent.WaitLine(QStringLiteral("screen")), QStringLiteral("screen 640x480"));
    // Drawn after the choice: the monitor's changes reach the agent.
    ShowWindow();
    const QPoint inside = kWindow.center() - kRight.topLeft();
    const QImage shown = AgentScreenShowing(agent, inside);
    EXPECT_EQ(shown.size(), kRight.size());
    EXPECT_EQ(shown.pixel(inside) & 0xffffff, kColour);
    agent.Command(QStringLiteral("\\pointer 10 20 0"));
    EXPECT_TRUE(WaitFor([&] { return Pointer() == kRight.topLeft() + QPoint(10, 20); }, 10000))
        << Pointer().x();

    ASSERT_TRUE(m_server.ShowMonitor(0));
    EXPECT_EQ(agent.WaitLine(QStringLiteral("screen")), QStringLiteral("screen 1280x480"));
    EXPECT_EQ(AgentScreenShowing(agent, kWindow.center()).size(), QSize(1280, 480));
    agent.Command(QStringLiteral("\\pointer 11 21 0"));
    EXPECT_TRUE(WaitFor([&] { return Pointer() == QPoint(11, 21); }, 10000));

    m_server.StopRecording();
    SrfReader reader;
    ASSERT_TRUE(
        WaitFor([&] { return reader.Open(recording) == SrfOpenStatus::Ok && reader.IsComplete(); }, 10000));
    ASSERT_TRUE(reader.SeekTo(reader.LengthMs()));
    EXPECT_EQ(reader.Screen().size(), QSize(1280, 480));
    EXPECT_EQ(reader.Screen().pixel(kWindow.center()) & 0xffffff, kColour);
}

TEST_F(MonitorSession, AMonitorTakenAwayGivesTheWholeDesktopBack) {
    AgentProcess agent;
    ASSERT_TRUE(Admit(agent));
    ASSERT_FALSE(agent.WaitLine(QStringLiteral("screen")).isEmpty());
    ASSERT_TRUE(m_server.ShowMonitor(2));
    EXPECT_EQ(agent.WaitLine(QStringLiteral("screen")), QStringLiteral("screen 640x480"));

    QSignalSpy changed(&m_server, &VncServerComponent::MonitorsChanged);
    ASSERT_TRUE(Xrandr({QStringLiteral("--delmonitor"), QStringLiteral("R")}));
    EXPECT_TRUE(WaitFor([&] { return !changed.isEmpty(); }, 10000));
    EXPECT_EQ(m_server.Monitors(), QList<QRect>{kLeft});
    EXPECT_EQ(agent.WaitLine(QStringLiteral("screen")), QStringLiteral("screen 1280x480"));
    agent.Command(QStringLiteral("\\pointer 10 20 0"));
    EXPECT_TRUE(WaitFor([&] { return Pointer() == QPoint(10, 20); }, 10000));
}
