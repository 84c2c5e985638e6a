// Acts on each session message of the admitted agent, once decrypted: commands on this computer,
// chat lines, file offers and downloads, the change of agent, the end of the session and the agent's
// screen. Keywords are compared without regard to case; a message with any other keyword is ignored.
//
// The dispatcher may be re-entered: the file-offer question waits for the customer while window
// events (and so further messages) run. It keeps nothing on its stack across that wait but the
// answer, and does nothing more once the session that asked is gone. Nesting is bounded: past
// kMaxDepth levels messages wait in order until a level returns, and while an offer's question is
// open a further offer is refused.
#pragma once

#include "session/SessionMessages.h"

#include <QString>

#include <deque>
#include <memory>

namespace pelio::app {
struct AppContext;
}

namespace pelio::session {

class ChatPeer;
class DownloadPeer;
class ScreenViewPeer;
class SessionCommands;
class SessionController;
class SessionView;

class MessageDispatcher {
  public:
    struct Peers {
        ChatPeer& chat;
        DownloadPeer& downloads;
        ScreenViewPeer& screen;
        SessionCommands& commands;
    };

    // serviceRoot: the web service's root address, ending with "/" ("ie" opens its home page).
    MessageDispatcher(app::AppContext& context, SessionController& session, SessionView& view, Peers peers,
                      QString serviceRoot);
    ~MessageDispatcher();

    void Dispatch(const QString& message);

    // The local path a download from `address` is saved to: the last part of the address made a safe
    // file name inside the received-files folder (made when missing). A file already there is deleted;
    // when it cannot be, the name gets "(1)" in front (and a file of that name is deleted). Empty when
    // there is no received-files folder.
    static QString DownloadTarget(const QString& receivedFolder, const QString& address);

    const ChatBuffer& Chat() const { return m_chatBuffer; }

    // Nesting levels of handlers (each may wait while window events run) and the messages that wait
    // for a level to end, at most.
    static constexpr int kMaxDepth = 4;
    static constexpr size_t kBacklogLimit = 10000;

  private:
    void Handle(const QString& message);
    void OfferFiles(const QString& list);
    void StartDownload(const QString& address);

    app::AppContext& m_context;
    SessionController& m_session;
    SessionView& m_view;
    Peers m_peers;
    QString m_serviceRoot;
    ChatBuffer m_chatBuffer;
    std::deque<QString> m_backlog;
    int m_depth = 0;
    bool m_asking = false;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

}  // namespace pelio::session
