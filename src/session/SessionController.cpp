#include "session/SessionController.h"

#include "app/AppContext.h"
#include "app/ValueCipher.h"
#include "server/ServerComponent.h"
#include "session/MessageDispatcher.h"
#include "session/RemoteActionPolicy.h"
#include "session/SessionLog.h"
#include "session/SessionMessages.h"
#include "session/SessionPeers.h"

#include <QDir>
#include <QFileInfo>

namespace pelio::session {

namespace {

const QString kCrLf = QStringLiteral("\r\n");
const QString kChooseAvailableAgent =
    QStringLiteral("'지원가능'한 상담원을 선택하신 후 [지원요청] 하십시오.");
const QString kRefreshAndChoose = QStringLiteral("[새로고침] 후 '지원가능'으로 표시된 상담원을 선택하세요.");
const QString kConnected = QStringLiteral("연결되었습니다.");
const QString kSessionEnded = QStringLiteral("연결이 종료되었습니다.");
const QString kEndedByAgent = QStringLiteral("원격지원이 정상적으로 종료되었습니다. 감사합니다.");
const QString kSecurityFailed = QStringLiteral(
    "상담원 프로그램의 보안 인증에 실패하여 연결하지 않았습니다.\r\n"
    "고객님의 정보와 화면은 전송되지 않았습니다. 상담원에게 전화로 확인하신 후 다시 시도하십시오.");
const QString kUnverifiedRefused = QStringLiteral(
    "보안 연결을 확인할 수 없는 상담원이어서 연결하지 않습니다.\r\n"
    "(이 컴퓨터는 확인된 상담원에게만 연결하도록 설정되어 있습니다.)");
const QString kUnencrypted = QStringLiteral(
    "암호화되지 않은 연결입니다. 상담원이 프로그램을 실행하거나 주소를 열려고 하면 먼저 여쭙니다.");

QString FailureText(bool manual) {
    return QStringLiteral("연결에 실패하였습니다. 다음 사항을 확인해 보십시오.") + kCrLf + kCrLf +
           (manual ? QStringLiteral("1. 상대편 상담원이 올바로 접속 대기중인지(전화로 확인),")
                   : QStringLiteral(
                         "1. 상대편 상담원이 올바로 접속 대기중인지([상담원 상태 새로고침] 단추 누름),")) +
           kCrLf + QStringLiteral("2. 현재 컴퓨터가 인터넷에 올바로 연결되어 있는지,") + kCrLf +
           QStringLiteral("3. 방화벽 등에 의해 이 프로그램의 인터넷 연결이 차단되어 있지 않는지,") + kCrLf +
           kCrLf + QStringLiteral("모두 정상이라면 프로그램 종료 후 다시 실행해 보십시오.");
}

QString BusyText(bool manual) {
    return QStringLiteral("현재 상담원이 다른 고객님을 지원중인거 같습니다.") + kCrLf +
           (manual ? QStringLiteral("프로그램 종료 후 다시 실행하여 접속을 시도하십시오.")
                   : QStringLiteral("[상담원 상태 새로고침] 단추를 누른 후 다시 시도하십시오."));
}

}  // namespace

QString SessionController::AgentConnectedText() {
    return QStringLiteral("접속되었습니다.");
}

QString SessionController::ConnectedText() {
    return kConnected;
}

QString SessionController::SecurityFailedText() {
    return kSecurityFailed;
}

bool SessionController::Apply(Event event) {
    const std::optional<State> next = Next(m_state, event);
    if (!next) return false;
    m_state = *next;
    return true;
}

SessionController::SessionController(app::AppContext& context, components::ServerComponent& component,
                                     SessionView& view, ChatPeer* chat, Hooks hooks, QObject* parent)
    : QObject(parent),
      m_context(context),
      m_component(component),
      m_view(view),
      m_chat(chat),
      m_hooks(std::move(hooks)) {
    m_timer1.setInterval(1000);
    connect(&m_timer1, &QTimer::timeout, this, &SessionController::Timer1Tick);
    m_redialTimer.setSingleShot(true);
    connect(&m_redialTimer, &QTimer::timeout, this, &SessionController::RedialTick);
    connect(&m_component, &components::ServerComponent::Connected, this, &SessionController::OnConnected);
    connect(&m_component, &components::ServerComponent::Disconnected, this,
            &SessionController::OnDisconnected);
    connect(&m_component, &components::ServerComponent::TextReceived, this,
            [this](int index, const QString& text, int) { OnTextReceived(index, text); });
    connect(&m_component, &components::ServerComponent::MonitorsChanged, this, [this] {
        if (InSession()) TellMonitors();
    });
}

SessionController::~SessionController() {
    *m_alive = false;
}

bool SessionController::bConnected() const {
    return m_state == State::Waiting || m_state == State::InSession || m_state == State::MovedWaiting ||
           Redialling();
}

void SessionController::Prepare() {
    m_view.SetStatus(QString());
    m_component.SetConfigFlag1(false);
    m_component.SetConfigFlag2(true);
    m_component.SetConfigFlag3(true);
    m_component.SetConfigFlag4(false);
}

QString SessionController::TimeText(qint64 seconds) {
    return QStringLiteral("%1분 %2초").arg(seconds / 60).arg(seconds % 60);
}

bool SessionController::RequiresSecureAgents() const {
    return RemoteActionPolicy::RequiresSecureAgents(m_context.IniFile);
}

void SessionController::RequestConnect(const ConnectRequest& request) {
    if (m_state != State::Idle) return;  // a second press while a session runs
    if (!request.Agent) {
        m_view.Inform(kChooseAvailableAgent);
        return;
    }
    const AgentChoice& agent = *request.Agent;
    if (agent.Pin.isEmpty() && RequiresSecureAgents()) {
        qCInfo(lcSession) << "an agent without a pin is refused: only verified agents are allowed";
        m_view.Inform(kUnverifiedRefused);
        return;
    }
    QString address = agent.PublicAddress.trimmed();
    bool numeric = false;
    const int port = agent.Port.trimmed().toInt(&numeric);
    if (address.isEmpty() || !numeric || port == 0) {
        m_view.Inform(kRefreshAndChoose);
        return;
    }
    const std::weak_ptr<bool> alive = m_alive;
    if (!m_view.AskYesNo(agent.Name + QStringLiteral(" 상담원에게 원격지원을 요청하시겠습니까?"))) return;
    if (alive.expired() || m_state != State::Idle) return;
    m_view.SetSelectedAgentStatus(QStringLiteral("접속 중...."), true);

    // An agent behind the customer's own public address is reached at its local address.
    const QString reply = m_hooks.lookupPublicIp ? m_hooks.lookupPublicIp() : QString();
    if (alive.expired()) return;
    if (!reply.isEmpty() && address.compare(reply, Qt::CaseInsensitive) == 0)
        address = agent.LocalAddress.trimmed();

    const bool ok = Open(address, port, agent.Name, agent.Pin);
    if (alive.expired()) return;
    if (ok) {
        m_view.Beep();
        if (!request.RequestText.isEmpty()) m_context.PendingRequestText = request.RequestText;
        m_view.MarkRequestTextSent();
        m_view.SetSelectedAgentStatus(AgentConnectedText(), false);
    } else {
        m_view.EnableControl(SessionControl::Refresh, true);
        m_view.SetSelectedAgentStatus(QStringLiteral("접속실패"), true);
    }
}

bool SessionController::OpenSession(const QString& address, int port) {
    m_tempServerIP = address;
    m_tempServerPort = port;
    // A manually given address comes with no key to check.
    if (RequiresSecureAgents()) {
        m_view.Inform(kUnverifiedRefused);
        return false;
    }
    return Open(address, port, QString(), QString());
}

void SessionController::UseAgentPin(const QString& pin) {
    m_agentPin = pin;
    m_component.SetAgentPin(pin);
}

void SessionController::ShowSecurity(components::ServerConnection& connection) {
    const QString code = connection.CheckCode();
    const bool verified = !m_agentPin.isEmpty() && !code.isEmpty();
    // An agent the service does not vouch for may still help, but the customer says yes to each program
    // it runs and each address it opens.
    if (m_dispatcher) {
        const Verdict verdict = verified ? Verdict::Run : Verdict::Ask;
        m_dispatcher->Policy().Set(RemoteAction::RunProgram, verdict);
        m_dispatcher->Policy().Set(RemoteAction::OpenAddress, verdict);
    }
    const QString text =
        verified
            ? QStringLiteral("보안 연결 확인 코드 %1\r\n상담원 화면의 코드와 같은지 확인하십시오.").arg(code)
            : kUnencrypted;
    qCInfo(lcSession).noquote() << (verified ? "secure link, check code" : "plain link") << code;
    m_view.ShowLinkSecurity(text);
    if (m_chat)
        m_chat->DisplayCommonMsg(QString(text).replace(QStringLiteral("\r\n"), QStringLiteral(" ")),
                                 verified ? kNoticeGrey : kNoticeRed);
}

bool SessionController::Open(const QString& address, int port, const QString& agentName, const QString& pin) {
    // A link that is being made is not replaced by another.
    if (!Apply(Event::Open)) return false;
    const std::weak_ptr<bool> alive = m_alive;
    m_view.SetWaitCursor(true);
    if (!agentName.isEmpty()) m_view.SetStatus(agentName + QStringLiteral(" 상담원에게 연결 중..."));
    m_admittedIndex = -1;
    m_view.ShowLinkSecurity(QString());
    if (m_component.Recording()) m_component.StopRecording();
    if (m_component.Active()) m_component.Stop();
    m_component.Start(kDefaultAgentPort);
    UseAgentPin(pin);
    qCInfo(lcSession).noquote() << "OpenSession" << address << port << (pin.isEmpty() ? "plain" : "pinned");
    const bool ok = m_component.Connect(address, port);
    if (alive.expired()) return false;
    m_currentServerIP = address;
    m_currentServerPort = port;
    m_view.SetWaitCursor(false);
    if (ok) {
        m_linkAddress = address;
        m_linkPort = port;
        Apply(Event::LinkUp);
        StartLinkDone();
        m_view.ShowConnectedNotice();
        m_view.ShowOnSupport();
    } else {
        Apply(Event::LinkFailed);
        m_view.SetStatus(QStringLiteral("연결실패"));
        if (m_component.LastConnectFailure() == components::ServerComponent::ConnectFailure::Security) {
            qCWarning(lcSession) << "the agent's key does not match its pin: the link is given up";
            m_view.Inform(kSecurityFailed);
        } else {
            m_view.Inform(FailureText(ManualMode()));
        }
    }
    return ok;
}

// The link is up: the window shows the session as running and the recording starts.
void SessionController::StartLinkDone() {
    m_view.EnableControl(SessionControl::Connect, false);
    m_view.EnableControl(SessionControl::End, true);
    m_view.SetStatus(kConnected);
    if (m_hooks.newHistoryPaths) {
        // The transcript of a chat window made from now on takes the recording's number.
        const util::HistorySessionPaths paths = m_hooks.newHistoryPaths();
        m_transcriptPath = paths.transcript;
        if (!paths.recording.isEmpty()) m_component.StartRecording(paths.recording);
    }
    m_timer1.start();
    m_view.EnableControl(SessionControl::Chat, true);
}

void SessionController::OnConnected(int index) {
    components::ServerConnection* connection = m_component.Client(index);
    if (connection->Address() == QLatin1String("0.0.0.0")) {
        // The agent serves another customer: the link is given up and the customer told. A move to
        // another agent ends here: the link's end is the session's end, told as such.
        qCInfo(lcSession) << "agent busy";
        if (!Apply(Event::Busy)) return;
        // An agent dialled again may not have noticed the loss yet: the next dial follows as planned.
        if (m_state == State::Lost) return;
        m_view.Inform(BusyText(ManualMode()));
        return;
    }
    const bool moved = m_state == State::MovedWaiting;
    const bool rejoined = m_state == State::Rejoining;
    // Only a link this session made is admitted.
    if (!Apply(Event::Admitted)) return;
    const std::weak_ptr<bool> alive = m_alive;
    connection->SetAllowed(true);
    m_admittedIndex = index;
    m_replacedIndex = -1;
    m_view.EnableControl(SessionControl::Chat, true);
    m_view.EnableControl(SessionControl::Connect, false);
    m_view.EnableControl(SessionControl::Refresh, false);
    m_view.EnableControl(SessionControl::List, false);
    if (moved) m_view.ShowConnectedNotice();  // the next agent's check code is shown again
    ShowSecurity(*connection);
    if (m_hooks.pumpEvents) m_hooks.pumpEvents();
    if (alive.expired()) return;

    SendMessage(SessionGreeting(m_context.MachineCode, m_context.CustomerName, m_context.CustomerPhone,
                                m_context.AccountId));
    m_toldMonitors.clear();
    TellMonitors();
    if (rejoined) {
        // The customer may have ended the session while window events ran.
        if (m_state == State::InSession) FinishRedial();
        return;
    }
    if (m_hooks.pumpEvents) m_hooks.pumpEvents();
    if (alive.expired()) return;
    if (!m_context.ReceivedFolder.isEmpty() && !QFileInfo::exists(m_context.ReceivedFolder))
        QDir().mkpath(m_context.ReceivedFolder);
    if (m_hooks.pumpEvents) m_hooks.pumpEvents();
    if (alive.expired()) return;

    if (!m_context.PendingRequestText.isEmpty() && m_chat) {
        if (m_hooks.waitResponsive) m_hooks.waitResponsive(2000);
        if (alive.expired()) return;
        m_chat->OpenChat();
        if (alive.expired()) return;
    }
    if (!moved) m_view.RestoreAndActivate();
    m_view.ShowOnSupport();
}

void SessionController::OnDisconnected(int index) {
    if (index != m_admittedIndex && m_state == State::InSession) return;  // a link given up earlier
    if (index == m_replacedIndex && AgentChanging()) return;              // the link a move replaces
    if (m_state == State::Idle) return;                                   // the session has already ended
    if (Redialling()) {
        // Links of earlier dials end on their own; a link that ends before the agent took it is
        // dialled again as planned.
        if (m_state == State::Rejoining) Apply(Event::Drop);
        return;
    }
    if (m_state == State::InSession && m_component.LinkLost(index) && m_hooks.nowMs) {
        BeginRedial();
        return;
    }
    EndOnLinkEnd();
}

void SessionController::EndOnLinkEnd() {
    qCInfo(lcSession) << "disconnected";
    if (!AgentChanging()) {
        m_view.RestoreAndActivate();
        m_view.Beep();
        m_view.SetNormalState();
    }
    CloseSession();
    if (m_chat) m_chat->SessionEnded();
    m_view.EnableControl(SessionControl::Chat, false);
    m_view.EnableControl(SessionControl::List, true);
    m_view.EnableControl(SessionControl::Refresh, true);
    m_view.CloseConnectedNotice();
    m_view.CloseOnSupport();
}

void SessionController::OnTextReceived(int index, const QString& text) {
    // Only the admitted agent of the session that runs may drive it.
    if (m_state != State::InSession || index != m_admittedIndex || !m_dispatcher) return;
    m_dispatcher->Dispatch(app::DecryptValue(text));
}

void SessionController::TellMonitors() {
    const QList<QRect> monitors = m_component.Monitors();
    if (monitors == m_toldMonitors || (monitors.size() < 2 && m_toldMonitors.isEmpty())) return;
    m_toldMonitors = monitors;
    SendMessage(MonitorsMessage(monitors));
}

bool SessionController::ShowMonitor(int index) {
    if (!InSession()) return false;
    if (index == 0) return m_component.ShowMonitor(0);
    // The agent numbers the list it was told of; the screen's may have changed since.
    if (index < 1 || index > m_toldMonitors.size()) return false;
    const qsizetype now = m_component.Monitors().indexOf(m_toldMonitors[index - 1]);
    return now >= 0 && m_component.ShowMonitor(int(now) + 1);
}

void SessionController::StopComponent() {
    if (m_component.Recording()) m_component.StopRecording();
    if (m_component.Active()) m_component.Stop();
}

void SessionController::CloseSession() {
    const bool changing = AgentChanging();
    const bool redialling = Redialling();
    StopComponent();
    m_admittedIndex = -1;
    m_redialTimer.stop();
    m_heldMessages.clear();
    if (redialling) m_view.ShowRedialling(false);
    Apply(Event::Ended);
    m_view.EnableControl(SessionControl::Connect,
                         (m_view.HasSelectedAgent() && !m_view.SelectedAgentGreyed()) || ManualMode());
    m_view.EnableControl(SessionControl::End, false);
    m_view.EnableControl(SessionControl::Chat, false);
    m_timer1.stop();
    if (!changing) m_view.SetStatus(kSessionEnded);
}

void SessionController::EndByCustomer() {
    const std::weak_ptr<bool> alive = m_alive;
    const bool changing = AgentChanging();
    CloseSession();
    if (m_chat) m_chat->SessionEnded();
    m_view.CloseOnSupport();
    m_view.Inform(kSessionEnded);
    if (alive.expired()) return;
    if (!ManualMode() || changing) {
        m_view.EnableControl(SessionControl::List, true);
        m_view.EnableControl(SessionControl::Refresh, true);
    } else {
        m_view.CloseWindow();
    }
}

void SessionController::EndByAgent() {
    const std::weak_ptr<bool> alive = m_alive;
    if (!Apply(Event::Ended)) return;
    m_view.EnableControl(SessionControl::End, false);
    m_view.EnableControl(SessionControl::Chat, false);
    // The agent ended normally: the recording ends with the component.
    StopComponent();
    m_admittedIndex = -1;
    m_timer1.stop();
    if (m_chat) m_chat->SessionEnded();
    m_view.CloseConnectedNotice();
    m_view.CloseOnSupport();
    m_view.SetNormalState();
    // The title said "연결되었습니다." until now.
    m_view.SetStatus(kSessionEnded);
    m_view.Inform(kEndedByAgent);
    if (alive.expired()) return;
    m_view.EnableControl(SessionControl::List, !ManualMode());
    m_view.EnableControl(SessionControl::Refresh, !ManualMode());
}

void SessionController::ChangeAgent(const QString& address, int port, const QString& pin) {
    const int replaced = m_admittedIndex;
    if (!Apply(Event::Move)) return;
    const std::weak_ptr<bool> alive = m_alive;
    m_replacedIndex = replaced;
    m_admittedIndex = -1;
    qCInfo(lcSession).noquote() << "ChangeAgent" << address << port;
    if (m_component.Recording()) m_component.StopRecording();
    m_component.Stop();
    if (m_hooks.pumpEvents) m_hooks.pumpEvents();
    if (alive.expired()) return;
    m_component.Start(kDefaultAgentPort);
    UseAgentPin(pin);
    const bool ok = m_component.Connect(address, port);
    if (alive.expired()) return;
    if (ok) {
        m_linkAddress = address;
        m_linkPort = port;
        Apply(Event::LinkUp);
        StartLinkDone();
        m_view.ShowOnSupport();
    } else {
        const bool security =
            m_component.LastConnectFailure() == components::ServerComponent::ConnectFailure::Security;
        // A failed reconnect shows no message; the window is left as after a session that ended, so
        // that the customer can choose an agent again (or, in manual mode, end the program).
        Apply(Event::LinkFailed);
        m_replacedIndex = -1;
        CloseSession();
        m_view.EnableControl(SessionControl::List, true);
        m_view.EnableControl(SessionControl::Refresh, true);
        m_view.CloseOnSupport();
        if (security) m_view.Inform(kSecurityFailed);
    }
}

void SessionController::DropLink() {
    qCWarning(lcSession) << "the agent outran the session's limits: the link is dropped";
    // This side's cut, never dialled again.
    if (m_state != State::Idle) EndOnLinkEnd();
}

void SessionController::RestoreMainWindow() {
    m_view.SetNormalState();
    m_view.RestoreAndActivate();
}

void SessionController::ShowChat() {
    if (m_chat) m_chat->OpenChat();
}

void SessionController::SetClipboardSharing(bool on) {
    m_component.SetClipboardSharing(on);
}

void SessionController::SendMessage(const QString& text) {
    if (Redialling()) {
        // Nothing reaches the agent now; after the greeting of the next link it does, in order.
        if (m_heldMessages.size() < kMaxHeldMessages)
            m_heldMessages << text;
        else
            qCWarning(lcSession) << "a message sent while dialling again is dropped";
        return;
    }
    m_component.Send(0, app::EncryptValue(text));
}

void SessionController::SendChatLine(const QString& line) {
    const std::weak_ptr<bool> alive = m_alive;
    const QStringList messages = ChatMessages(line);
    for (qsizetype i = 0; i < messages.size(); ++i) {
        if (i == messages.size() - 1 && m_hooks.waitResponsive) m_hooks.waitResponsive(10);
        if (alive.expired()) return;
        SendMessage(messages[i]);
        if (i > 0 && i < messages.size() - 1) {
            if (m_hooks.waitResponsive) m_hooks.waitResponsive(50);
            if (m_hooks.pumpEvents && !alive.expired()) m_hooks.pumpEvents();
        }
    }
}

void SessionController::Timer1Tick() {
    ++m_connectedSeconds;
    m_view.ShowConnectedTime(TimeText(m_connectedSeconds));
    if (!bConnected()) m_timer1.stop();
}

}  // namespace pelio::session
