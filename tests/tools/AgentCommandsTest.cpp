// The session messages that pelio-agent's input lines stand for.
#include "AgentCommands.h"

#include <gtest/gtest.h>

#include <QStringList>

using pelio::agent::MessagesForLine;

namespace {

QStringList Texts(const QString& line) {
    QStringList texts;
    for (const auto& message : MessagesForLine(line).messages) texts << message.text;
    return texts;
}

}  // namespace

TEST(AgentCommands, ChatLineIsFramedInPieces) {
    QString line;
    for (int i = 0; i < 650; ++i) line += QChar(u'가' + i % 26);
    const auto result = MessagesForLine("\\chat " + line);
    ASSERT_FALSE(result.refused());
    ASSERT_EQ(result.messages.size(), 5u);
    EXPECT_EQ(result.messages[0].text, QStringLiteral("chatstart"));
    EXPECT_EQ(result.messages[1].text, "chat:" + line.mid(0, 300));
    EXPECT_EQ(result.messages[2].text, "chat:" + line.mid(300, 300));
    EXPECT_EQ(result.messages[3].text, "chat:" + line.mid(600));
    EXPECT_EQ(result.messages[4].text, QStringLiteral("chatend"));

    // Blanks inside and around the text belong to the line; an empty line has no pieces.
    EXPECT_EQ(
        Texts(QStringLiteral("\\chat  a  b ")),
        (QStringList{QStringLiteral("chatstart"), QStringLiteral("chat: a  b "), QStringLiteral("chatend")}));
    EXPECT_EQ(Texts(QStringLiteral("\\chat")),
              (QStringList{QStringLiteral("chatstart"), QStringLiteral("chatend")}));
}

TEST(AgentCommands, MessageCommandsBuildTheirTexts) {
    EXPECT_EQ(Texts(QStringLiteral("\\offer a b c")),
              QStringList{QStringLiteral("filename:\r\na\r\nb\r\nc")});
    EXPECT_EQ(Texts(QStringLiteral("\\showme 김상담 1 10.0.0.5 5500")),
              QStringList{QStringLiteral("showme:김상담#;#1#;#10.0.0.5#;#5500")});
    EXPECT_EQ(Texts(QStringLiteral("\\shell notepad C:\\a b.txt")),
              QStringList{QStringLiteral("shell:notepad C:\\a b.txt")});
    EXPECT_EQ(Texts(QStringLiteral("\\changeagent 1.2.3.4/10.0.0.2/5500")),
              QStringList{QStringLiteral("changeagent:1.2.3.4/10.0.0.2/5500")});
    EXPECT_EQ(Texts(QStringLiteral("\\monitor 2")), QStringList{QStringLiteral("monitor:2")});
    // A raw piece stands alone, at any size up to the limit.
    EXPECT_EQ(Texts(QStringLiteral("\\rawchat 3")), QStringList{QStringLiteral("chat:abc")});
    const auto big = MessagesForLine(QStringLiteral("\\rawchat %1").arg(pelio::agent::kMaxRawChat));
    ASSERT_EQ(big.messages.size(), 1u);
    EXPECT_EQ(big.messages[0].text.size(), 5 + pelio::agent::kMaxRawChat);
    // Plain lines and "\\" lines are sent as they are, without the escaping backslash.
    EXPECT_EQ(Texts(QStringLiteral("chat:x")), QStringList{QStringLiteral("chat:x")});
    EXPECT_EQ(Texts(QStringLiteral("\\\\chat x")), QStringList{QStringLiteral("\\chat x")});
}

TEST(AgentCommands, UnknownOrIncompleteCommandsSendNothing) {
    for (const QString& line :
         {QStringLiteral("\\chatty x"), QStringLiteral("\\"), QStringLiteral("\\pointer 1 2 0"),
          QStringLiteral("\\showme a b c"), QStringLiteral("\\showme a b c d e"), QStringLiteral("\\offer "),
          QStringLiteral("\\url"), QStringLiteral("\\end now"), QStringLiteral("\\changeagent a/b"),
          QStringLiteral("\\rawchat"), QStringLiteral("\\rawchat -1"), QStringLiteral("\\monitor"),
          QStringLiteral("\\monitor 1 2"), QStringLiteral("\\monitor -1"),
          QStringLiteral("\\rawchat %1").arg(pelio::agent::kMaxRawChat + 1)}) {
        const auto result = MessagesForLine(line);
        EXPECT_TRUE(result.refused()) << line.toStdString();
        EXPECT_TRUE(result.messages.empty()) << line.toStdString();
    }
}
