// Acts on each session message of the admitted agent, once decrypted: commands on this computer,
// chat lines, file offers and downloads, the change of agent, the end of the session and the agent's
// screen. Keywords are compared without regard to case; a message with any other keyword is ignored.
//
// What the agent's messages may do is bounded and visible:
//   - every action on this computer is first put to the RemoteActionPolicy (run, ask, refuse), and
//     each one that is taken or refused is told as the program's own notice in the chat view and the
//     transcript (and logged at info level);
//   - "url" and "ie" open only http:, https: and mailto: addresses;
//   - files arrive only inside a batch the customer accepted (AgentFileBatch), at most kMaxDownloads
//     of them at once (the download windows queue the rest);
//   - "changeagent" moves the session only to an agent on the company's list, fetched again for it;
//   - "monitor" chooses only among the monitors the agent was told of (or the whole desktop);
//   - a chat line over ChatBuffer::kMaxLineBytes, and a file offer over
//     AgentFileBatch::kMaxOfferedFiles names, are refused; a peer whose messages outrun the backlog
//     loses the link.
//
// The dispatcher may be re-entered: the file-offer question waits for the customer while window
// events (and so further messages) run. It keeps nothing on its stack across that wait but the
// answer, and does nothing more once the session that asked is gone. Nesting is bounded: past
// kMaxDepth levels messages wait in order until a level returns, and while an offer's question is
// open a further offer is refused.
#pragma once

#include "session/AgentFileBatch.h"
#include "session/RemoteActionPolicy.h"
#include "session/SessionMessages.h"

#include <QList>
#include <QString>

#include <deque>
#include <functional>
#include <memory>
#include <optional>

namespace pelio::app {
struct AppContext;
}

namespace pelio::session {

class ChatPeer;
class DownloadPeer;
class ScreenViewPeer;
class SessionCommands;
class SessionDriver;
class SessionView;

// An agent of the company's list, as the service lists it.
struct ListedAgent {
    QString name;
    QString publicAddress;
    QString localAddress;
    QString port;
    QString pin;  // the agent's key pin; empty for an agent the service does not vouch for
};

class MessageDispatcher {
  public:
    struct Peers {
        ChatPeer& chat;
        DownloadPeer& downloads;
        ScreenViewPeer& screen;
        SessionCommands& commands;
    };
    // The company's agents, fetched from the service when asked; nothing when the list could not be had.
    using AgentList = std::function<std::optional<QList<ListedAgent>>()>;

    // serviceRoot: the web service's root address, ending with "/" ("ie" opens its home page).
    MessageDispatcher(app::AppContext& context, SessionDriver& session, SessionView& view, Peers peers,
                      QString serviceRoot, AgentList agentList = {});
    ~MessageDispatcher();

    void Dispatch(const QString& message);

    // The local path a download from `address` is saved to: the last part of the address made a safe
    // file name inside the received-files folder (made when missing). A file already there is deleted;
    // when it cannot be, the name gets "(1)" in front (and a file of that name is deleted). Empty when
    // there is no received-files folder.
    static QString DownloadTarget(const QString& receivedFolder, const QString& address);

    // The agent on the list that an address and port of "changeagent" name, by the same comparison the
    // message's fields go through (the local address for an agent behind the customer's own public
    // address); nothing when none does.
    static std::optional<ListedAgent> FindListedAgent(const QList<ListedAgent>& agents,
                                                      const QString& address, int port,
                                                      const QString& customerPublicIp);

    RemoteActionPolicy& Policy() { return m_policy; }
    const ChatBuffer& Chat() const { return m_chatBuffer; }
    const AgentFileBatch& FileBatch() const { return m_batch; }

    // Nesting levels of handlers (each may wait while window events run) and the messages that wait
    // for a level to end, at most, by number and by size (UTF-16 code units).
    static constexpr int kMaxDepth = 4;
    static constexpr size_t kBacklogLimit = 10000;
    static constexpr qsizetype kBacklogChars = 8 * 1024 * 1024;

  private:
    using Handler = void (MessageDispatcher::*)(const QString& argument);
    static Handler HandlerOf(const QString& keyword);

    void Handle(const QString& message);
    // Whether the policy lets the action run, asking the customer when it says so; a refusal is told.
    bool Allowed(RemoteAction action, const QString& detail);
    void Notice(const QString& text, int colour);

    void OnShell(const QString& argument);
    void OnIe(const QString& argument);
    void OnUrl(const QString& argument);
    void OnExplorer(const QString& argument);
    void OnDesktop(const QString& argument);
    void OnIme(const QString& argument);
    void OnFileAccepted(const QString& argument);
    void OnFileRefused(const QString& argument);
    void OnFileName(const QString& argument);
    void OnDownloadThis(const QString& argument);
    void OnLastFile(const QString& argument);
    void OnChatStart(const QString& argument);
    void OnChat(const QString& argument);
    void OnChatEnd(const QString& argument);
    void OnChangeAgent(const QString& argument);
    void OnEnd(const QString& argument);
    void OnShowMe(const QString& argument);
    void OnStopShowMe(const QString& argument);
    void OnMonitor(const QString& argument);

    void OpenAddress(const QString& address);

    app::AppContext& m_context;
    SessionDriver& m_session;
    SessionView& m_view;
    Peers m_peers;
    QString m_serviceRoot;
    AgentList m_agentList;
    RemoteActionPolicy m_policy;
    AgentFileBatch m_batch;
    ChatBuffer m_chatBuffer;
    std::deque<QString> m_backlog;
    qsizetype m_backlogChars = 0;
    int m_depth = 0;
    bool m_asking = false;
    bool m_moving = false;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

}  // namespace pelio::session
