#include "transfer/frmDownProgress.h"

#include "util/gui/WindowLook.h"
#include "util/gui/WindowRoutines.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace pelio::transfer {

frmDownProgress::frmDownProgress(QWidget* parent, const DownloadLimits& limits)
    : QDialog(parent), m_limits(limits) {
    setObjectName(QStringLiteral("frmDownProgress"));
    setWindowTitle(QStringLiteral("파일 다운로드"));
    setAccessibleName(QStringLiteral("파일 다운로드"));
    setModal(false);
    util::ApplyWindowLook(this);

    m_lblTitle = new QLabel(kDownloadWaitText, this);
    m_lblTitle->setObjectName(QStringLiteral("lblTitle"));
    m_lblTitle->setAccessibleName(QStringLiteral("받는 파일"));
    m_lblTitle->setTextFormat(Qt::PlainText);  // the title is a file name the agent chose
    m_lblTitle->setWordWrap(true);
    m_lblTitle->setMinimumWidth(320);

    // Shown only while the download waits for others to end.
    m_lblWaiting = new QLabel(kDownloadQueuedText, this);
    m_lblWaiting->setObjectName(QStringLiteral("lblWaiting"));
    m_lblWaiting->setAccessibleName(QStringLiteral("대기 중"));
    m_lblWaiting->setAccessibleDescription(QStringLiteral("앞의 다운로드가 끝나면 시작합니다."));
    m_lblWaiting->setVisible(false);

    m_PB = new QProgressBar(this);
    m_PB->setObjectName(QStringLiteral("PB"));
    m_PB->setAccessibleName(QStringLiteral("다운로드 진행률"));
    m_PB->setRange(0, 100);
    m_PB->setValue(0);

    m_cmdCancel = new QPushButton(QStringLiteral("취소"), this);
    m_cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    m_cmdCancel->setAccessibleName(QStringLiteral("취소"));
    m_cmdCancel->setAutoDefault(false);
    connect(m_cmdCancel, &QPushButton::clicked, this, &frmDownProgress::cmdCancel_Click);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_cmdCancel);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 18, 20, 14);
    layout->setSpacing(12);
    layout->addWidget(m_lblTitle);
    layout->addWidget(m_lblWaiting);
    layout->addWidget(m_PB);
    layout->addLayout(buttons);
}

frmDownProgress::~frmDownProgress() {
    delete m_download;  // cancels a download still running and waits for its worker
}

void frmDownProgress::WaitForTurn() {
    m_rules.Wait();
    m_lblWaiting->setVisible(m_rules.GetState() == DownloadProgressRules::State::Waiting);
}

bool frmDownProgress::StartTurn() {
    if (!m_rules.Release()) return false;
    m_lblWaiting->setVisible(false);
    // Up already: no further activation may come, so the download starts here.
    if (m_loaded) OnActivated();
    return true;
}

void frmDownProgress::Load() {
    m_lblTitle->setText(DownloadProgressRules::TitleText(ProgressTitle));
    adjustSize();
    util::CenterWindow(this);
}

void frmDownProgress::showEvent(QShowEvent* event) {
    if (!m_loaded) {
        m_loaded = true;
        Load();
        // A window manager that keeps the focus where it was never activates the new window: the
        // download starts all the same once the window is up.
        QTimer::singleShot(0, this, &frmDownProgress::OnActivated);
    }
    QDialog::showEvent(event);
}

void frmDownProgress::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) OnActivated();
}

void frmDownProgress::OnActivated() {
    if (!m_loaded || !m_rules.Activate()) return;
    m_download = new HttpDownload(RemoteFile, LocalFile, m_limits);
    connect(m_download, &HttpDownload::progress, this, &frmDownProgress::OnProgress);
    connect(m_download, &HttpDownload::finished, this, &frmDownProgress::OnFinished);
    m_download->Start();
}

void frmDownProgress::OnProgress(qint64 received, qint64 total) {
    const int percent = DownloadProgressRules::Percent(received, total);
    if (percent >= 0) m_PB->setValue(percent);
}

void frmDownProgress::OnFinished(bool ok, const QString& errorText) {
    m_rules.End(ok);
    if (Report(errorText)) close();
}

void frmDownProgress::cmdCancel_Click() {
    if (m_rules.Cancel()) {
        m_cmdCancel->setEnabled(false);
        m_download->Cancel();  // the download finishes as cancelled
    } else if (m_rules.GetState() == DownloadProgressRules::State::Ended) {
        if (Report(QStringLiteral("The download was cancelled"))) close();
    }
}

void frmDownProgress::keyPressEvent(QKeyEvent* event) {
    // Escape closes a dialog: like the close box, refused while the download runs.
    if (event->key() == Qt::Key_Escape && !m_rules.MayClose(true)) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void frmDownProgress::closeEvent(QCloseEvent* event) {
    if (!m_rules.MayClose(event->spontaneous())) {
        event->ignore();
        return;
    }
    if (m_rules.GetState() != DownloadProgressRules::State::Ended) {
        // The program closes the window before the download ended: it ends here, as cancelled.
        m_rules.Cancel();
        if (m_download) {
            delete m_download;
            m_download = nullptr;
            m_rules.End(false);
        }
        const QPointer<frmDownProgress> alive(this);
        if (!Report(QStringLiteral("The download was cancelled")) || !alive) return;
    }
    // Not QDialog's own handler, which would close the window once more through reject().
    event->accept();
}

bool frmDownProgress::Report(const QString& errorText) {
    if (m_reported) return true;
    m_reported = true;
    const QPointer<frmDownProgress> alive(this);
    emit downloadEnded(m_rules.GetOutcome(), errorText);
    return !alive.isNull();
}

}  // namespace pelio::transfer
