#include "session/SessionMessages.h"

namespace pelio::session {

namespace {

const QString kCrLf = QStringLiteral("\r\n");
const QString kShowMeSeparator = QStringLiteral("#;#");

// Lines of a list sent as text: CR LF between them, a lone LF accepted too.
QStringList ListLines(const QString& text) {
    QString normal = text;
    normal.replace(kCrLf, QStringLiteral("\n"));
    return normal.split(u'\n', Qt::SkipEmptyParts);
}

}  // namespace

SessionMessage SplitMessage(const QString& text) {
    const qsizetype colon = text.indexOf(u':');
    if (colon < 0) return {text.toLower(), QString()};
    return {text.left(colon).toLower(), text.mid(colon + 1)};
}

QString JoinMessage(const QString& keyword, const QString& argument) {
    return argument.isEmpty() ? keyword : keyword + u':' + argument;
}

QString FileOfferMessage(const QStringList& names) {
    QString argument;
    for (const QString& name : names) argument += kCrLf + name;
    return keyword::kFileName + u':' + argument;
}

QString DownloadThisMessage(const QString& address) {
    return keyword::kDownloadThis + u':' + address;
}

QString LastFileMessage(const QString& name) {
    return keyword::kLastFile + u':' + name;
}

QString ChangeAgentMessage(const QString& publicAddress, const QString& localAddress, const QString& port) {
    return keyword::kChangeAgent + u':' + publicAddress + u'/' + localAddress + u'/' + port;
}

QString ShowMeMessage(const QStringList& fields) {
    return keyword::kShowMe + u':' + fields.join(kShowMeSeparator);
}

QString SessionGreeting(const QString& machineCode, const QString& customerName, const QString& customerPhone,
                        const QString& accountId) {
    return keyword::kCustomer + u':' + machineCode + u'/' + customerName + u'/' + customerPhone + u'/' +
           accountId;
}

std::optional<GreetingFields> ParseGreeting(const QString& message) {
    const SessionMessage split = SplitMessage(message);
    if (split.keyword != keyword::kCustomer) return std::nullopt;
    const QStringList parts = split.argument.split(u'/');
    if (parts.size() < 4) return std::nullopt;
    return GreetingFields{parts[0], parts[1], parts[2], parts.mid(3).join(u'/')};
}

QStringList ChatMessages(const QString& line) {
    QStringList messages{keyword::kChatStart};
    for (qsizetype at = 0; at < line.size();) {
        qsizetype length = qMin<qsizetype>(kChatPieceLength, line.size() - at);
        if (at + length < line.size() && line.at(at + length - 1).isHighSurrogate()) --length;
        messages << keyword::kChat + u':' + line.mid(at, length);
        at += length;
    }
    messages << keyword::kChatEnd;
    return messages;
}

void ChatBuffer::Start() {
    m_text.clear();
    m_bytes = 0;
    m_overflowed = false;
}

void ChatBuffer::Append(const QString& piece) {
    if (m_overflowed) return;
    m_bytes += piece.toUtf8().size();
    if (m_bytes > kMaxLineBytes) {
        m_overflowed = true;
        m_text = QString();  // gives the memory back
        return;
    }
    m_text += piece;
}

QString ChatBuffer::Take() {
    QString text;
    text.swap(m_text);
    Start();
    return text;
}

std::optional<AgentAddress> ParseChangeAgent(const QString& argument, const QString& customerPublicIp) {
    const QStringList fields = argument.split(u'/');
    if (fields.size() < 3) return std::nullopt;
    const QString publicAddress = fields[0].trimmed();
    const bool behindSameAddress =
        !customerPublicIp.isEmpty() && publicAddress.compare(customerPublicIp, Qt::CaseInsensitive) == 0;
    const QString address = behindSameAddress ? fields[1].trimmed() : publicAddress;
    bool ok = false;
    const int port = fields[2].trimmed().toInt(&ok);
    if (address.isEmpty() || !ok || port < 1 || port > 65535) return std::nullopt;
    return AgentAddress{address, port};
}

ShowMeFields ParseShowMe(const QString& argument) {
    const QStringList fields = argument.split(kShowMeSeparator);
    return ShowMeFields{fields.value(0), fields.value(1), fields.value(2), fields.value(3)};
}

QString MonitorsMessage(const QList<QRect>& monitors) {
    QStringList entries;
    for (const QRect& r : monitors)
        entries << QStringLiteral("%1,%2,%3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
    return keyword::kMonitors + u':' + entries.join(u';');
}

namespace {

// A decimal number of digits alone (an optional "-" with negative allowed), within limit.
std::optional<int> Number(const QString& text, bool negative, int limit) {
    const QString t = text.trimmed();
    const qsizetype start = negative && t.startsWith(u'-') ? 1 : 0;
    if (t.size() <= start || t.size() > start + 6) return std::nullopt;
    for (qsizetype i = start; i < t.size(); ++i)
        if (t.at(i) < u'0' || t.at(i) > u'9') return std::nullopt;
    const int value = t.toInt();
    if (value > limit || value < -limit) return std::nullopt;
    return value;
}

}  // namespace

std::optional<QList<QRect>> ParseMonitors(const QString& argument) {
    QList<QRect> monitors;
    if (argument.trimmed().isEmpty()) return monitors;
    const QStringList entries = argument.split(u';');
    if (entries.size() > kMaxMonitors) return std::nullopt;
    for (const QString& entry : entries) {
        const QStringList fields = entry.split(u',');
        const QStringList size = fields.value(2).split(u'x');
        if (fields.size() != 3 || size.size() != 2) return std::nullopt;
        const auto x = Number(fields[0], true, kMaxMonitorSide);
        const auto y = Number(fields[1], true, kMaxMonitorSide);
        const auto w = Number(size[0], false, kMaxMonitorSide);
        const auto h = Number(size[1], false, kMaxMonitorSide);
        if (!x || !y || !w || !h || *w < 1 || *h < 1) return std::nullopt;
        monitors << QRect(*x, *y, *w, *h);
    }
    return monitors;
}

QString MonitorMessage(int index) {
    return keyword::kMonitor + u':' + QString::number(index);
}

std::optional<int> ParseMonitorIndex(const QString& argument) {
    return Number(argument, false, kMaxMonitors);
}

QStringList OfferedFiles(const QString& argument) {
    return ListLines(argument);
}

QString SummarizeFileList(const QString& argument) {
    const QStringList names = ListLines(argument);
    QString summary;
    for (qsizetype i = 0; i < qMin<qsizetype>(6, names.size()); ++i) summary += kCrLf + names[i];
    if (names.size() > 6) summary += QStringLiteral(" 외 %1건").arg(names.size() - 6);
    return summary;
}

}  // namespace pelio::session
