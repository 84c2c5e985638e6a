// "파일 다운로드": one file the agent sends, downloaded while the window shows how far it got. Shown
// without blocking, one window per file, several at once.
#pragma once

#include "transfer/DownloadProgressRules.h"
#include "transfer/HttpDownload.h"

#include <QDialog>
#include <QPointer>

class QLabel;
class QProgressBar;
class QPushButton;

namespace pelio::transfer {

// The opener sets ProgressTitle, RemoteFile and LocalFile, connects downloadEnded and shows the
// window. Its first showing centres it and writes the title; its first activation (or the first
// showing, should the window manager not make the new window active) starts the download of
// RemoteFile to LocalFile. An opener that calls WaitForTurn before showing holds the start back: the
// window says "대기 중..." until StartTurn, which starts the download at once if the window is up.
// While the download runs the customer may stop it with 취소 but not close
// the window with its close box or Escape; the program may close it at any time, which stops the
// download as cancelled. downloadEnded comes exactly once for every window that is shown or closed,
// and the window then closes itself.
class frmDownProgress : public QDialog {
    Q_OBJECT
  public:
    explicit frmDownProgress(QWidget* parent = nullptr, const DownloadLimits& limits = DownloadLimits());
    ~frmDownProgress() override;

    QString ProgressTitle;  // the label's text; the design text when empty
    QString RemoteFile;     // the web address
    QString LocalFile;      // the file it is saved to

    const DownloadProgressRules& Rules() const { return m_rules; }

    // Before the window is shown: the download waits its turn.
    void WaitForTurn();
    // The turn came: false when the download did not wait (it ended meanwhile, or it never waited).
    bool StartTurn();

  signals:
    // The download ended (Done, Failed or Cancelled); errorText says why it failed, for logs.
    void downloadEnded(pelio::transfer::DownloadProgressRules::Outcome outcome, const QString& errorText);

  protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void Load();
    void OnActivated();
    void OnProgress(qint64 received, qint64 total);
    void OnFinished(bool ok, const QString& errorText);
    void cmdCancel_Click();
    // Reports the outcome once; false when the window went away while its listeners ran.
    bool Report(const QString& errorText);

    DownloadLimits m_limits;
    DownloadProgressRules m_rules;
    HttpDownload* m_download = nullptr;  // owned, made by the start
    bool m_loaded = false;
    bool m_reported = false;
    QLabel* m_lblTitle;
    QLabel* m_lblWaiting;
    QProgressBar* m_PB;
    QPushButton* m_cmdCancel;
};

}  // namespace pelio::transfer
