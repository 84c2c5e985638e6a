// The support session of the agent list window: connecting the server component out to the chosen
// agent, the session's life, the change of agent, the connected time, and the end from either side.
// Plain code with an explicit state; the window is reached through SessionView, the component through
// its contract, and the agent's messages go to the MessageDispatcher.
//
// The state changes only through Apply, along this table:
//
//   state         what runs                                         events -> next state
//   Idle          no session; the list is usable                    Open -> Connecting
//   Connecting    Open makes the link                               LinkUp -> Waiting, LinkFailed -> Idle
//   Waiting       the link is up; the agent's program has not       Admitted -> InSession, Busy -> Waiting,
//                 taken it yet                                      Ended -> Idle, Open -> Connecting
//   InSession     the agent is admitted and greeted                 Move -> Moving, Ended -> Idle,
//                                                                   Open -> Connecting
//   Moving        ChangeAgent makes the link to the next agent      LinkUp -> MovedWaiting,
//                                                                   LinkFailed -> Idle
//   MovedWaiting  that link is up; the next agent has not taken it  Admitted -> InSession,
//                                                                   Busy -> Waiting, Ended -> Idle
//   Lost          the admitted link was lost; the next dial waits   Redial -> Redialling, Ended -> Idle
//   Redialling    the same agent is dialled again                   LinkUp -> Rejoining,
//                                                                   LinkFailed -> Lost, Ended -> Idle
//   Rejoining     that link is up; the agent has not taken it       Admitted -> InSession, Busy -> Lost,
//                                                                   Drop -> Lost, Ended -> Idle
//   (InSession                                                      Drop -> Lost)
//
// Any other event leaves the state as it is. While a link is being made (Connecting, Moving) the end
// of the link it replaces is not the session's end. The session is connected (bConnected) in Waiting,
// InSession and MovedWaiting and while it dials again (Lost, Redialling, Rejoining); moving to another
// agent (AgentChanging) in Moving and MovedWaiting.
//
// A lost link: when the admitted link ends and the component says it was lost (LinkLost: a reset or
// no answer, as a pulled cable or a changed address gives), the session is not ended but dialled
// again: the title and the on-support indicator say "연결이 끊어져 다시 연결하는 중...", the same
// address, port and pin are dialled kFirstRedialMs after the loss and then every kRedialIntervalMs,
// and once the agent takes a link again it is greeted again and the session goes on: the component
// was never stopped, so the recording runs on in the same file; the chat window, its conversation and
// the connected time stay. Messages sent meanwhile wait and follow the greeting. No dial starts later
// than kRedialWindowMs after the loss (time read from the clock hook, RedialTick decides); then the
// session ends as when a link ends. A link the agent's program closed (its FIN, or its "end" message),
// one this side cut, and a session the customer ended are never dialled again.
#pragma once

#include "session/ChatLink.h"
#include "session/SessionPeers.h"
#include "session/SessionSeam.h"
#include "session/SessionView.h"
#include "util/core/Paths.h"

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

namespace pelio::app {
struct AppContext;
}
namespace pelio::components {
class ServerComponent;
class ServerConnection;
}  // namespace pelio::components

namespace pelio::session {

class ChatPeer;
class MessageDispatcher;

class SessionController : public QObject, public SessionSeam, public ChatLink, public SessionDriver {
    Q_OBJECT
  public:
    enum class State {
        Idle,
        Connecting,
        Waiting,
        InSession,
        Moving,
        MovedWaiting,
        Lost,
        Redialling,
        Rejoining
    };
    enum class Event { Open, LinkUp, LinkFailed, Admitted, Busy, Ended, Move, Drop, Redial };

    // The state `event` leads to from `state`, or nothing when the event does not apply there.
    static std::optional<State> Next(State state, Event event);

    // The port the agent's program listens on when none is given.
    static constexpr int kDefaultAgentPort = 18925;
    // Dialling again after a lost link: the first dial, the pause between dials, and how long after
    // the loss a dial may still start.
    static constexpr int kFirstRedialMs = 1000;
    static constexpr int kRedialIntervalMs = 3000;
    static constexpr qint64 kRedialWindowMs = 60000;
    // How long a link made again may wait for the agent to take it before the next dial.
    static constexpr qint64 kRejoinWaitMs = 15000;
    // The most messages that wait for the link while it is dialled again; later ones are dropped.
    static constexpr int kMaxHeldMessages = 1000;

    struct Hooks {
        // The customer's public address (the stored one when known).
        std::function<QString()> lookupPublicIp;
        // Waits while window events run (WaitResponsive) and runs pending window events.
        std::function<void(int ms)> waitResponsive;
        std::function<void()> pumpEvents;
        // The paths of the next session's transcript and recording in the history, one number for both.
        std::function<util::HistorySessionPaths()> newHistoryPaths;
        // Monotonic milliseconds (the program's platform::Clock); without it, no lost link is dialled
        // again.
        std::function<qint64()> nowMs;
    };

    // The chat may be given later (SetChat), before the first session; the chat window is made with
    // the controller as its link.
    SessionController(app::AppContext& context, components::ServerComponent& component, SessionView& view,
                      ChatPeer* chat, Hooks hooks, QObject* parent = nullptr);
    ~SessionController() override;

    // Sets the component's configuration once, at the window's load.
    void Prepare();
    // The dispatcher of the agent's messages; the session hands it every text of the admitted agent.
    void SetDispatcher(MessageDispatcher* dispatcher) { m_dispatcher = dispatcher; }
    void SetChat(ChatPeer& chat) { m_chat = &chat; }

    // --- SessionSeam ---
    void RequestConnect(const ConnectRequest& request) override;
    // A manual connection: the window runs without a usable agent list from now on.
    bool OpenSession(const QString& address, int port) override;
    bool bConnected() const override;
    qint64 ConnectedSeconds() const override { return m_connectedSeconds; }
    void CloseSession() override;
    void EndSession() override { EndByCustomer(); }
    void ShowChat() override;
    void SetClipboardSharing(bool on) override;

    // --- SessionDriver ---
    bool InSession() const override { return m_state == State::InSession; }
    // Sends one session message (encrypted) to the agent.
    void SendMessage(const QString& text) override;
    // The agent's message "end".
    void EndByAgent() override;
    // The agent's message "changeagent", once checked against the company's list.
    void ChangeAgent(const QString& address, int port, const QString& pin) override;
    void DropLink() override;
    QList<QRect> ToldMonitors() const override { return m_toldMonitors; }
    bool ShowMonitor(int index) override;

    // --- ChatLink ---
    // While a lost link is dialled again nothing reaches the agent: the chat says so.
    bool Connected() const override { return bConnected() && !Redialling(); }
    // Sends one chat line in its framing, pausing between the pieces.
    void SendChatLine(const QString& line) override;
    void MinimizeMainWindow() override { m_view.Minimize(); }
    void RestoreMainWindow() override;
    void CloseConnectedNotice() override { m_view.CloseConnectedNotice(); }
    QString TranscriptPath() const override { return m_transcriptPath; }

    // The end button.
    void EndByCustomer();

    State CurrentState() const { return m_state; }
    bool AgentChanging() const { return m_state == State::Moving || m_state == State::MovedWaiting; }
    // A lost link is being dialled again (Lost, Redialling, Rejoining).
    bool Redialling() const {
        return m_state == State::Lost || m_state == State::Redialling || m_state == State::Rejoining;
    }
    // The redial timer's tick: dials the agent again, or ends the session once kRedialWindowMs have
    // passed since the loss. Does nothing unless a lost link is being dialled again.
    void RedialTick();
    bool ManualMode() const { return !m_tempServerIP.isEmpty(); }
    QString CurrentServerIP() const { return m_currentServerIP; }
    int CurrentServerPort() const { return m_currentServerPort; }
    // Timer1's tick, once a second while connected: counts the connected time and shows it.
    void Timer1Tick();
    // "2분 5초" for 125 seconds.
    static QString TimeText(qint64 seconds);

  private:
    // Moves along the table; false (and no change) when the event does not apply in this state.
    bool Apply(Event event);
    bool Open(const QString& address, int port, const QString& agentName, const QString& pin);
    // Whether the settings refuse agents without a pin ([Security] RequireSecure=1).
    bool RequiresSecureAgents() const;
    // The pin the next links are checked against (empty: plain links).
    void UseAgentPin(const QString& pin);
    // The admitted link's protection: told to the customer, and the policy for unverified agents.
    void ShowSecurity(components::ServerConnection& connection);
    void StartLinkDone();
    void OnConnected(int index);
    void OnDisconnected(int index);
    void OnTextReceived(int index, const QString& text);
    // Tells the agent the screen's monitors when there are two or more, or when it was told of a
    // layout before (so that it learns that it changed).
    void TellMonitors();
    void StopComponent();
    // The admitted link was lost: the session starts dialling the agent again.
    void BeginRedial();
    // The agent took a link again and was greeted: the session goes on.
    void FinishRedial();
    // The admitted link ended for good: the session ends on this side.
    void EndOnLinkEnd();
    qint64 NowMs() const { return m_hooks.nowMs ? m_hooks.nowMs() : 0; }
    // Texts shared by the session's source files.
    static QString ConnectedText();
    static QString AgentConnectedText();  // the agent's row once the link is up
    static QString SecurityFailedText();

    app::AppContext& m_context;
    components::ServerComponent& m_component;
    SessionView& m_view;
    ChatPeer* m_chat = nullptr;
    Hooks m_hooks;
    MessageDispatcher* m_dispatcher = nullptr;

    State m_state = State::Idle;
    int m_admittedIndex = -1;
    // The link a move replaces: its end, whenever it comes, is not the end of the moved session.
    int m_replacedIndex = -1;
    QString m_currentServerIP;
    int m_currentServerPort = 0;
    QString m_transcriptPath;     // named with the recording when the link came up
    QString m_agentPin;           // the pin of the agent the current link goes to
    QList<QRect> m_toldMonitors;  // what the admitted agent was told of the monitors
    // Where the current link goes (also after a change of agent): a lost link is dialled there again.
    QString m_linkAddress;
    int m_linkPort = 0;
    qint64 m_redialUntilMs = 0;  // no dial starts at or after this time
    qint64 m_rejoinSinceMs = 0;  // when the link made again came up
    QTimer m_redialTimer;
    QStringList m_heldMessages;  // sent while dialling again; they follow the greeting
    QString m_tempServerIP;
    int m_tempServerPort = 0;
    qint64 m_connectedSeconds = 0;
    QTimer m_timer1;
    // Cleared when the controller goes; checked after every step that runs window events.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

}  // namespace pelio::session
