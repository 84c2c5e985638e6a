#include "session/MessageDispatcher.h"

#include "app/AppContext.h"
#include "session/SessionController.h"
#include "session/SessionLog.h"
#include "session/SessionPeers.h"
#include "session/SessionView.h"
#include "util/core/Paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace pelio::session {

namespace {

// Colours of the classic 16-colour table used for the session's own lines in the transcript.
constexpr int kGreen = 2, kCyan = 3, kRed = 4, kYellow = 6;

}  // namespace

MessageDispatcher::MessageDispatcher(app::AppContext& context, SessionController& session, SessionView& view,
                                     Peers peers, QString serviceRoot)
    : m_context(context),
      m_session(session),
      m_view(view),
      m_peers(peers),
      m_serviceRoot(std::move(serviceRoot)) {}

MessageDispatcher::~MessageDispatcher() {
    *m_alive = false;
}

void MessageDispatcher::Dispatch(const QString& message) {
    if (m_backlog.size() >= kBacklogLimit) {
        qCWarning(lcSession) << "message dropped: the backlog is full";
        return;
    }
    m_backlog.push_back(message);
    // Messages handled while an earlier one waits nest inside its wait; past a few levels they wait
    // their turn here instead, so that a peer cannot grow the stack without end. Order is kept.
    if (m_depth >= kMaxDepth) return;
    const std::weak_ptr<bool> alive = m_alive;
    while (!m_backlog.empty()) {
        // Only the session that runs acts on what its agent sent.
        if (m_session.CurrentState() != SessionController::State::InSession) {
            m_backlog.clear();
            return;
        }
        const QString next = m_backlog.front();
        m_backlog.pop_front();
        ++m_depth;
        Handle(next);
        if (alive.expired()) return;
        --m_depth;
    }
}

void MessageDispatcher::Handle(const QString& message) {
    const SessionMessage m = SplitMessage(message);
    const QString& k = m.keyword;
    qCDebug(lcSession) << "message" << k;
    if (k == u"shell") {
        m_peers.commands.RunCommandLine(m.argument);
    } else if (k == u"ie") {
        m_peers.commands.OpenAddress(m_serviceRoot + QStringLiteral("pelio/"));
    } else if (k == u"url") {
        m_peers.commands.OpenAddress(m.argument);
    } else if (k == u"explorer") {
        m_peers.commands.OpenFileManager();
    } else if (k == u"desktop") {
        m_peers.commands.ToggleShowDesktop();
    } else if (k == u"ime") {
        m_peers.commands.PressHangulKey();
    } else if (k == u"fileaccepted") {
        m_peers.chat.DisplayCommonMsg(QStringLiteral("상담원이 파일 전송을 수락하여 전송을 시작합니다."),
                                      kCyan);
        m_peers.chat.StartQueuedUpload();
    } else if (k == u"filerefused") {
        m_peers.chat.ReleaseSendQueue();
        m_peers.chat.DisplayCommonMsg(QStringLiteral("상담원이 파일 전송을 거절하여 전송이 취소되었습니다."),
                                      kYellow);
        m_view.Inform(QStringLiteral("상담원이 파일 전송을 거절하여 취소되었습니다."));
    } else if (k == u"filename") {
        OfferFiles(m.argument);
    } else if (k == u"downloadthis") {
        m_context.FileTransferBusy = true;
        StartDownload(m.argument);
    } else if (k == u"lastfile") {
        m_context.LastBatchFile = m.argument;
    } else if (k == u"chatstart") {
        m_chatBuffer.Start();
    } else if (k == u"chat") {
        m_chatBuffer.Append(m.argument);
    } else if (k == u"chatend") {
        m_peers.chat.ShowAgentChat(m_chatBuffer.Take());
    } else if (k == u"changeagent") {
        if (const auto agent = ParseChangeAgent(m.argument, m_context.PublicIP))
            m_session.ChangeAgent(agent->address, agent->port);
    } else if (k == u"end") {
        m_session.EndByAgent();
    } else if (k == u"showme") {
        m_peers.screen.ShowMe(ParseShowMe(m.argument));
    } else if (k == u"stopshowme") {
        m_peers.screen.StopShowMe();
    }
}

void MessageDispatcher::OfferFiles(const QString& list) {
    // One question at a time: an offer made while the customer has not answered the last one is
    // refused, so that questions do not pile up on the screen.
    if (m_asking) {
        qCInfo(lcSession) << "file offer refused: a question is open";
        m_session.SendMessage(QStringLiteral("filerefused"));
        return;
    }
    const std::weak_ptr<bool> alive = m_alive;
    m_context.LastBatchFile.clear();
    m_peers.chat.ShowFileOffer(list);
    const QString question =
        QStringLiteral("상담원이 다음 파일을 이 컴퓨터로 전송하려고 합니다. 전송 받으시겠습니까?\r\n") +
        SummarizeFileList(list);
    m_asking = true;
    const bool yes = m_view.AskYesNo(question);
    // The session may have ended, or the window closed, while the question waited.
    if (alive.expired()) return;
    m_asking = false;
    if (!m_session.bConnected()) return;
    if (yes) {
        m_session.SendMessage(QStringLiteral("fileaccepted"));
        m_peers.chat.DisplayCommonMsg(QStringLiteral("파일 전송을 수락하셨습니다."), kGreen);
    } else {
        m_session.SendMessage(QStringLiteral("filerefused"));
        m_peers.chat.DisplayCommonMsg(QStringLiteral("파일 전송을 거절하셨습니다."), kRed);
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

void MessageDispatcher::StartDownload(const QString& address) {
    const QString path = DownloadTarget(m_context.ReceivedFolder, address);
    if (path.isEmpty()) {
        qCWarning(lcSession) << "no received-files folder for" << address;
        return;
    }
    m_peers.downloads.StartDownload(path, address, util::FileNameOfPath(path));
}

}  // namespace pelio::session
