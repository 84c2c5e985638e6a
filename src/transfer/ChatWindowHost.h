// The chat window as the session sees it: the window is made when the customer or the agent needs
// it, at most one at a time; lines, notices and file offers of the agent go into its conversation.
#pragma once

#include "session/SessionPeers.h"

#include <QPointer>

namespace pelio::app {
struct AppContext;
}
namespace pelio::platform {
struct Services;
}

namespace pelio::session {
class ChatLink;
}

namespace pelio::transfer {

using session::ChatLink;
class frmChat;

class ChatWindowHost : public session::ChatPeer {
  public:
    ChatWindowHost(app::AppContext& context, platform::Services& services, ChatLink& link);
    ~ChatWindowHost() override;

    // The window, made (hidden) when there is none.
    frmChat* Window();

    void OpenChat() override;
    void ShowAgentChat(const QString& html) override;
    void DisplayCommonMsg(const QString& text, int colour) override;
    void ShowFileOffer(const QString& list) override;
    bool StartQueuedUpload() override;
    bool ReleaseSendQueue() override;
    void AppendLine(const QString& html) override;
    void SessionEnded() override;

  private:
    // Shows the window without taking it to the front when it is not shown.
    frmChat* ShownWindow();

    app::AppContext& m_context;
    platform::Services& m_services;
    ChatLink& m_link;
    QPointer<frmChat> m_window;
};

}  // namespace pelio::transfer
