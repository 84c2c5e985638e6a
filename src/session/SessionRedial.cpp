// The session dialling the agent again after a lost link (see SessionController.h, "A lost link").
#include "server/ServerComponent.h"
#include "session/SessionController.h"
#include "session/SessionLog.h"
#include "session/SessionPeers.h"

#include <utility>

namespace pelio::session {

namespace {

const QString kRedialling = QStringLiteral("연결이 끊어져 다시 연결하는 중...");

}  // namespace

void SessionController::BeginRedial() {
    Apply(Event::Drop);
    m_admittedIndex = -1;
    m_redialUntilMs = NowMs() + kRedialWindowMs;
    qCInfo(lcSession).noquote() << "link lost: dialling" << m_linkAddress << m_linkPort << "again";
    m_view.SetStatus(kRedialling);
    // Also in the agent's row, not greyed: after a redial that gave up, the same agent may be asked.
    m_view.SetSelectedAgentStatus(kRedialling, false);
    m_view.ShowRedialling(true);
    if (m_chat) m_chat->DisplayCommonMsg(kRedialling, kNoticeYellow);
    m_redialTimer.start(kFirstRedialMs);
}

void SessionController::RedialTick() {
    if (!Redialling() || m_state == State::Redialling) return;
    if (NowMs() >= m_redialUntilMs) {
        qCInfo(lcSession) << "the agent could not be reached again: the session ends";
        m_redialTimer.stop();
        m_view.ShowRedialling(false);
        EndOnLinkEnd();
        return;
    }
    if (m_state == State::Rejoining) {
        // The agent has not taken the last link yet. One that never does (its program hangs, or the
        // link went before it could) does not hold up the next dial for long.
        if (NowMs() - m_rejoinSinceMs >= kRejoinWaitMs) {
            qCInfo(lcSession) << "the agent did not take the link: dialling again";
            Apply(Event::Drop);
        }
        m_redialTimer.start(kRedialIntervalMs);
        return;
    }
    const std::weak_ptr<bool> alive = m_alive;
    Apply(Event::Redial);
    // The component runs on (with the agent's pin) and keeps recording; only a new link is made.
    if (!m_component.Active()) m_component.Start(kDefaultAgentPort);
    const bool ok = m_component.Connect(m_linkAddress, m_linkPort);
    if (alive.expired() || m_state != State::Redialling) return;  // the session ended meanwhile
    if (ok) {
        qCInfo(lcSession) << "link made again; waiting for the agent";
        Apply(Event::LinkUp);
        m_rejoinSinceMs = NowMs();
    } else {
        qCInfo(lcSession) << "dialling again failed";
        Apply(Event::LinkFailed);
        if (m_component.LastConnectFailure() == components::ServerComponent::ConnectFailure::Security) {
            // Another key answers at the agent's address: nothing of the session goes there.
            qCWarning(lcSession) << "the agent's key does not match its pin: no more dialling";
            m_redialTimer.stop();
            m_view.ShowRedialling(false);
            EndOnLinkEnd();
            m_view.Inform(SecurityFailedText());
            return;
        }
    }
    m_redialTimer.start(kRedialIntervalMs);
}

void SessionController::FinishRedial() {
    qCInfo(lcSession) << "the agent took the session again";
    m_redialTimer.stop();
    m_view.SetStatus(ConnectedText());
    m_view.SetSelectedAgentStatus(AgentConnectedText(), false);
    m_view.ShowRedialling(false);
    if (m_chat) m_chat->DisplayCommonMsg(ConnectedText(), kNoticeGreen);
    const QStringList held = std::exchange(m_heldMessages, {});
    for (const QString& message : held) SendMessage(message);
    m_view.ShowOnSupport();
}

}  // namespace pelio::session
