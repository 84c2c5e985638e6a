#include "transfer/ChatConversation.h"

#include "session/ChatLink.h"
#include "util/core/Colors.h"

namespace pelio::transfer {

namespace {

const QString kCrLf = QStringLiteral("\r\n");

// The classic 16-colour table's entries used by the session's notices.
util::OleColor ClassicColour(int index) {
    switch (index) {
        case 2:
            return util::ColorFromChannels(0, 128, 0);
        case 3:
            return util::ColorFromChannels(0, 128, 128);
        case 4:
            return util::ColorFromChannels(128, 0, 0);
        case 6:
            return util::ColorFromChannels(128, 128, 0);
        case 8:
            return util::ColorFromChannels(128, 128, 128);
        default:
            return util::ColorFromChannels(0, 0, 0);
    }
}

}  // namespace

void ChatConversation::Append(const QString& html) {
    m_document += html;
    m_append(html);
}

QString ChatConversation::Transcript() const {
    // The view's body: the start page's hint up to its line break, then everything added.
    return TranscriptFromBody(QStringLiteral("<body><br>") + m_document + QStringLiteral("</body>"));
}

ChatConversation::SendResult ChatConversation::Send(const QString& input, const ChatInputStyle& style,
                                                    const QString& customerName, const QString& customerPhone,
                                                    const QDateTime& now) {
    if (input.trimmed().isEmpty()) return SendResult::Nothing;
    if (!m_link.Connected()) return SendResult::Disconnected;
    QString text = input;
    text.replace(kCrLf, QStringLiteral("\n")).replace(u'\n', kCrLf);
    const QString line = ChatLineHtml(customerName, customerPhone, now, GetHtml(text, style));
    Append(line);
    m_chated = true;
    // The line stays shown when the session ended meanwhile; it is sent only while it lasts.
    if (m_link.Connected()) m_link.SendChatLine(line);
    return SendResult::Sent;
}

void ChatConversation::AppendNotice(const QString& html) {
    m_chated = true;
    Append(MarkedNoticeHtml(html));
}

void ChatConversation::ShowAgentLine(const QString& html) {
    m_chated = true;
    Append(SanitizeAgentHtml(html));
}

void ChatConversation::AddLine(const QString& html) {
    AppendNotice(html);
}

void ChatConversation::DisplayCommonMsg(const QString& text, int colour) {
    AppendNotice(kCrLf + QStringLiteral("<br><font size=2 color=") +
                 util::ColorToHtml(ClassicColour(colour)) + u'>' + text + QStringLiteral("</font><br>") +
                 kCrLf);
}

void ChatConversation::ShowFileOffer(const QString& list) {
    // The names come from the agent: as text, they can bring no tag or link into the program's line.
    QString names = list.toHtmlEscaped();
    names.replace(kCrLf, QStringLiteral("<br>"));
    AppendNotice(
        kCrLf +
        QStringLiteral(
            "<br><font size=2 color=gray>상담원이 다음 파일을 이 컴퓨터로 전송하려고 합니다.</font>") +
        kCrLf + kCrLf + names + kCrLf + kCrLf +
        QStringLiteral("<br><br><font size=2 color=gray>대화상자에서 수락하면 전송이 시작됩니다.<br><br>") +
        kCrLf);
}

}  // namespace pelio::transfer
