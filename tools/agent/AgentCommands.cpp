#include "AgentCommands.h"

#include "session/SessionMessages.h"

#include <QRegularExpression>
#include <QStringList>

namespace pelio::agent {

namespace {

namespace keyword = session::keyword;

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
        const QString kind = session::SplitMessage(text).keyword;
        if (kind == keyword::kChatEnd && !result.messages.empty())
            result.messages.back().pauseAfterMs += kPauseBeforeChatEnd;
        result.messages.push_back(OutgoingMessage{text, kind == keyword::kChat ? kPauseAfterChatPiece : 0});
    }
    return result;
}

// A "chat:" piece of `size` characters a..z over and over, without the messages around a line.
CommandMessages RawChat(const QString& argument) {
    bool ok = false;
    const int size = argument.trimmed().toInt(&ok);
    if (!ok || size < 0 || size > kMaxRawChat)
        return Refuse(QStringLiteral("\\rawchat needs a SIZE of 0..%1").arg(kMaxRawChat));
    QString piece(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i) piece[i] = QChar(u'a' + i % 26);
    return One(keyword::kChat + u':' + piece);
}

// The message of a command that takes everything after it and one blank, which must not be empty.
CommandMessages WithArgument(const QString& command, const QString& argument,
                             QString (*build)(const QString& argument)) {
    if (argument.trimmed().isEmpty()) return Refuse(u'\\' + command + QStringLiteral(" needs an argument"));
    return One(build(argument));
}

QString UrlMessage(const QString& address) {
    return session::JoinMessage(keyword::kUrl, address);
}

QString ShellMessage(const QString& commandLine) {
    return session::JoinMessage(keyword::kShell, commandLine);
}

}  // namespace

CommandMessages ChatLineMessages(const QString& line) {
    return Chat(line);
}

CommandMessages MessagesForLine(const QString& line) {
    if (!line.startsWith(u'\\')) return One(line);
    if (line.startsWith(QLatin1String("\\\\"))) return One(line.mid(1));

    qsizetype end = 1;
    while (end < line.size() && !line.at(end).isSpace()) ++end;
    const QString command = line.mid(1, end - 1);
    const QString argument = line.mid(end + 1);  // after one blank
    const QStringList words = argument.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);

    if (command == keyword::kChat) return Chat(argument);
    if (command == u"rawchat") return RawChat(argument);
    if (command == keyword::kChangeAgent) {
        const QStringList fields = argument.trimmed().split(u'/');
        if (fields.size() < 3) return Refuse(QStringLiteral("\\changeagent needs PUBLIC/LOCAL/PORT"));
        return One(session::ChangeAgentMessage(fields[0], fields[1], fields.mid(2).join(u'/')));
    }
    if (command == keyword::kUrl) return WithArgument(command, argument, UrlMessage);
    if (command == keyword::kShell) return WithArgument(command, argument, ShellMessage);
    if (command == u"download") return WithArgument(command, argument, session::DownloadThisMessage);
    if (command == keyword::kLastFile) return WithArgument(command, argument, session::LastFileMessage);
    if (command == keyword::kShowMe) {
        if (words.size() != 4) return Refuse(QStringLiteral("\\showme needs NAME FLAG ADDRESS PORT"));
        return One(session::ShowMeMessage(words));
    }
    if (command == keyword::kMonitor) {
        const auto index = words.size() == 1 ? session::ParseMonitorIndex(words[0]) : std::nullopt;
        if (!index) return Refuse(QStringLiteral("\\monitor needs one number N (0: the whole desktop)"));
        return One(session::MonitorMessage(*index));
    }
    if (command == u"offer") {
        if (words.isEmpty()) return Refuse(QStringLiteral("\\offer needs one or more names"));
        return One(session::FileOfferMessage(words));
    }
    static const QStringList bare{keyword::kEnd, keyword::kStopShowMe, keyword::kDesktop,
                                  keyword::kIme, keyword::kExplorer,   keyword::kIe};
    for (const QString& bareKeyword : bare) {
        if (command != bareKeyword) continue;
        if (!words.isEmpty()) return Refuse(u'\\' + command + QStringLiteral(" takes no argument"));
        return One(bareKeyword);
    }
    return Refuse(QStringLiteral("unknown command \\") + command);
}

}  // namespace pelio::agent
