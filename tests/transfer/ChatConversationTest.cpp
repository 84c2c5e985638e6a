// The chat window's conversation without widgets: what a send shows and sends, and the transcript.
#include "transfer/ChatConversation.h"
#include "session/ChatLink.h"

#include <gtest/gtest.h>
#include <QStringList>

using namespace pelio::transfer;

namespace {

class RecordingLink : public ChatLink {
  public:
    bool connected = true;
    int connectedAnswers = -1;  // after this many answers the session is gone (-1: never)
    QStringList sent;
    bool Connected() const override {
        if (connectedAnswers == 0) return false;
        if (connectedAnswers > 0) --const_cast<RecordingLink*>(this)->connectedAnswers;
        return connected;
    }
    void SendChatLine(const QString& line) override { sent << line; }
    void SendMessage(const QString&) override {}
    void MinimizeMainWindow() override {}
    void RestoreMainWindow() override {}
    void CloseConnectedNotice() override {}
};

struct Conversation : ::testing::Test {
    RecordingLink link;
    QStringList shown;
    ChatConversation chat{link, [this](const QString& html) { shown << html; }};
    const QDateTime when{QDate(2026, 12, 7), QTime(16, 5, 9)};
};

}  // namespace

TEST_F(Conversation, BlankInputOrNoSessionSendsAndShowsNothing) {
    EXPECT_EQ(chat.Send(QStringLiteral("  \r\n "), {}, QStringLiteral("홍길동"), {}, when),
              ChatConversation::SendResult::Nothing);
    link.connected = false;
    EXPECT_EQ(chat.Send(QStringLiteral("안녕하세요"), {}, QStringLiteral("홍길동"), {}, when),
              ChatConversation::SendResult::Disconnected);
    EXPECT_TRUE(shown.isEmpty());
    EXPECT_TRUE(link.sent.isEmpty());
    EXPECT_FALSE(chat.bChated());
}

TEST_F(Conversation, TheAgentGetsTheLineTheCustomerSeesUnlessTheSessionEndedMeanwhile) {
    ASSERT_EQ(chat.Send(QStringLiteral("똠 뷁\r\n둘째 줄"), {}, QStringLiteral("홍길동"),
                        QStringLiteral("010"), when),
              ChatConversation::SendResult::Sent);
    ASSERT_EQ(link.sent.size(), 1);
    EXPECT_EQ(link.sent[0], shown[0]);
    EXPECT_TRUE(shown[0].contains(QStringLiteral("홍길동 / 010 (")));
    EXPECT_TRUE(shown[0].contains(QStringLiteral("똠 뷁<br>\r\n둘째 줄")));
    EXPECT_TRUE(chat.bChated());

    link.connectedAnswers = 1;  // connected when asked first, gone after the line is shown
    EXPECT_EQ(chat.Send(QStringLiteral("늦은 줄"), {}, QStringLiteral("홍길동"), {}, when),
              ChatConversation::SendResult::Sent);
    EXPECT_EQ(shown.size(), 2);
    EXPECT_EQ(link.sent.size(), 1);
}

TEST_F(Conversation, TheTranscriptHoldsEveryLineWithItsLineBreaks) {
    chat.ShowAgentLine(QStringLiteral("<b>상담원</b>입니다<BR>둘째"));
    chat.DisplayCommonMsg(QStringLiteral("파일 전송을 수락하셨습니다."), 2);
    chat.ShowFileOffer(QStringLiteral("\r\na.txt\r\nb.txt"));
    const QString transcript = chat.Transcript();
    EXPECT_TRUE(transcript.startsWith(QStringLiteral("<html>")));
    EXPECT_TRUE(transcript.endsWith(QStringLiteral("</html>")));
    EXPECT_TRUE(transcript.contains(QStringLiteral("<b>상담원</b>입니다<br>\r\n둘째")));
    EXPECT_TRUE(transcript.contains(
        QStringLiteral("<font class=pelio-notice size=2 color=#008000>파일 전송을 수락하셨습니다.</font>")));
    EXPECT_TRUE(transcript.contains(QStringLiteral("a.txt<br>\r\nb.txt")));
    chat.MarkSaved();
    EXPECT_FALSE(chat.bChated());
}

TEST_F(Conversation, OnlyTheProgramsOwnLinesCarryTheNoticeMarkAndItsFolderLinks) {
    chat.ShowAgentLine(
        QStringLiteral("<font size=2 color=#008080 class=pelio-notice>상담원이 파일 전송을 "
                       "수락하여 전송을 시작합니다.</font><a href='explorer::/home'>받은파일"));
    // The file names of an offer come from the agent too.
    chat.ShowFileOffer(QStringLiteral("\r\n<a href='explorer::/bin/sh'>a.txt</a>"));
    chat.AddLine(QStringLiteral("<br><font size=2 color=blue><a href='explorer::/r/a.txt'>폴더</a></font>"));
    ASSERT_EQ(shown.size(), 3);
    EXPECT_EQ(shown[0], QStringLiteral("<font size=2 color=#008080>상담원이 파일 전송을 수락하여 전송을 "
                                       "시작합니다.</font>받은파일"));
    EXPECT_FALSE(shown[1].contains(QStringLiteral("<a")));
    EXPECT_TRUE(shown[1].contains(QStringLiteral("&lt;a href='explorer::/bin/sh'&gt;a.txt&lt;/a&gt;")));
    EXPECT_EQ(shown[1].count(QStringLiteral("<font class=pelio-notice ")), 2);
    EXPECT_EQ(shown[2], QStringLiteral("<br><font class=pelio-notice size=2 color=blue>"
                                       "<a href='explorer::/r/a.txt'>폴더</a></font>"));
}
