// What the chat window needs of the support session and of the agent list window.
#pragma once

#include <QString>

namespace pelio::session {

class ChatLink {
  public:
    virtual ~ChatLink() = default;
    // Whether a session is connected now.
    virtual bool Connected() const = 0;
    // Sends one chat line (HTML) to the agent in its framing, pausing between the pieces.
    virtual void SendChatLine(const QString& line) = 0;
    // Sends one session message to the agent ("filename:...", "downloadthis:...").
    virtual void SendMessage(const QString& message) = 0;
    // The agent list window: minimised while the chat is in front during a session, restored and
    // focused when the chat closes.
    virtual void MinimizeMainWindow() = 0;
    virtual void RestoreMainWindow() = 0;
    // Closes the "연결되었습니다." notice.
    virtual void CloseConnectedNotice() = 0;
    // The transcript file of the session that came up last, numbered as its recording; empty before
    // the first (the chat window then names its own).
    virtual QString TranscriptPath() const { return QString(); }
};

}  // namespace pelio::session
