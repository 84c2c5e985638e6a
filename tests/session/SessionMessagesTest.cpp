// The session message texts: splitting, the greeting, chat framing, and the fields of the messages
// that carry addresses and file lists.
#include "session/SessionMessages.h"

#include <gtest/gtest.h>

using namespace pelio::session;

TEST(SessionMessages, KeywordIsCaseFreeAndTheArgumentKeepsEveryColonAndSlash) {
    const SessionMessage url = SplitMessage(QStringLiteral("URL:http://127.0.0.1:8080/a/b?x=1:2"));
    EXPECT_EQ(url.keyword, QStringLiteral("url"));
    EXPECT_EQ(url.argument, QStringLiteral("http://127.0.0.1:8080/a/b?x=1:2"));
    const SessionMessage alone = SplitMessage(QStringLiteral("ChatEnd"));
    EXPECT_EQ(alone.keyword, QStringLiteral("chatend"));
    EXPECT_TRUE(alone.argument.isEmpty());
    EXPECT_EQ(SplitMessage(QStringLiteral("chat:")).argument, QString());
}

TEST(SessionMessages, GreetingJoinsEmptyFieldsAsTheyAreAndReadsBack) {
    const QString greeting = SessionGreeting(QStringLiteral("AB12"), QStringLiteral("홍길동"), {}, {});
    EXPECT_EQ(greeting, QStringLiteral("customer:AB12/홍길동//"));
    const auto fields = ParseGreeting(greeting);
    ASSERT_TRUE(fields);
    EXPECT_EQ(fields->customerName, QStringLiteral("홍길동"));
    EXPECT_TRUE(fields->customerPhone.isEmpty() && fields->accountId.isEmpty());
    EXPECT_FALSE(ParseGreeting(QStringLiteral("customer:a/b")));
    EXPECT_FALSE(ParseGreeting(QStringLiteral("chat:a/b/c/d")));
}

TEST(SessionMessages, ChatLineTravelsInPiecesOf300AndComesBackWhole) {
    QString line;
    for (int i = 0; i < 650; ++i) line += QChar(u'가' + i % 50);
    const QStringList messages = ChatMessages(line);
    ASSERT_EQ(messages.size(), 5);
    EXPECT_EQ(messages.first(), QStringLiteral("chatstart"));
    EXPECT_EQ(messages.last(), QStringLiteral("chatend"));
    EXPECT_EQ(messages[1].size(), 5 + 300);
    EXPECT_EQ(messages[2].size(), 5 + 300);
    EXPECT_EQ(messages[3].size(), 5 + 50);

    ChatBuffer buffer;
    buffer.Append(QStringLiteral("left over from a broken line"));
    for (const QString& message : messages) {
        const SessionMessage m = SplitMessage(message);
        if (m.keyword == u"chatstart") buffer.Start();
        if (m.keyword == u"chat") buffer.Append(m.argument);
    }
    EXPECT_EQ(buffer.Take(), line);
    EXPECT_TRUE(buffer.Text().isEmpty());
    EXPECT_EQ(ChatMessages(QString()), (QStringList{QStringLiteral("chatstart"), QStringLiteral("chatend")}));
}

TEST(SessionMessages, ChatPiecesNeverCutACharacterOutsideTheBasicPlane) {
    QString line(299, u'a');
    line += QString::fromUcs4(U"😀") + QStringLiteral("b");  // the pair straddles the 300th unit
    const QStringList messages = ChatMessages(line);
    ASSERT_EQ(messages.size(), 4);
    EXPECT_EQ(messages[1].size(), 5 + 299);
    EXPECT_EQ(messages[1].mid(5) + messages[2].mid(5), line);
}

TEST(SessionMessages, ChangeAgentNeedsThreeFieldsAndAUsablePort) {
    const auto agent =
        ParseChangeAgent(QStringLiteral("203.0.113.5/10.0.0.7/18925"), QStringLiteral("1.2.3.4"));
    ASSERT_TRUE(agent);
    EXPECT_EQ(agent->address, QStringLiteral("203.0.113.5"));
    EXPECT_EQ(agent->port, 18925);
    // Behind the customer's own public address the local address is used.
    const auto local =
        ParseChangeAgent(QStringLiteral("203.0.113.5/10.0.0.7/18925"), QStringLiteral("203.0.113.5"));
    ASSERT_TRUE(local);
    EXPECT_EQ(local->address, QStringLiteral("10.0.0.7"));
    for (const char* bad : {"203.0.113.5/10.0.0.7/port", "203.0.113.5/10.0.0.7", "203.0.113.5/10.0.0.7/0",
                            "/10.0.0.7/18925", "203.0.113.5/10.0.0.7/70000", ""})
        EXPECT_FALSE(ParseChangeAgent(QString::fromUtf8(bad), QStringLiteral("1.2.3.4"))) << bad;
}

TEST(SessionMessages, FileOfferSummaryShowsSixNamesAndCountsTheRest) {
    QString eight, six;
    for (int i = 1; i <= 8; ++i) eight += QStringLiteral("\r\nfile%1.txt").arg(i);
    for (int i = 1; i <= 6; ++i) six += QStringLiteral("\r\nfile%1.txt").arg(i);
    EXPECT_EQ(OfferedFiles(eight).size(), 8);
    EXPECT_TRUE(SummarizeFileList(eight).endsWith(QStringLiteral("\r\nfile6.txt 외 2건")));
    EXPECT_EQ(SummarizeFileList(eight).count(QStringLiteral("\r\n")), 6);
    EXPECT_TRUE(SummarizeFileList(six).endsWith(QStringLiteral("file6.txt")));
    EXPECT_EQ(SummarizeFileList(six).count(QStringLiteral("\r\n")), 6);
}

TEST(SessionMessages, ShowMeFieldsMissingAreEmpty) {
    const ShowMeFields fields = ParseShowMe(QStringLiteral("김상담#;#1#;#127.0.0.1#;#5901"));
    EXPECT_EQ(fields.agentName, QStringLiteral("김상담"));
    EXPECT_EQ(fields.port, QStringLiteral("5901"));
    const ShowMeFields shorter = ParseShowMe(QStringLiteral("김상담#;#1#;#127.0.0.1"));
    EXPECT_EQ(shorter.address, QStringLiteral("127.0.0.1"));
    EXPECT_TRUE(shorter.port.isEmpty());
}

TEST(SessionMessages, MonitorsTravelAsAListAndAnythingMalformedIsNoList) {
    const QList<QRect> monitors{QRect(1920, 0, 1280, 1024), QRect(0, 0, 1920, 1080)};
    const QString message = MonitorsMessage(monitors);
    EXPECT_EQ(message, QStringLiteral("monitors:1920,0,1280x1024;0,0,1920x1080"));
    EXPECT_EQ(ParseMonitors(SplitMessage(message).argument), monitors);
    EXPECT_EQ(ParseMonitors(QStringLiteral(" -1280 , 0 , 1280x1024 ")),
              (QList<QRect>{QRect(-1280, 0, 1280, 1024)}));
    EXPECT_EQ(ParseMonitors(QString()), QList<QRect>());
    QStringList tooMany;
    for (int i = 0; i <= kMaxMonitors; ++i) tooMany << QStringLiteral("0,0,10x10");
    for (const QString& bad :
         {QStringLiteral("0,0,1920x1080;"), QStringLiteral("0,0,0x1080"), QStringLiteral("0,0,1920x-1"),
          QStringLiteral("0,0,1920"), QStringLiteral("0,0,1920x1080x1"), QStringLiteral("a,0,1x1"),
          QStringLiteral("0,0,99999999999x1"), QStringLiteral("+1,0,1x1"), QStringLiteral("0,0,1x1,5"),
          tooMany.join(u';')})
        EXPECT_FALSE(ParseMonitors(bad)) << bad.toStdString();
}

TEST(SessionMessages, MonitorIndexIsASmallNumberAlone) {
    EXPECT_EQ(MonitorMessage(2), QStringLiteral("monitor:2"));
    EXPECT_EQ(ParseMonitorIndex(QStringLiteral(" 0 ")), 0);
    EXPECT_EQ(ParseMonitorIndex(QStringLiteral("16")), kMaxMonitors);
    for (const char* bad : {"", "-1", "17", "1.5", "2x", "0x1", "99999999999999"})
        EXPECT_FALSE(ParseMonitorIndex(QString::fromLatin1(bad))) << bad;
}
