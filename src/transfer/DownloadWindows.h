// The download windows as the session sees them: every file the agent sends gets a window of its own
// (frmDownProgress) that downloads it, and its end is told in the chat view or the session's notice
// line. At most kMaxRunningDownloads download at once; the windows beyond open all the same and wait
// their turn, so that an agent's long list of files cannot open a connection for each at once.
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

// The downloads that run at once; further ones wait.
inline constexpr int kMaxRunningDownloads = 4;

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
    // While kMaxRunningDownloads others run, the window says that it waits and starts nothing; the
    // waiting windows start in the order they opened as running ones end (whatever became of them,
    // their windows gone included). A waiting window that is closed never starts and ends as
    // cancelled. When it ends, FileTransferBusy is cleared (one flag for both directions: the first
    // transfer to end clears it) and:
    //   saved:     the saved line, then the batch-complete line when the file is the batch's last
    //              (AppContext::LastBatchFile);
    //   failed:    the red notice with the file's name;
    //   cancelled: the yellow notice with the file's name.
    void StartDownload(const QString& localFile, const QString& remoteUrl, const QString& title) override;

    // The windows still open, oldest first.
    QList<frmDownProgress*> Windows() const;

  private:
    struct Open {
        int id;
        QPointer<frmDownProgress> window;
    };

    void OnEnded(int id, const QString& localFile, const QString& remoteUrl,
                 DownloadProgressRules::Outcome outcome);
    // The download `id` no longer runs or waits: the next waiting one starts.
    void Leave(int id);

    app::AppContext& m_context;
    OwnerWindow m_owner;
    AppendLine m_appendLine;
    CommonMsg m_commonMsg;
    DownloadLimits m_limits;
    DownloadTurns m_turns{kMaxRunningDownloads};
    int m_lastId = 0;
    QList<Open> m_windows;  // oldest first
};

}  // namespace pelio::transfer
