// The download windows as the session sees them: every file the agent sends gets a window of its own
// (frmDownProgress) that downloads it, and its end is told in the chat view or the session's notice
// line.
#pragma once

#include "session/SessionPeers.h"
#include "transfer/DownloadProgressRules.h"
#include "transfer/HttpDownload.h"

#include <QList>
#include <QPointer>

#include <functional>

class QWidget;

namespace pelio::app {
struct AppContext;
}

namespace pelio::transfer {

class frmDownProgress;

class DownloadWindows : public session::DownloadPeer {
  public:
    using OwnerWindow = std::function<QWidget*()>;  // the window the download windows belong to, or null
    using AppendLine = std::function<void(const QString& html)>;  // to the chat view and transcript
    using CommonMsg = std::function<void(const QString& text, int colour)>;  // the session's notice line

    // The caller keeps the context for the object's life.
    DownloadWindows(app::AppContext& context, OwnerWindow owner, AppendLine appendLine, CommonMsg commonMsg,
                    const DownloadLimits& limits = DownloadLimits());
    // Closes the windows still open: their downloads stop, and nothing more is told.
    ~DownloadWindows() override;

    // Opens a window that downloads remoteUrl to localFile, titled title, without waiting for it.
    // When it ends, FileTransferBusy is cleared (one flag for both directions: the first transfer to
    // end clears it) and:
    //   saved:     the saved line, then the batch-complete line when the file is the batch's last
    //              (AppContext::LastBatchFile);
    //   failed:    the red notice with the file's name;
    //   cancelled: the yellow notice with the file's name.
    void StartDownload(const QString& localFile, const QString& remoteUrl, const QString& title) override;

    // The windows still open, oldest first.
    QList<frmDownProgress*> Windows() const;

  private:
    void OnEnded(const QString& localFile, const QString& remoteUrl, DownloadProgressRules::Outcome outcome);

    app::AppContext& m_context;
    OwnerWindow m_owner;
    AppendLine m_appendLine;
    CommonMsg m_commonMsg;
    DownloadLimits m_limits;
    QList<QPointer<frmDownProgress>> m_windows;
};

}  // namespace pelio::transfer
