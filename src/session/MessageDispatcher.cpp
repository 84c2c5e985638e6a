#include "session/MessageDispatcher.h"

#include "app/AppContext.h"
#include "session/SessionLog.h"
#include "session/SessionPeers.h"
#include "session/SessionView.h"
#include "util/core/Paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

namespace pelio::session {

namespace {

// What a notice shows of a text the agent chose (a command line, an address): escaped for the chat
// view's HTML, and cut short so that a huge argument does not flood the transcript.
QString Shown(const QString& detail) {
    constexpr qsizetype kShownLength = 300;
    const QString cut =
        detail.size() > kShownLength ? detail.left(kShownLength) + QStringLiteral("…") : detail;
    return cut.toHtmlEscaped();
}

}  // namespace

MessageDispatcher::MessageDispatcher(app::AppContext& context, SessionDriver& session, SessionView& view,
                                     Peers peers, QString serviceRoot, AgentList agentList)
    : m_context(context),
      m_session(session),
      m_view(view),
      m_peers(peers),
      m_serviceRoot(std::move(serviceRoot)),
      m_agentList(std::move(agentList)) {}

MessageDispatcher::~MessageDispatcher() {
    *m_alive = false;
}

MessageDispatcher::Handler MessageDispatcher::HandlerOf(const QString& keyword) {
    using D = MessageDispatcher;
    static const QHash<QString, Handler> table{
        {keyword::kShell, &D::OnShell},
        {keyword::kIe, &D::OnIe},
        {keyword::kUrl, &D::OnUrl},
        {keyword::kExplorer, &D::OnExplorer},
        {keyword::kDesktop, &D::OnDesktop},
        {keyword::kIme, &D::OnIme},
        {keyword::kFileAccepted, &D::OnFileAccepted},
        {keyword::kFileRefused, &D::OnFileRefused},
        {keyword::kFileName, &D::OnFileName},
        {keyword::kDownloadThis, &D::OnDownloadThis},
        {keyword::kLastFile, &D::OnLastFile},
        {keyword::kChatStart, &D::OnChatStart},
        {keyword::kChat, &D::OnChat},
        {keyword::kChatEnd, &D::OnChatEnd},
        {keyword::kChangeAgent, &D::OnChangeAgent},
        {keyword::kEnd, &D::OnEnd},
        {keyword::kShowMe, &D::OnShowMe},
        {keyword::kStopShowMe, &D::OnStopShowMe},
        {keyword::kMonitor, &D::OnMonitor},
    };
    return table.value(keyword, nullptr);
}

void MessageDispatcher::Dispatch(const QString& message) {
    // A peer that sends faster than its messages are handled (each may wait for the customer) loses
    // the link rather than the program its memory.
    if (m_backlog.size() >= kBacklogLimit || m_backlogChars + message.size() > kBacklogChars) {
        qCWarning(lcSession) << "the agent's messages outran the backlog";
        m_backlog.clear();
        m_backlogChars = 0;
        m_session.DropLink();
        return;
    }
    m_backlog.push_back(message);
    m_backlogChars += message.size();
    // Messages handled while an earlier one waits nest inside its wait; past a few levels they wait
    // their turn here instead, so that a peer cannot grow the stack without end. Order is kept.
    if (m_depth >= kMaxDepth) return;
    const std::weak_ptr<bool> alive = m_alive;
    while (!m_backlog.empty()) {
        // Only the session that runs acts on what its agent sent.
        if (!m_session.InSession()) {
            m_backlog.clear();
            m_backlogChars = 0;
            return;
        }
        const QString next = m_backlog.front();
        m_backlog.pop_front();
        m_backlogChars -= next.size();
        ++m_depth;
        Handle(next);
        if (alive.expired()) return;
        --m_depth;
    }
}

void MessageDispatcher::Handle(const QString& message) {
    const SessionMessage m = SplitMessage(message);
    qCDebug(lcSession) << "message" << m.keyword.left(40);
    if (const Handler handler = HandlerOf(m.keyword)) (this->*handler)(m.argument);
}

void MessageDispatcher::Notice(const QString& text, int colour) {
    qCInfo(lcSession).noquote() << "notice" << text;
    m_peers.chat.DisplayCommonMsg(text, colour);
}

bool MessageDispatcher::Allowed(RemoteAction action, const QString& detail) {
    Verdict verdict = m_policy.Decide(action);
    if (verdict == Verdict::Ask) {
        const std::weak_ptr<bool> alive = m_alive;
        const bool yes = m_view.AskYesNo(RemoteActionPolicy::Question(action, detail));
        if (alive.expired() || !m_session.InSession()) return false;
        verdict = yes ? Verdict::Run : Verdict::Refuse;
    }
    if (verdict == Verdict::Run) return true;
    Notice(QStringLiteral("상담원이 요청한 작업을 허용하지 않았습니다: ") + Shown(detail), kNoticeRed);
    return false;
}

// --- commands on this computer ---

void MessageDispatcher::OnShell(const QString& argument) {
    if (!Allowed(RemoteAction::RunProgram, argument)) return;
    Notice(QStringLiteral("상담원이 프로그램을 실행했습니다: ") + Shown(argument), kNoticeGrey);
    m_peers.commands.RunCommandLine(argument);
}

void MessageDispatcher::OnIe(const QString&) {
    OpenAddress(m_serviceRoot + QStringLiteral("pelio/"));
}

void MessageDispatcher::OnUrl(const QString& argument) {
    OpenAddress(argument);
}

void MessageDispatcher::OpenAddress(const QString& address) {
    const QString trimmed = address.trimmed();
    // A local path, file: or any other scheme could start a program or show local files.
    if (!RemoteActionPolicy::IsOpenableAddress(trimmed)) {
        Notice(QStringLiteral("상담원이 보낸 주소는 열 수 없는 형식이라 열지 않았습니다: ") + Shown(trimmed),
               kNoticeRed);
        return;
    }
    if (!Allowed(RemoteAction::OpenAddress, trimmed)) return;
    Notice(QStringLiteral("상담원이 웹 페이지를 열었습니다: ") + Shown(trimmed), kNoticeGrey);
    m_peers.commands.OpenAddress(trimmed);
}

void MessageDispatcher::OnExplorer(const QString&) {
    if (!Allowed(RemoteAction::OpenFileManager, QStringLiteral("파일 탐색기"))) return;
    Notice(QStringLiteral("상담원이 파일 탐색기 창을 열었습니다."), kNoticeGrey);
    m_peers.commands.OpenFileManager();
}

void MessageDispatcher::OnDesktop(const QString&) {
    if (!Allowed(RemoteAction::ShowDesktop, QStringLiteral("바탕화면 보기"))) return;
    Notice(QStringLiteral("상담원이 바탕화면 보기를 전환했습니다."), kNoticeGrey);
    m_peers.commands.ToggleShowDesktop();
}

void MessageDispatcher::OnIme(const QString&) {
    if (!Allowed(RemoteAction::SwitchInput, QStringLiteral("입력 언어 전환"))) return;
    Notice(QStringLiteral("상담원이 입력 언어(한/영)를 전환했습니다."), kNoticeGrey);
    m_peers.commands.PressHangulKey();
}

// --- files ---

// An answer with no offer of the customer waiting for it changes nothing and tells nothing (a peer
// must not be able to raise message boxes at will).
void MessageDispatcher::OnFileAccepted(const QString&) {
    if (!m_peers.chat.StartQueuedUpload()) {
        qCInfo(lcSession) << "fileaccepted with no offer waiting: ignored";
        return;
    }
    m_peers.chat.DisplayCommonMsg(QStringLiteral("상담원이 파일 전송을 수락하여 전송을 시작합니다."),
                                  kNoticeCyan);
}

void MessageDispatcher::OnFileRefused(const QString&) {
    if (!m_peers.chat.ReleaseSendQueue()) {
        qCInfo(lcSession) << "filerefused with no offer waiting: ignored";
        return;
    }
    m_peers.chat.DisplayCommonMsg(QStringLiteral("상담원이 파일 전송을 거절하여 전송이 취소되었습니다."),
                                  kNoticeYellow);
    m_view.Inform(QStringLiteral("상담원이 파일 전송을 거절하여 취소되었습니다."));
}

void MessageDispatcher::OnFileName(const QString& argument) {
    // One question at a time: an offer made while the customer has not answered the last one is
    // refused, so that questions do not pile up on the screen.
    if (m_asking) {
        qCInfo(lcSession) << "file offer refused: a question is open";
        m_session.SendMessage(keyword::kFileRefused);
        return;
    }
    const QStringList names = OfferedFiles(argument);
    if (names.size() > AgentFileBatch::kMaxOfferedFiles) {
        m_session.SendMessage(keyword::kFileRefused);
        Notice(QStringLiteral("상담원이 보내려는 파일이 너무 많아(%1개 초과) 받지 않았습니다.")
                   .arg(AgentFileBatch::kMaxOfferedFiles),
               kNoticeRed);
        return;
    }
    const std::weak_ptr<bool> alive = m_alive;
    m_context.LastBatchFile.clear();
    m_batch.Offer(names);
    m_peers.chat.ShowFileOffer(argument);
    const QString question =
        QStringLiteral("상담원이 다음 파일을 이 컴퓨터로 전송하려고 합니다. 전송 받으시겠습니까?\r\n") +
        SummarizeFileList(argument);
    m_asking = true;
    const bool yes = m_view.AskYesNo(question);
    // The session may have ended, or the window closed, while the question waited.
    if (alive.expired()) return;
    m_asking = false;
    if (!m_session.InSession()) {
        m_batch.Clear();
        return;
    }
    m_batch.Answer(yes);
    if (yes) {
        m_session.SendMessage(keyword::kFileAccepted);
        m_peers.chat.DisplayCommonMsg(QStringLiteral("파일 전송을 수락하셨습니다."), kNoticeGreen);
    } else {
        m_session.SendMessage(keyword::kFileRefused);
        m_peers.chat.DisplayCommonMsg(QStringLiteral("파일 전송을 거절하셨습니다."), kNoticeRed);
    }
}

QString MessageDispatcher::DownloadTarget(const QString& receivedFolder, const QString& address) {
    if (receivedFolder.isEmpty()) return QString();
    // The name comes from the peer: only its last part, made a safe name, stays.
    const QString name = util::SafeFileName(util::FileNameOfUrl(address), QString());
    if (!QFileInfo::exists(receivedFolder)) QDir().mkpath(receivedFolder);
    QString path = receivedFolder + u'/' + name;
    if (QFileInfo::exists(path) || QFileInfo(path).isSymLink()) QFile::remove(path);
    if (QFileInfo::exists(path) || QFileInfo(path).isSymLink()) {
        path = receivedFolder + u'/' + util::SafeFileName(QStringLiteral("(1)") + name, QString());
        if (QFileInfo::exists(path) || QFileInfo(path).isSymLink()) QFile::remove(path);
    }
    return path;
}

void MessageDispatcher::OnDownloadThis(const QString& argument) {
    switch (m_batch.Admit(argument)) {
        case AgentFileBatch::Admission::Admitted:
            break;
        case AgentFileBatch::Admission::BadAddress:
            Notice(
                QStringLiteral("상담원이 보낸 파일 주소가 올바르지 않아 받지 않았습니다: ") + Shown(argument),
                kNoticeRed);
            return;
        case AgentFileBatch::Admission::NoBatch:
        case AgentFileBatch::Admission::NotOffered:
            Notice(QStringLiteral("수락하지 않은 파일이라 받지 않았습니다: ") + Shown(argument), kNoticeRed);
            return;
    }
    if (!Allowed(RemoteAction::DownloadFile, argument)) return;
    const QString path = DownloadTarget(m_context.ReceivedFolder, argument);
    if (path.isEmpty()) {
        qCWarning(lcSession) << "no received-files folder for" << argument;
        return;
    }
    const QString name = util::FileNameOfPath(path);
    m_context.FileTransferBusy = true;
    qCInfo(lcSession).noquote() << "download" << argument << "->" << path;
    Notice(QStringLiteral("상담원이 보낸 파일을 받습니다: ") + Shown(name), kNoticeGrey);
    m_peers.downloads.StartDownload(path, argument, name);
}

void MessageDispatcher::OnLastFile(const QString& argument) {
    m_context.LastBatchFile = argument;
}

// --- chat ---

void MessageDispatcher::OnChatStart(const QString&) {
    m_chatBuffer.Start();
}

void MessageDispatcher::OnChat(const QString& argument) {
    m_chatBuffer.Append(argument);
}

void MessageDispatcher::OnChatEnd(const QString&) {
    if (m_chatBuffer.Overflowed()) {
        m_chatBuffer.Take();
        Notice(QStringLiteral("상담원이 보낸 대화가 너무 길어(%1KB 초과) 표시하지 않았습니다.")
                   .arg(ChatBuffer::kMaxLineBytes / 1024),
               kNoticeRed);
        return;
    }
    m_peers.chat.ShowAgentChat(m_chatBuffer.Take());
}

// --- the session ---

std::optional<ListedAgent> MessageDispatcher::FindListedAgent(const QList<ListedAgent>& agents,
                                                              const QString& address, int port,
                                                              const QString& customerPublicIp) {
    for (const ListedAgent& agent : agents) {
        const auto listed = ParseChangeAgent(
            agent.publicAddress + u'/' + agent.localAddress + u'/' + agent.port, customerPublicIp);
        if (listed && listed->port == port && listed->address.compare(address, Qt::CaseInsensitive) == 0)
            return agent;
    }
    return std::nullopt;
}

void MessageDispatcher::OnChangeAgent(const QString& argument) {
    const auto target = ParseChangeAgent(argument, m_context.PublicIP);
    if (!target || m_moving) return;
    const QString where = target->address + u':' + QString::number(target->port);
    if (!Allowed(RemoteAction::MoveToAgent, where)) return;
    // The company's list decides where the session may go; fetching it may run window events.
    const std::weak_ptr<bool> alive = m_alive;
    m_moving = true;
    const auto agents = m_agentList ? m_agentList() : std::nullopt;
    if (alive.expired()) return;
    m_moving = false;
    if (!m_session.InSession()) return;
    const auto agent =
        agents ? FindListedAgent(*agents, target->address, target->port, m_context.PublicIP) : std::nullopt;
    if (!agent) {
        Notice(QStringLiteral(
                   "회사의 상담원 목록에 없는 곳(%1)으로 연결을 넘기려 하여 거절했습니다. 지원은 계속됩니다.")
                   .arg(Shown(where)),
               kNoticeRed);
        return;
    }
    if (agent->pin.isEmpty() && RemoteActionPolicy::RequiresSecureAgents(m_context.IniFile)) {
        Notice(QStringLiteral("보안 연결을 확인할 수 없는 상담원(%1)에게 연결을 넘기려 하여 거절했습니다. "
                              "지원은 계속됩니다.")
                   .arg(Shown(agent->name)),
               kNoticeRed);
        return;
    }
    Notice(QStringLiteral("상담원이 %1 상담원에게 연결을 넘깁니다.").arg(Shown(agent->name)), kNoticeGrey);
    m_session.ChangeAgent(target->address, target->port, agent->pin);
}

void MessageDispatcher::OnEnd(const QString&) {
    Notice(QStringLiteral("상담원이 원격지원을 종료했습니다."), kNoticeGrey);
    m_session.EndByAgent();
}

void MessageDispatcher::OnShowMe(const QString& argument) {
    const ShowMeFields fields = ParseShowMe(argument);
    if (!Allowed(RemoteAction::ShowAgentScreen, fields.agentName)) return;
    Notice(QStringLiteral("상담원이 자신의 화면을 보여 줍니다."), kNoticeGrey);
    m_peers.screen.ShowMe(fields);
}

void MessageDispatcher::OnStopShowMe(const QString&) {
    Notice(QStringLiteral("상담원이 화면 보여 주기를 마쳤습니다."), kNoticeGrey);
    m_peers.screen.StopShowMe();
}

void MessageDispatcher::OnMonitor(const QString& argument) {
    const std::optional<int> index = ParseMonitorIndex(argument);
    const QList<QRect> monitors = m_session.ToldMonitors();
    if (!index || *index > monitors.size()) {
        qCInfo(lcSession).noquote() << "a monitor that is not one of those told, ignored:"
                                    << argument.left(40);
        return;
    }
    const QRect monitor = *index > 0 ? monitors[*index - 1] : QRect();
    const QString what =
        *index == 0
            ? QStringLiteral("전체 화면")
            : QStringLiteral("모니터 %1 (%2x%3)").arg(*index).arg(monitor.width()).arg(monitor.height());
    if (!Allowed(RemoteAction::ShowMonitor, what)) return;
    if (!m_session.ShowMonitor(*index)) {
        qCInfo(lcSession) << "the monitor numbered" << *index << "is not on the screen any more: ignored";
        return;
    }
    Notice(*index == 0 ? QStringLiteral("상담원이 전체 화면을 봅니다.")
                       : QStringLiteral("상담원이 %1 화면만 봅니다.").arg(what),
           kNoticeGrey);
}

}  // namespace pelio::session
