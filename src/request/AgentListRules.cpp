#include "request/AgentListRules.h"

#include "app/AppContext.h"
#include "platform/Clock.h"
#include "platform/InputMode.h"
#include "request/RequestLog.h"
#include "session/SessionSeam.h"

namespace pelio::request {

namespace {

// The most of a reply that the customer is shown.
constexpr int kShownReplyLength = 300;
const QString kNoListInManualMode = QStringLiteral("상담원 정보를 볼 수 없는 상태입니다.");
const QString kRetryQuestion = QStringLiteral(
    "상담원이 하나도 없거나 연결문제로 상담원 목록을 불러오지 못했습니다. 다시 시도하시겠습니까?"
    "\r\n계속하여 같은 오류가 발생하면 종료 후 잠시 후 다시 시도하십시오.");

QString ServerFaultText(const web::ServiceRoots& roots) {
    return QStringLiteral("서버에 장애가 있거나 알 수 없는 이유로 상담원 목록을 불러올 수 없습니다. \r\n") +
           web::ServiceHomePageRequest(roots).PageAddress +
           QStringLiteral(" 홈페이지가 정상인지 확인 후 다시 시도해 보십시오.");
}

QString NotListedText(const QString& rawText) {
    // A whole error page of the web server would make a box taller than the screen: its start says why.
    QString shown = rawText.isEmpty() ? QStringLiteral("알 수 없음") : rawText;
    if (shown.size() > kShownReplyLength) shown = shown.left(kShownReplyLength) + QStringLiteral("…");
    return QStringLiteral(
               "다음과 같은 이유로 상담원 목록을 불러올 수 없습니다. 이용에 불편을 드려 대단히 "
               "죄송합니다.\r\n\r\n서버에서 반환된 내용 : ") +
           shown;
}

// An empty text counts as contained in any non-empty Info; an empty Info contains nothing.
bool InfoMentions(const QString& info, const QString& text) {
    return !info.isEmpty() && info.contains(text, Qt::CaseInsensitive);
}

}  // namespace

AgentListRules::AgentListRules(app::AppContext& context, session::SessionSeam& session,
                               const platform::Clock& clock, platform::InputMode& inputMode, View& view,
                               web::ServiceRoots roots, AgentListFetch fetch)
    : m_context(context),
      m_session(session),
      m_clock(clock),
      m_inputMode(inputMode),
      m_view(view),
      m_roots(std::move(roots)),
      m_fetch(std::move(fetch)) {}

void AgentListRules::Activate() {
    if (m_state != State::Loaded) return;
    m_state = State::Activating;
    m_inputMode.SetHangul(true);

    if (m_context.DeptCode.isEmpty() || m_context.CustomerPhone.isEmpty()) {
        const EntryOutcome entry = m_view.OpenEntryWindow();
        if (Closed()) return;
        if (!entry.IsChanged) {
            m_view.CloseWindow();
            return;
        }
        if (entry.ConnectNow) {
            m_tempServerIP = entry.ServerIP;
            m_tempServerPort = entry.ServerPort;
            const bool connected = m_session.OpenSession(m_tempServerIP, m_tempServerPort);
            if (Closed()) return;
            if (!connected) {
                m_view.CloseWindow();
                return;
            }
        } else {
            // The refresh button comes back when the cool-down of this refresh ends.
            Refresh();
            while (!Closed() && m_agents.isEmpty()) {
                if (!m_view.AskYesNo(kRetryQuestion)) {
                    if (!Closed()) m_view.CloseWindow();
                    return;
                }
                Refresh();
            }
        }
    } else {
        Refresh();
    }
    if (Closed()) return;
    m_state = State::Ready;
    m_view.ShowReady();
}

void AgentListRules::Refresh() {
    if (Closed() || m_loading) return;
    if (IsManual()) {
        m_view.Inform(kNoListInManualMode);
        return;
    }
    m_refreshedAt = m_clock.NowMs();
    m_cooling = true;
    m_view.ShowCooldown(true);
    m_view.ShowNotice(web::NoticePageRequest(m_roots, m_context.DeptCode));
    LoadList();
    Tick();
}

void AgentListRules::Tick() {
    if (!m_cooling || m_loading || Closed()) return;
    if (m_clock.NowMs() - m_refreshedAt < kRefreshCooldownMs) return;
    m_cooling = false;
    m_view.ShowCooldown(false);
}

void AgentListRules::LoadList() {
    if (IsManual()) return;
    m_agents.clear();
    m_greyed.clear();
    m_view.ShowAgents(m_agents);
    m_view.SetConnectEnabled(false);

    m_loading = true;
    const web::AgentListReply reply = m_fetch(m_context.DeptCode);
    m_loading = false;
    if (Closed()) return;

    switch (reply.Outcome) {
        case web::AgentListOutcome::Listed: {
            m_agents = reply.Records;
            for (const web::AgentRecord& agent : m_agents) m_greyed << !agent.IsAvailable();
            m_view.ShowAgents(m_agents);
            const int selected = SelectAfterLoad(m_agents, m_view.AgentsInListOrder(), m_context.CustomerName,
                                                 m_context.CustomerPhone);
            if (selected >= 0) {
                m_view.SelectAgent(selected);
                m_view.ShowGuidance(Guidance::ChooseAgent);
                ChooseAgent(selected);
            } else {
                m_view.ShowGuidance(Guidance::NoneAvailable);
            }
            qCInfo(lcRequest) << "agent list filled" << m_agents.size();
            return;
        }
        case web::AgentListOutcome::ServerFault:
            qCInfo(lcRequest) << "agent list filled" << 0;
            m_view.Inform(ServerFaultText(m_roots));
            return;
        case web::AgentListOutcome::NotListed:
            qCInfo(lcRequest) << "agent list filled" << 0;
            m_view.Inform(NotListedText(reply.RawText));
            return;
    }
}

int AgentListRules::SelectAfterLoad(const QList<web::AgentRecord>& agents, const QList<int>& listOrder,
                                    const QString& customerName, const QString& customerPhone) {
    int selected = -1;
    for (int i = 0; i < agents.size() && selected < 0; ++i)
        if (agents[i].IsAvailable()) selected = i;
    for (const int i : listOrder) {
        if (i < 0 || i >= agents.size() || !agents[i].IsAvailable()) continue;
        if (InfoMentions(agents[i].Info, customerName) || InfoMentions(agents[i].Info, customerPhone))
            selected = i;
    }
    return selected;
}

void AgentListRules::ChooseAgent(int index) {
    if (IsManual() || Closed()) return;
    if (index < 0 || index >= m_agents.size()) {
        m_view.SetConnectEnabled(false);
        return;
    }
    const web::AgentRecord& agent = m_agents[index];
    m_view.ShowAgentLine(QStringLiteral("[") + agent.Name + QStringLiteral("] ") +
                         (agent.Info.isEmpty() ? agent.Status : agent.Info));
    if (!m_session.bConnected()) m_view.SetConnectEnabled(!m_greyed[index]);
}

void AgentListRules::MarkGreyed(int index, bool greyed) {
    if (index >= 0 && index < m_greyed.size()) m_greyed[index] = greyed;
}

bool AgentListRules::IsGreyed(int index) const {
    return index >= 0 && index < m_greyed.size() && m_greyed[index];
}

void AgentListRules::Closing() {
    m_state = State::Closed;
    m_cooling = false;
}

AgentListRules::RequestFileAction AgentListRules::RequestFileOnClose(qint64 connectedSeconds,
                                                                     const QString& requestText) {
    if (connectedSeconds > kRequestKeptUpToSeconds) return RequestFileAction::Delete;
    if (requestText.size() > kRequestMinimumLength &&
        requestText.compare(kRequestHint, Qt::CaseInsensitive) != 0)
        return RequestFileAction::Write;
    return RequestFileAction::Keep;
}

}  // namespace pelio::request
