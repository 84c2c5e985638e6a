// The conversation of the chat window without its widgets: what a send does, what an agent's line,
// a notice and a file offer add to the view, and whether the transcript has unsaved lines.
#pragma once

#include "transfer/ChatHtml.h"

#include <QDateTime>
#include <QString>

#include <functional>

namespace pelio::session {
class ChatLink;
}

namespace pelio::transfer {

using session::ChatLink;

class ChatConversation {
  public:
    enum class SendResult { Nothing, Disconnected, Sent };

    // Receives each HTML piece to add at the end of the view, in order.
    using Appender = std::function<void(const QString& html)>;

    ChatConversation(ChatLink& link, Appender append) : m_link(link), m_append(std::move(append)) {}

    // The transcript file's text: the whole conversation so far, kept here as it was added to the view
    // (so that it can be written at once, also while the window closes).
    QString Transcript() const;

    // The send button: nothing for an empty (or blank) input; Disconnected without a session (nothing
    // shown, nothing sent); else the line is shown, then sent while the session lasts.
    SendResult Send(const QString& input, const ChatInputStyle& style, const QString& customerName,
                    const QString& customerPhone, const QDateTime& now);
    // A whole chat line of the agent, shown and kept as SanitizeAgentHtml leaves it.
    void ShowAgentLine(const QString& html);
    // A line of the session's own in one of the classic colours (2 green, 3 cyan, 4 red, 6 yellow);
    // text is HTML of the program's. Like every line of the program's own it carries the notice mark
    // (MarkedNoticeHtml).
    void DisplayCommonMsg(const QString& text, int colour);
    // The agent offers files (names separated by CR LF); the names are shown as text.
    void ShowFileOffer(const QString& list);
    // Any other line of the program's own (file transfers), HTML, kept in the transcript with the
    // notice mark.
    void AddLine(const QString& html);

    // The transcript has lines that were not saved yet.
    bool bChated() const { return m_chated; }
    void MarkSaved() { m_chated = false; }
    void MarkChanged() { m_chated = true; }

  private:
    void Append(const QString& html);
    // A line of the program's own: the chat changed, the line goes in with the notice mark.
    void AppendNotice(const QString& html);

    ChatLink& m_link;
    QString m_document;
    Appender m_append;
    bool m_chated = false;
};

}  // namespace pelio::transfer
