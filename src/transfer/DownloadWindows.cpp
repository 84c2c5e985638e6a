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
    for (const QPointer<frmDownProgress>& window : m_windows) {
        if (!window) continue;
        window->disconnect();  // nothing reaches this object any more
        delete window.data();  // stops its download
    }
}

void DownloadWindows::StartDownload(const QString& localFile, const QString& remoteUrl,
                                    const QString& title) {
    qCInfo(lcTransfer).noquote() << "download" << remoteUrl << "to" << localFile;
    auto* window = new frmDownProgress(m_owner ? m_owner() : nullptr, m_limits);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->ProgressTitle = title;
    window->RemoteFile = remoteUrl;
    window->LocalFile = localFile;
    QObject::connect(window, &frmDownProgress::downloadEnded, window,
                     [this, localFile, remoteUrl](DownloadProgressRules::Outcome outcome, const QString&) {
                         OnEnded(localFile, remoteUrl, outcome);
                     });
    m_windows.removeAll(nullptr);
    m_windows << window;
    window->show();
}

QList<frmDownProgress*> DownloadWindows::Windows() const {
    QList<frmDownProgress*> open;
    for (const QPointer<frmDownProgress>& window : m_windows)
        if (window) open << window.data();
    return open;
}

void DownloadWindows::OnEnded(const QString& localFile, const QString& remoteUrl,
                              DownloadProgressRules::Outcome outcome) {
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
