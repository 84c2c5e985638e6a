// The agent's screen view: the rules of a "showme" (where the viewer connects, the titles, the
// 10-second limit and its report, the window's close) on a recording surface, and the window with a
// fake viewer: a newer "showme" or "stopshowme" ends the view that is open, ViewClosed closes it.
#include "app/AppContext.h"
#include "platform/FakeServices.h"
#include "session/ScreenViewHost.h"
#include "session/frmRemote.h"
#include "support/ScriptedMessageBoxes.h"
#include "support/Wait.h"
#include "viewer/FakeViewerComponent.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QPointer>

// Readable failures.
static void PrintTo(const QString& text, std::ostream* os) {
    *os << text.toStdString();
}
static void PrintTo(const QStringList& list, std::ostream* os) {
    *os << list.join(u'|').toStdString();
}

using namespace pelio::session;
using pelio::components::FakeViewerComponent;

namespace {

// The window and viewer as the controller drives them, every call recorded.
class RecordingSurface : public ScreenViewController::Surface {
  public:
    QStringList calls;
    bool connected = false, foreground = true;
    std::function<void()> onInform;  // runs inside the box, as window events would

    void Place() override { calls << QStringLiteral("place"); }
    void Show() override { calls << QStringLiteral("show"); }
    void SetTitle(const QString& t) override { calls << QStringLiteral("title:") + t; }
    void SetTimer1(bool on) override { calls << QStringLiteral("timer1:%1").arg(on); }
    void SetTimer2(bool on) override { calls << QStringLiteral("timer2:%1").arg(on); }
    void Repaint() override { calls << QStringLiteral("repaint"); }
    void Center() override { calls << QStringLiteral("center"); }
    bool IsForeground() const override { return foreground; }
    void Inform(const QString& text) override {
        calls << QStringLiteral("inform:") + text;
        if (onInform) onInform();
    }
    void Close() override { calls << QStringLiteral("close"); }
    void ViewerSetFlags(bool a, bool b) override { calls << QStringLiteral("flags:%1,%2").arg(a).arg(b); }
    void ViewerSetAccessCode(const QString& c) override { calls << QStringLiteral("code:") + c; }
    void ViewerConnect(const QString& a, int p) override {
        calls << QStringLiteral("connect:%1:%2").arg(a).arg(p);
    }
    bool ViewerIsConnected() const override { return connected; }
    void ViewerSetAllowControl(bool on) override { calls << QStringLiteral("allow:%1").arg(on); }
    void ViewerSetWindowActive(bool on) override { calls << QStringLiteral("active:%1").arg(on); }
    void ViewerShutdown() override { calls << QStringLiteral("shutdown"); }
    void ViewerDisconnect() override {
        calls << QStringLiteral("disconnect");
        connected = false;
    }
};

// Time moves only by the procedure's waits; each wait may run something, as window events would.
struct Clock {
    qint64 now = 0;
    std::function<void()> duringWait;
    ScreenViewController::Hooks Hooks() {
        return {[this] { return now; },
                [this](int ms) {
                    now += ms;
                    if (duringWait) duringWait();
                }};
    }
};

ScreenViewRequest Request(const QString& flag) {
    return ReadShowMe(
        ShowMeFields{QStringLiteral("김상담"), flag, QStringLiteral("192.168.0.9"), QStringLiteral("5901")},
        QStringLiteral("10.0.0.5"), QStringLiteral("1.2.3.4"));
}

}  // namespace

TEST(ScreenViewRules, TheViewerGoesWhereTheSessionReachedTheAgentWithTheMessagesPort) {
    const ShowMeFields fields{QStringLiteral("김상담"), QStringLiteral("1"), QStringLiteral("192.168.0.9"),
                              QStringLiteral("5901")};
    const ScreenViewRequest elsewhere =
        ReadShowMe(fields, QStringLiteral("10.0.0.5"), QStringLiteral("1.2.3.4"));
    EXPECT_EQ(elsewhere.address, QStringLiteral("10.0.0.5"));
    EXPECT_EQ(elsewhere.port, 5901);
    EXPECT_TRUE(elsewhere.operable);
    // Reached at the customer's own public address: the agent is behind it, at the message's address.
    const ScreenViewRequest behind = ReadShowMe(fields, QStringLiteral("AB::1"), QStringLiteral("ab::1"));
    EXPECT_EQ(behind.address, QStringLiteral("192.168.0.9"));
    // Only "1" allows control; a port that is no number is 0.
    EXPECT_FALSE(
        ReadShowMe({QString(), QStringLiteral("true"), QString(), QStringLiteral("x")}, QString(), QString())
            .operable);
    EXPECT_EQ(
        ReadShowMe({QString(), QStringLiteral("1"), QString(), QStringLiteral("59x")}, QString(), QString())
            .port,
        0);
    EXPECT_EQ(ScreenViewTitle(QStringLiteral("김상담"), true, false),
              QStringLiteral("[김상담]님의 화면보기 (제어가능) - 접속 시도 중..."));
    EXPECT_EQ(ScreenViewTitle(QStringLiteral("김상담"), false, true),
              QStringLiteral("[김상담]님의 화면보기 - 접속됨"));
}

TEST(ScreenViewRules, AConnectedViewGetsControlItsTitleAndTheForegroundState) {
    RecordingSurface surface;
    Clock clock;
    ScreenViewController controller(surface, clock.Hooks());
    clock.duringWait = [&] { surface.connected = clock.now >= 300; };
    controller.Run(Request(QStringLiteral("1")));
    EXPECT_EQ(surface.calls,
              (QStringList{QStringLiteral("place"), QStringLiteral("flags:0,0"),
                           QStringLiteral("title:[김상담]님의 화면보기 (제어가능) - 접속 시도 중..."),
                           QStringLiteral("timer1:1"), QStringLiteral("timer2:1"), QStringLiteral("show"),
                           QStringLiteral("code:harborclinks"), QStringLiteral("connect:10.0.0.5:5901"),
                           QStringLiteral("allow:1")}));
    EXPECT_EQ(controller.CurrentState(), ScreenViewController::State::Connected);

    surface.calls.clear();
    controller.Timer1Tick();
    controller.Timer1Tick();  // Timer1 is off after the first: the title is set once
    surface.foreground = false;
    controller.Timer2Tick();
    EXPECT_EQ(surface.calls, (QStringList{QStringLiteral("timer1:0"),
                                          QStringLiteral("title:[김상담]님의 화면보기 (제어가능) - 접속됨"),
                                          QStringLiteral("repaint"), QStringLiteral("active:0")}));
}

TEST(ScreenViewRules, NoScreenAfterTenSecondsIsReportedOnceAtTheNextTickAndClosesTheWindow) {
    RecordingSurface surface;
    Clock clock;
    ScreenViewController controller(surface, clock.Hooks());
    bool ticked = false;
    clock.duringWait = [&] {
        // A tick exactly at the limit reports nothing: the limit is passed only after it.
        if (clock.now == ScreenViewController::kGiveUpMs) {
            controller.Timer1Tick();
            ticked = true;
        }
    };
    controller.Run(Request(QStringLiteral("0")));
    ASSERT_TRUE(ticked);
    EXPECT_EQ(clock.now, ScreenViewController::kGiveUpMs + ScreenViewController::kTickMs);
    EXPECT_TRUE(controller.ConnectCancel());
    EXPECT_EQ(surface.calls.filter(QStringLiteral("inform:")).size(), 0);
    EXPECT_EQ(surface.calls.last(), QStringLiteral("disconnect"));
    EXPECT_FALSE(surface.calls.contains(QStringLiteral("allow:0")));

    // Ticks that run while the box is open report nothing more.
    surface.onInform = [&] { controller.Timer1Tick(); };
    controller.Timer1Tick();
    EXPECT_EQ(surface.calls.filter(QStringLiteral("inform:")),
              QStringList{QStringLiteral("inform:상담원 화면을 볼 수 없거나 취소되었습니다.")});
    EXPECT_EQ(surface.calls.last(), QStringLiteral("close"));
    EXPECT_FALSE(controller.ConnectCancel());
}

TEST(ScreenViewRules, AWindowClosedDuringTheWaitEndsTheProcedureAndTheView) {
    RecordingSurface surface;
    Clock clock;
    ScreenViewController controller(surface, clock.Hooks());
    clock.duringWait = [&] {
        if (clock.now != 500) return;
        controller.Unload();
        surface.connected = true;  // too late: the window is gone
    };
    controller.Run(Request(QStringLiteral("1")));
    const QStringList tail =
        surface.calls.mid(surface.calls.indexOf(QStringLiteral("connect:10.0.0.5:5901")) + 1);
    EXPECT_EQ(tail, (QStringList{QStringLiteral("timer1:0"), QStringLiteral("timer2:0"),
                                 QStringLiteral("shutdown"), QStringLiteral("disconnect")}));
    controller.Timer1Tick();
    controller.OnViewClosed();
    EXPECT_EQ(surface.calls.size(),
              tail.size() + surface.calls.indexOf(QStringLiteral("connect:10.0.0.5:5901")) + 1);
}

// The window with a fake viewer, as the session opens it.
class ScreenViewWindow : public ::testing::Test {
  protected:
    ScreenViewWindow() { context.IniFile = folder.file(QStringLiteral("PelioRS.ini")); }

    pelio::test::TempFolder folder;
    pelio::app::AppContext context;
    pelio::platform::FakeWindowManager windows;
    std::vector<QPointer<FakeViewerComponent>> viewers;
    qint64 now = 0;
    std::function<void()> duringWait;
    ScreenViewHost host{context,
                        windows,
                        [this] {
                            auto viewer = std::make_unique<FakeViewerComponent>();
                            viewers.push_back(viewer.get());
                            return viewer;
                        },
                        {[this] { return now; },
                         [this](int ms) {
                             now += ms;
                             if (duringWait) duringWait();
                             QCoreApplication::processEvents();
                         }},
                        [] { return QStringLiteral("127.0.0.1"); },
                        nullptr};

    void ShowMe(const QString& name, const QString& flag = QStringLiteral("1")) {
        host.ShowMe(ShowMeFields{name, flag, QStringLiteral("127.0.0.1"), QStringLiteral("5901")});
    }
};

TEST_F(ScreenViewWindow, ANewerShowMeOrStopShowMeEndsTheViewThatIsOpen) {
    // The first view connects; the second "showme" comes while the first still connects.
    duringWait = [&] {
        if (viewers.size() == 1 && now == 300) {
            duringWait = [&] { viewers.back()->SetConnected(true); };
            ShowMe(QStringLiteral("이상담"));
        }
    };
    ShowMe(QStringLiteral("김상담"));
    ASSERT_EQ(viewers.size(), 2u);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(viewers[0].isNull());  // the first window is gone with its viewer
    frmRemote* window = host.Window();
    ASSERT_TRUE(window);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->AgentName(), QStringLiteral("이상담"));
    EXPECT_EQ(viewers[1]->calls.filter(QStringLiteral("SetAllowControl")),
              QStringList{QStringLiteral("SetAllowControl true")});
    // The viewer fills the window's inner area and has a name for screen readers.
    window->resize(640, 400);
    EXPECT_EQ(window->RV()->geometry(), QRect(0, 0, 640, 400));
    EXPECT_FALSE(window->RV()->accessibleName().isEmpty());

    QPointer<FakeViewerComponent> second = viewers[1];
    const QStringList before = second->calls;
    host.StopShowMe();
    EXPECT_FALSE(host.Window());
    ASSERT_TRUE(second);  // deleted later
    EXPECT_EQ(second->calls.mid(before.size()),
              (QStringList{QStringLiteral("Shutdown"), QStringLiteral("Disconnect")}));
}

// A "showme" and then a "stopshowme" that both come while a view connects: nothing is left open.
TEST_F(ScreenViewWindow, AStopAfterAWaitingShowMeOpensNothingMore) {
    duringWait = [&] {
        duringWait = {};
        ShowMe(QStringLiteral("이상담"));
        host.StopShowMe();
    };
    ShowMe(QStringLiteral("김상담"));
    EXPECT_EQ(viewers.size(), 1u);
    EXPECT_FALSE(host.Window());
}

TEST_F(ScreenViewWindow, ViewClosedClosesTheWindowAndTheGiveUpIsReported) {
    duringWait = [&] { viewers.back()->SetConnected(true); };
    ShowMe(QStringLiteral("김상담"));
    QPointer<frmRemote> window = host.Window();
    ASSERT_TRUE(window);
    viewers.back()->SimulateViewClosed();
    EXPECT_FALSE(window->isVisible());

    // No screen: after 10 seconds the box, then the window closes.
    pelio::test::ScriptedMessageBoxes boxes;
    boxes.Answer(pelio::util::MsgAnswer::Ok);
    duringWait = {};
    ShowMe(QStringLiteral("김상담"), QStringLiteral("0"));
    window = host.Window();
    ASSERT_TRUE(window);
    EXPECT_TRUE(window->ConnectCancel());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("[김상담]님의 화면보기 - 접속 시도 중..."));
    EXPECT_TRUE(pelio::test::WaitFor([&] { return window.isNull() || !window->isVisible(); }));
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, kScreenGaveUpText);
}
