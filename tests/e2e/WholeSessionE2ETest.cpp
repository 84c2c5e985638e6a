// A whole support session with the built programs only: the customer gives the phone in the entry
// window, picks the agent in the list and connects; the agent (pelio-agent) is greeted, they chat
// both ways, a file goes each way, the agent shows its own screen, and the agent ends the session.
// Afterwards the history holds the transcript and the recording, and `pelio review` opens both.
#include "FilesOnDisplay.h"
#include "ScreenPixels.h"
#include "recording/SrfReader.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

using namespace pelio::test;

namespace {

class WholeSessionOnDisplay : public FilesOnDisplay {
  protected:
    void SetUp() override {
        ASSERT_TRUE(agentScreen.ok());
        agentOptions = {QStringLiteral("--screen"), agentScreen.name()};
        FilesOnDisplay::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        AddSettings(QStringLiteral("[Settings]\r\nMyName=홍길동\r\n"));
    }

    XvfbDisplay agentScreen{QSize(640, 480)};
};

}  // namespace

TEST_F(WholeSessionOnDisplay, EntryListConnectChatFilesScreenEndAndReview) {
    MakeFile(QStringLiteral("증상 캡처.png"), Pattern(500000, 11));
    TempFolder agentFiles;
    const QByteArray manual = Pattern(700000, 12);
    WriteFileBytes(agentFiles.file(QStringLiteral("설정 방법.pdf")), manual);

    // Entry: the code and company come from the command line, the name from the last run; the
    // customer types the phone and confirms, and the list of the company's agents follows.
    QProcess& program = Start({QStringLiteral("1234/My+Company")}, SessionEnvironment());
    ASSERT_TRUE(WaitFor([&] { return TitleCount(kEntryTitle) == 1; }, kWindowWaitMs));
    ASSERT_TRUE(Focus(kEntryTitle));
    Xdo({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("20"),
         QStringLiteral("01012345678")});
    Xdo({QStringLiteral("key"), QStringLiteral("Return")});
    ConnectToFirstAgent(program);
    ASSERT_TRUE(agent->WaitFor("greeting "))
        << log.constData() << Messages().toStdString() << display.WindowTitles().join(u'|').toStdString();
    EXPECT_TRUE(agent->Has("\t홍길동\t")) << agent->Output().constData();

    // Chat both ways.
    agent->Send(QStringLiteral("\\chat 안녕하세요, 상담원 김상담입니다."));
    ASSERT_TRUE(WaitLog(program, "agent chat 안녕하세요, 상담원 김상담입니다."));
    ASSERT_TRUE(Focus(QStringLiteral("상담원과 대화하기")));
    ASSERT_TRUE(WaitLog(program, "chat window activated"));  // the input has the focus from here
    Xdo({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("20"),
         QStringLiteral("printer is offline")});
    Xdo({QStringLiteral("key"), QStringLiteral("Return")});
    EXPECT_TRUE(agent->WaitFor("printer is offline</span></font><br>")) << agent->Output().constData();

    // A file each way.
    SendAllFiles(program);
    EXPECT_TRUE(WaitFor([&] { return Fetched() == digests; }, kWindowWaitMs)) << agent->Output().constData();
    EXPECT_TRUE(WaitLog(program, "upload run ended"));
    agent->Send(QStringLiteral("\\offer \"%1\"").arg(agentFiles.file(QStringLiteral("설정 방법.pdf"))));
    ASSERT_TRUE(agent->WaitFor("offer accepted")) << agent->Output().constData() << log.constData();
    const QString received = home.file(QStringLiteral("문서/Pelio 받은파일/설정 방법.pdf"));
    EXPECT_TRUE(WaitFor([&] { return ReadFileBytes(received) == manual; }, kWindowWaitMs)) << log.constData();

    // The agent shows its own screen, then stops.
    FillScreen(agentScreen, 0x3366cc);
    agent->Send(QStringLiteral("\\showme 김상담 1"));
    const QString viewTitle = QStringLiteral("[김상담]님의 화면보기 (제어가능) - 접속됨");
    EXPECT_TRUE(WaitFor([&] { return TitleCount(viewTitle) == 1; }, kWindowWaitMs))
        << display.WindowTitles().join(u'|').toStdString();
    EXPECT_TRUE(WaitFor([&] { return PointsOf(display, 0x3366cc) > 500; }, kWindowWaitMs));
    agent->Send(QStringLiteral("\\stopshowme"));
    EXPECT_TRUE(WaitFor([&] { return TitleCount(viewTitle) == 0; }, kWindowWaitMs));

    // The agent ends the session; closing the chat writes the transcript.
    agent->Send(QStringLiteral("\\end"));
    EXPECT_TRUE(WaitFor(
        [&] {
            return Messages().contains(QStringLiteral("원격지원이 정상적으로 종료되었습니다. 감사합니다."));
        },
        kWindowWaitMs));
    ASSERT_TRUE(AskToClose(QStringLiteral("상담원과 대화하기")));
    ASSERT_TRUE(WaitFor([&] { return !History(QStringLiteral("*.htm")).isEmpty(); }, kWindowWaitMs));
    const QString transcript = QString::fromUtf8(ReadFileBytes(History(QStringLiteral("*.htm")).first()));
    for (const QString& part :
         {QStringLiteral("안녕하세요, 상담원 김상담입니다."), QStringLiteral("printer is offline"),
          QStringLiteral("증상 캡처.png</b> 파일이 전송되었습니다."),
          QStringLiteral("설정 방법.pdf</b> </font>")})
        EXPECT_TRUE(transcript.contains(part)) << part.toStdString();
    ASSERT_EQ(History().size(), 1);
    pelio::components::SrfReader reader;
    EXPECT_EQ(reader.Open(History().first()), pelio::components::SrfOpenStatus::Ok);

    // The history viewer opens both: the recording from its tree, the transcript from the other.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("pelio.history.info=true"));
    QProcess& review = Start({QStringLiteral("review")}, env);
    ASSERT_TRUE(Focus(kReviewTitle));
    QByteArray shown;
    const auto reviewLog = [&](const char* line) {
        shown += review.readAllStandardError();
        return shown.contains(line);
    };
    Xdo({QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("200"), QStringLiteral("Down"),
         QStringLiteral("Down")});
    EXPECT_TRUE(WaitFor([&] { return reviewLog("recording opened"); }, kWindowWaitMs)) << shown.constData();
    Xdo({QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("200"), QStringLiteral("Tab"),
         QStringLiteral("Down"), QStringLiteral("Down")});
    EXPECT_TRUE(WaitFor([&] { return reviewLog("transcript shown"); }, kWindowWaitMs)) << shown.constData();
    EXPECT_FALSE(shown.contains("failed"));
}
