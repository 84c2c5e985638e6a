// A whole support session of the built program under a private X server: the reference service lists
// reference agents (pelio-agent) started by the test, the customer asks one of them for support, and
// the agent drives the session with its messages. The program's session diagnostics go to its
// standard error; its message boxes go to the message log and its questions are answered Yes.
#include "ScreenPixels.h"
#include "SessionOnDisplay.h"
#include "recording/SrfReader.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QRegularExpression>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

using namespace pelio::test;

namespace {

// The session with openbox as the customer's window manager, for the commands that act on the desktop.
class SessionUnderWindowManager : public SessionOnDisplay {
  protected:
    void SetUp() override {
        SessionOnDisplay::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        ASSERT_TRUE(StartOpenbox(windowManager));
    }
    void TearDown() override {
        SessionOnDisplay::TearDown();
        windowManager.kill();
        windowManager.waitForFinished(5000);
    }

    QProcess windowManager;
};

// The agent shows its own screen: a second X server, served by the agent's VNC server (--screen).
class ScreenViewOnDisplay : public SessionOnDisplay {
  protected:
    void SetUp() override {
        ASSERT_TRUE(agentScreen.ok());
        agentOptions = {QStringLiteral("--screen"), agentScreen.name()};
        SessionOnDisplay::SetUp();
    }

    // An input-only window over the agent's whole screen, with the keyboard focus, that notes the
    // pointer presses and keys it gets.
    void ProbeAgentInput() {
        auto* d = static_cast<Display*>(agentScreen.display());
        XSetWindowAttributes attributes{};
        attributes.event_mask = ButtonPressMask | KeyPressMask;
        probe = XCreateWindow(d, DefaultRootWindow(d), 0, 0, 640, 480, 0, CopyFromParent, InputOnly,
                              CopyFromParent, CWEventMask, &attributes);
        XMapWindow(d, probe);
        XSetInputFocus(d, probe, RevertToParent, CurrentTime);
        XSync(d, False);
    }
    QStringList AgentInput() {
        auto* d = static_cast<Display*>(agentScreen.display());
        XEvent ev;
        while (XCheckWindowEvent(d, probe, ButtonPressMask | KeyPressMask, &ev))
            input << (ev.type == ButtonPress
                          ? QStringLiteral("press")
                          : QStringLiteral("key %1").arg(XLookupKeysym(&ev.xkey, 0), 0, 16));
        return input;
    }

    pelio::test::XvfbDisplay agentScreen{QSize(640, 480)};
    Window probe = 0;
    QStringList input;
};

class BusyAgentOnDisplay : public SessionOnDisplay {
  protected:
    void SetUp() override {
        agentOptions = {QStringLiteral("--busy")};
        SessionOnDisplay::SetUp();
    }
};

}  // namespace

TEST_F(SessionOnDisplay, TheAgentIsGreetedChatsRunsCommandsAndEndsTheSession) {
    // A request prepared in the last run goes to the agent as the customer's first chat line.
    QFile request(programFolder.file(QStringLiteral("요청내용.txt")));
    ASSERT_TRUE(request.open(QIODevice::WriteOnly));
    request.write("화면이 멈췄어요");
    request.close();

    QProcess& program = StartAndConnect();
    ASSERT_TRUE(agent->WaitFor("greeting ")) << log.constData() << Messages().toStdString();
    EXPECT_TRUE(agent->Has("\t홍길동\t010-1234-5678\thong\n")) << agent->Output().constData();
    // The chat window sends it as its first line: the customer's header, then the text in its font.
    ASSERT_TRUE(agent->WaitFor("화면이 멈췄어요</span></font><br>")) << agent->Output().constData();
    EXPECT_TRUE(agent->WaitFor("chat \\r\\n<br><font size=2 color=#008000>홍길동 / 010-1234-5678 ("))
        << agent->Output().constData();

    QString line(650, u'x');
    agent->Send(QStringLiteral("\\chat ") + line);
    EXPECT_TRUE(WaitLog(program, QStringLiteral("agent chat %1\n").arg(line).toUtf8().constData()));
    agent->Send(QStringLiteral("\\chat 똠 뷁 상담원입니다"));
    EXPECT_TRUE(WaitLog(program, "agent chat 똠 뷁 상담원입니다\n"));

    agent->Send(QStringLiteral("URL:http://127.0.0.1:8080/a/b?c=d"));
    EXPECT_TRUE(WaitFor([&] { return Opened().contains(QStringLiteral("http://127.0.0.1:8080/a/b?c=d")); },
                        kWindowWaitMs));

    agent->Send(QStringLiteral("\\end"));
    EXPECT_TRUE(agent->WaitFor("disconnected"));
    EXPECT_TRUE(WaitFor(
        [&] {
            return Messages().contains(QStringLiteral("원격지원이 정상적으로 종료되었습니다. 감사합니다."));
        },
        kWindowWaitMs));
    EXPECT_TRUE(
        WaitFor([&] { return TitleCount(kMainTitle1234 + QStringLiteral(" - 연결이 종료되었습니다.")) == 1; },
                kWindowWaitMs));
    // Closing the chat window writes the whole conversation into the history, in UTF-8 with a BOM.
    ASSERT_TRUE(AskToClose(QStringLiteral("상담원과 대화하기")));
    ASSERT_TRUE(WaitFor([&] { return !History(QStringLiteral("*.htm")).isEmpty(); }, kWindowWaitMs));
    QFile transcript(History(QStringLiteral("*.htm")).first());
    ASSERT_TRUE(transcript.open(QIODevice::ReadOnly));
    const QByteArray bytes = transcript.readAll();
    EXPECT_TRUE(bytes.startsWith("\xEF\xBB\xBF<html>"));
    const QString text = QString::fromUtf8(bytes);
    EXPECT_TRUE(text.contains(QStringLiteral("화면이 멈췄어요")));
    EXPECT_TRUE(text.contains(line));
    EXPECT_TRUE(text.contains(QStringLiteral("똠 뷁 상담원입니다")));
    // The history viewer shows it: the keyboard reaches the transcript's tree and its one file.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("pelio.history.info=true"));
    QProcess& review = Start({QStringLiteral("review")}, env);
    ASSERT_TRUE(Focus(kReviewTitle));
    Xdo({QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("200"), QStringLiteral("Tab"),
         QStringLiteral("Down"), QStringLiteral("Down")});
    QByteArray shown;
    const QRegularExpression shownLine(QStringLiteral("transcript shown (.*\\.htm) ok (\\d+) characters"));
    QRegularExpressionMatch match;
    EXPECT_TRUE(WaitFor(
        [&] {
            shown += review.readAllStandardError();
            match = shownLine.match(QString::fromUtf8(shown));
            return match.hasMatch();
        },
        kWindowWaitMs))
        << shown.constData();
    EXPECT_EQ(QFileInfo(match.captured(1)).fileName(), QFileInfo(transcript).fileName());
    EXPECT_GT(match.captured(2).toInt(), line.size());  // the whole conversation, not an error page
    // The session's recording is in the history and plays.
    ASSERT_TRUE(WaitFor([&] { return !History().isEmpty(); }, kWindowWaitMs));
    pelio::components::SrfReader reader;
    EXPECT_EQ(reader.Open(History().first()), pelio::components::SrfOpenStatus::Ok);
    EXPECT_GE(reader.FrameCount(), 1);
}

TEST_F(BusyAgentOnDisplay, ABusyAgentIsToldAboutAndNotGreeted) {
    StartAndConnect();
    EXPECT_TRUE(WaitFor(
        [&] {
            return Messages().contains(QStringLiteral("현재 상담원이 다른 고객님을 지원중인거 같습니다."));
        },
        kWindowWaitMs))
        << log.constData();
    EXPECT_FALSE(agent->Has("greeting "));
}

TEST_F(SessionUnderWindowManager, TheAgentsCommandsActOnTheCustomersDesktop) {
    QProcess& program = StartAndConnect();
    ASSERT_TRUE(agent->WaitFor("greeting ")) << log.constData() << Messages().toStdString();

    // "shell" starts a program with its arguments.
    const QString ran = home.file(QStringLiteral("ran by the agent"));
    agent->Send(QStringLiteral("\\shell touch \"%1\"").arg(ran));
    EXPECT_TRUE(WaitFor([&] { return QFile::exists(ran); }, kWindowWaitMs)) << log.constData();

    // "desktop" shows the desktop, and brings the windows back the second time.
    agent->Send(QStringLiteral("\\desktop"));
    EXPECT_TRUE(WaitFor([&] { return RootCardinal("_NET_SHOWING_DESKTOP") == 1; }, kWindowWaitMs));
    agent->Send(QStringLiteral("\\desktop"));
    EXPECT_TRUE(WaitFor([&] { return RootCardinal("_NET_SHOWING_DESKTOP") == 0; }, kWindowWaitMs));

    // "ime" presses the Hangul key into the window that has the focus: here one of the test's own.
    auto* d = static_cast<Display*>(display.display());
    const Window w = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 120, 80, 0, 0, 0);
    XSelectInput(d, w, KeyPressMask | KeyReleaseMask | StructureNotifyMask);
    XMapWindow(d, w);
    XEvent ev{};
    ASSERT_TRUE(WaitFor([&] { return XCheckTypedWindowEvent(d, w, MapNotify, &ev); }, kWindowWaitMs));
    XSetInputFocus(d, w, RevertToParent, CurrentTime);
    XSync(d, False);
    agent->Send(QStringLiteral("\\ime"));
    bool hangulPressed = false;
    EXPECT_TRUE(WaitFor(
        [&] {
            while (XCheckWindowEvent(d, w, KeyPressMask | KeyReleaseMask, &ev))
                hangulPressed =
                    hangulPressed || (ev.type == KeyPress && XLookupKeysym(&ev.xkey, 0) == 0xff31);
            return hangulPressed;
        },
        kWindowWaitMs))
        << log.constData();
    XDestroyWindow(d, w);
    program.kill();
}

TEST_F(ScreenViewOnDisplay, TheAgentShowsItsScreenWithControlAndEndsTheView) {
    StartAndConnect();
    ASSERT_TRUE(agent->WaitFor("greeting ")) << log.constData() << Messages().toStdString();
    FillScreen(agentScreen, 0x3366cc);
    agent->Send(QStringLiteral("\\showme 김상담 1"));
    ASSERT_TRUE(agent->WaitFor("showing ")) << agent->Output().constData();
    const QString title = QStringLiteral("[김상담]님의 화면보기 (제어가능) - 접속됨");
    EXPECT_TRUE(WaitFor([&] { return TitleCount(title) == 1; }, kWindowWaitMs))
        << display.WindowTitles().join(u'|').toStdString() << log.constData();
    // The window takes 90 % of the customer's screen: the agent's screen fills most of it, and follows
    // a change on the agent's side.
    EXPECT_TRUE(WaitFor([&] { return PointsOf(display, 0x3366cc) > 500; }, kWindowWaitMs));
    FillScreen(agentScreen, 0xcc6633);
    EXPECT_TRUE(WaitFor([&] { return PointsOf(display, 0xcc6633) > 500; }, kWindowWaitMs));

    // The customer's click and key in the focused window reach the agent's screen. Control and the
    // foreground state reach the viewer within a tick of the window's timers: try until they pass.
    ProbeAgentInput();
    ASSERT_TRUE(Focus(title));
    EXPECT_TRUE(WaitFor(
        [&] {
            Xdo({QStringLiteral("mousemove"), QStringLiteral("640"), QStringLiteral("400"),
                 QStringLiteral("click"), QStringLiteral("1")});
            Xdo({QStringLiteral("key"), QStringLiteral("b")});
            return AgentInput().contains(QStringLiteral("press")) &&
                   AgentInput().contains(QStringLiteral("key 62"));
        },
        kWindowWaitMs))
        << AgentInput().join(u'|').toStdString();

    agent->Send(QStringLiteral("\\stopshowme"));
    EXPECT_TRUE(WaitFor([&] { return TitleCount(title) == 0; }, kWindowWaitMs));
    EXPECT_FALSE(Messages().contains(QStringLiteral("상담원 화면을 볼 수 없거나 취소되었습니다.")));
}

TEST_F(SessionOnDisplay, AShowMeThatReachesNoScreenIsReportedAndItsWindowCloses) {
    StartAndConnect();
    ASSERT_TRUE(agent->WaitFor("greeting ")) << log.constData() << Messages().toStdString();
    // Nothing listens on port 1.
    agent->Send(QStringLiteral("\\showme 김상담 0 127.0.0.1 1"));
    const QString title = QStringLiteral("[김상담]님의 화면보기 - 접속 시도 중...");
    EXPECT_TRUE(WaitFor([&] { return TitleCount(title) == 1; }, kWindowWaitMs));
    EXPECT_TRUE(WaitFor(
        [&] { return Messages().contains(QStringLiteral("상담원 화면을 볼 수 없거나 취소되었습니다.")); },
        kWindowWaitMs));
    EXPECT_TRUE(WaitFor([&] { return TitleCount(title) == 0; }, kWindowWaitMs));
}
