#include "AgentCommands.h"

#include "session/SessionMessages.h"

#include <QRegularExpression>
#include <QStringList>

namespace pelio::agent {

namespace {

constexpr int kPauseAfterChatPiece = 50;
constexpr int kPauseBeforeChatEnd = 10;

CommandMessages One(const QString& text) {
    return CommandMessages{{OutgoingMessage{text}}, QString()};
}

CommandMessages Refuse(const QString& reason) {
    return CommandMessages{{}, reason};
}

CommandMessages Chat(const QString& line) {
    CommandMessages result;
    for (const QString& text : session::ChatMessages(line)) {
        if (text == u"chatend" && !result.messages.empty())
            result.messages.back().pauseAfterMs += kPauseBeforeChatEnd;
        result.messages.push_back(
            OutgoingMessage{text, text.startsWith(QLatin1String("chat:")) ? kPauseAfterChatPiece : 0});
    }
    return result;
}

// The message of a command that takes the rest of the line as its argument.
CommandMessages WithArgument(const QString& command, const QString& keyword, const QString& argument) {
    if (argument.trimmed().isEmpty()) return Refuse(u'\\' + command + QStringLiteral(" needs an argument"));
    return One(keyword + u':' + argument);
}

}  // namespace

CommandMessages MessagesForLine(const QString& line) {
    if (!line.startsWith(u'\\')) return One(line);
    if (line.startsWith(QLatin1String("\\\\"))) return One(line.mid(1));

    qsizetype end = 1;
    while (end < line.size() && !line.at(end).isSpace()) ++end;
    const QString command = line.mid(1, end - 1);
    const QString argument = line.mid(end + 1);  // after one blank
    const QStringList words = argument.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);

    if (command == u"chat") return Chat(argument);
    if (command == u"changeagent") return WithArgument(command, QStringLiteral("changeagent"), argument);
    if (command == u"url") return WithArgument(command, QStringLiteral("url"), argument);
    if (command == u"shell") return WithArgument(command, QStringLiteral("shell"), argument);
    if (command == u"download") return WithArgument(command, QStringLiteral("downloadthis"), argument);
    if (command == u"lastfile") return WithArgument(command, QStringLiteral("lastfile"), argument);
    if (command == u"showme") {
        if (words.size() != 4) return Refuse(QStringLiteral("\\showme needs NAME FLAG ADDRESS PORT"));
        return One(QStringLiteral("showme:") + words.join(QStringLiteral("#;#")));
    }
    if (command == u"offer") {
        if (words.isEmpty()) return Refuse(QStringLiteral("\\offer needs one or more names"));
        return One(QStringLiteral("filename:\r\n") + words.join(QStringLiteral("\r\n")));
    }
    static const QStringList bare{QStringLiteral("end"),      QStringLiteral("stopshowme"),
                                  QStringLiteral("desktop"),  QStringLiteral("ime"),
                                  QStringLiteral("explorer"), QStringLiteral("ie")};
    if (bare.contains(command)) {
        if (!words.isEmpty()) return Refuse(u'\\' + command + QStringLiteral(" takes no argument"));
        return One(command);
    }
    return Refuse(QStringLiteral("unknown command \\") + command);
}

}  // namespace pelio::agent
