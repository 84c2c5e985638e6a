#include "transfer/DownloadWindows.h"

#include "app/AppContext.h"
#include "transfer/TransferLog.h"
#include "transfer/frmDownProgress.h"

namespace pelio::transfer {

DownloadWindows::DownloadWindows(app::AppContext& context, OwnerWindow owner, AppendLine appendLine,
                                 CommonMsg commonMsg, const DownloadLimits& limits)
    : m_context(context),
      m_owner(std::move(owner)),
      m_appendLine(std::move(appendLine)),
      m_commonMsg(std::move(commonMsg)),
      m_limits(limits) {}

DownloadWindows::~DownloadWindows() {
    for (const Open& open : m_windows) {
        if (!open.window) continue;
        open.window->disconnect();  // nothing reaches this object any more
        delete open.window.data();  // stops its download
    }
}

void DownloadWindows::StartDownload(const QString& localFile, const QString& remoteUrl,
                                    const QString& title) {
    qCInfo(lcTransfer).noquote() << "download" << remoteUrl << "to" << localFile;
    const int id = ++m_lastId;
    auto* window = new frmDownProgress(m_owner ? m_owner() : nullptr, m_limits);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->ProgressTitle = title;
    window->RemoteFile = remoteUrl;
    window->LocalFile = localFile;
    QObject::connect(
        window, &frmDownProgress::downloadEnded, window,
        [this, id, localFile, remoteUrl](DownloadProgressRules::Outcome outcome, const QString&) {
            OnEnded(id, localFile, remoteUrl, outcome);
        });
    // A window deleted without ending (its owner went) gives its turn up all the same.
    QObject::connect(window, &QObject::destroyed, [this, id] { Leave(id); });
    m_windows.removeIf([](const Open& open) { return open.window.isNull(); });
    m_windows.append({id, window});
    if (!m_turns.Arrive(id)) {
        qCInfo(lcTransfer) << "download waits its turn:" << m_turns.WaitingCount() << "waiting";
        window->WaitForTurn();
    }
    window->show();
}

QList<frmDownProgress*> DownloadWindows::Windows() const {
    QList<frmDownProgress*> open;
    for (const Open& entry : m_windows)
        if (entry.window) open << entry.window.data();
    return open;
}

void DownloadWindows::Leave(int id) {
    std::optional<int> next = m_turns.Leave(id);
    while (next) {
        frmDownProgress* window = nullptr;
        for (const Open& open : m_windows)
            if (open.id == *next) window = open.window.data();
        if (window && window->StartTurn()) {
            qCInfo(lcTransfer).noquote() << "download's turn came:" << window->RemoteFile;
            return;
        }
        next = m_turns.Leave(*next);  // gone meanwhile: the turn passes on
    }
}

void DownloadWindows::OnEnded(int id, const QString& localFile, const QString& remoteUrl,
                              DownloadProgressRules::Outcome outcome) {
    // The next download starts before this end is told: telling runs window events.
    Leave(id);
    m_context.FileTransferBusy = false;
    switch (outcome) {
        case DownloadProgressRules::Outcome::Done:
            if (m_appendLine) {
                m_appendLine(DownloadProgressRules::SavedLine(localFile));
                if (DownloadProgressRules::IsLastOfBatch(remoteUrl, m_context.LastBatchFile))
                    m_appendLine(DownloadProgressRules::BatchCompleteLine());
            }
            break;
        case DownloadProgressRules::Outcome::Cancelled:
            if (m_commonMsg)
                m_commonMsg(DownloadProgressRules::CancelledNotice(remoteUrl),
                            DownloadProgressRules::kCancelledColour);
            break;
        case DownloadProgressRules::Outcome::Failed:
        case DownloadProgressRules::Outcome::None:
            if (m_commonMsg)
                m_commonMsg(DownloadProgressRules::FailedNotice(remoteUrl),
                            DownloadProgressRules::kFailedColour);
            break;
    }
}

}  // namespace pelio::transfer
