// The support session of the agent list window: connecting the server component out to the chosen
// agent, the session's life, the change of agent, the connected time, and the end from either side.
// Plain code with an explicit state; the window is reached through SessionView, the component through
// its contract, and the agent's messages go to the MessageDispatcher.
#pragma once

#include "request/SessionSeam.h"
#include "session/SessionView.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <memory>

namespace pelio::app {
struct AppContext;
}
namespace pelio::components {
class ServerComponent;
}

namespace pelio::session {

class ChatPeer;
class MessageDispatcher;

class SessionController : public QObject, public request::SessionSeam {
    Q_OBJECT
  public:
    enum class State {
        Idle,        // no session; the list is usable
        Connecting,  // OpenSession or ChangeAgent is making the link
        Waiting,     // the link is up; the agent's program has not taken it yet
        InSession,   // the agent is admitted and greeted
    };

    // The port the agent's program listens on when none is given.
    static constexpr int kDefaultAgentPort = 18925;

    struct Hooks {
        // The customer's public address (the stored one when known).
        std::function<QString()> lookupPublicIp;
        // Waits while window events run (WaitResponsive) and runs pending window events.
        std::function<void(int ms)> waitResponsive;
        std::function<void()> pumpEvents;
        // The path of the next recording of the session history.
        std::function<QString()> newRecordingPath;
    };

    SessionController(app::AppContext& context, components::ServerComponent& component, SessionView& view,
                      ChatPeer& chat, Hooks hooks, QObject* parent = nullptr);
    ~SessionController() override;

    // Sets the component's configuration once, at the window's load.
    void Prepare();
    // The dispatcher of the agent's messages; the session hands it every text of the admitted agent.
    void SetDispatcher(MessageDispatcher* dispatcher) { m_dispatcher = dispatcher; }

    // --- SessionSeam ---
    void RequestConnect(const request::ConnectRequest& request) override;
    // A manual connection: the window runs without a usable agent list from now on.
    bool OpenSession(const QString& address, int port) override;
    bool bConnected() const override { return m_connected; }
    qint64 ConnectedSeconds() const override { return m_connectedSeconds; }
    void CloseSession() override;
    void EndSession() override { EndByCustomer(); }
    void ShowChat() override;

    // The end button.
    void EndByCustomer();
    // The agent's message "end".
    void EndByAgent();
    // The agent's message "changeagent".
    void ChangeAgent(const QString& address, int port);
    // Sends one session message (encrypted) to the agent.
    void SendMessage(const QString& text);
    // Sends one chat line in its framing, pausing between the pieces.
    void SendChatLine(const QString& line);

    State CurrentState() const { return m_state; }
    bool AgentChanging() const { return m_agentChanging; }
    bool ManualMode() const { return !m_tempServerIP.isEmpty(); }
    QString CurrentServerIP() const { return m_currentServerIP; }
    int CurrentServerPort() const { return m_currentServerPort; }
    // Timer1's tick, once a second while connected: counts the connected time and shows it.
    void Timer1Tick();
    // "2분 5초" for 125 seconds.
    static QString TimeText(qint64 seconds);

  private:
    bool Open(const QString& address, int port, const QString& agentName);
    void StartLinkDone();
    void OnConnected(int index);
    void OnDisconnected(int index);
    void OnTextReceived(int index, const QString& text);
    void StopComponent();

    app::AppContext& m_context;
    components::ServerComponent& m_component;
    SessionView& m_view;
    ChatPeer& m_chat;
    Hooks m_hooks;
    MessageDispatcher* m_dispatcher = nullptr;

    State m_state = State::Idle;
    bool m_connected = false;
    bool m_agentChanging = false;
    int m_admittedIndex = -1;
    QString m_currentServerIP;
    int m_currentServerPort = 0;
    QString m_tempServerIP;
    int m_tempServerPort = 0;
    qint64 m_connectedSeconds = 0;
    QTimer m_timer1;
    // Cleared when the controller goes; checked after every step that runs window events.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

}  // namespace pelio::session
