// The history viewer's "동영상으로 저장": asking for the video's name, the progress dialog, and the
// result, around the exporter's thread. The rules are VideoExportControl's.
#include "history/frmPlay.h"

#include "platform/Services.h"
#include "platform/UserFolders.h"
#include "playback/SrfVideoExport.h"
#include "util/core/Ansi.h"
#include "util/gui/Dialogs.h"
#include "util/gui/MessageBoxes.h"
#include "util/gui/WindowLifetime.h"

#include <QDir>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>

namespace pelio::history {

namespace {

const QString kExportProgress = QStringLiteral("녹화화면을 동영상으로 저장하고 있습니다.\n%1");

}  // namespace

QString frmPlay::AskVideoPath(const QString& suggested, const QStringList& filters, QString* chosenFilter) {
    util::SaveFileRequest request;
    request.parent = this;
    request.title = m_cmdExport->text();
    request.suggested = suggested;
    request.filters = filters;
    if (chosenFilter) request.chosenFilter = *chosenFilter;
    const util::SaveFileAnswer answer = util::Dialogs::SaveFile(request);
    if (chosenFilter && !answer.chosenFilter.isEmpty()) *chosenFilter = answer.chosenFilter;
    return answer.file;
}

void frmPlay::OnExportClicked() {
    if (!m_export.CanExport()) return;
    QString chosenFilter = VideoExportControl::DialogFilters().first();
    const QPointer<frmPlay> self(this);
    const QString picked =
        AskVideoPath(m_export.SuggestedPath(m_context.Platform->folders->DocumentsFolder()),
                     VideoExportControl::DialogFilters(), &chosenFilter);
    if (!self || m_closed || picked.isEmpty()) return;
    const QString videoPath = VideoExportControl::VideoPathFor(picked, chosenFilter);
    const QString recording = m_export.Begin(videoPath);  // pauses playback and turns the button off
    if (recording.isEmpty()) return;  // the recording was closed while the dialog was open
    m_cmdExport->setEnabled(false);

    if (!m_exporter)
        m_exporter = std::make_unique<components::SrfVideoExport>(
            this, [this](int percent) { OnExportProgress(percent); },
            [this](const components::VideoExportResult& result) { OnExportFinished(result); });
    if (!m_progress) {
        m_progress = new QProgressDialog(this);
        m_progress->setObjectName(QStringLiteral("prgExport"));
        m_progress->setWindowTitle(util::kAppTitle);
        m_progress->setAccessibleName(m_cmdExport->text());  // "동영상으로 저장"
        m_progress->setCancelButtonText(QStringLiteral("취소"));
        m_progress->setRange(0, 100);
        m_progress->setWindowModality(Qt::WindowModal);
        m_progress->setMinimumDuration(0);
        m_progress->setAutoClose(false);
        m_progress->setAutoReset(false);
        connect(m_progress, &QProgressDialog::canceled, this, [this] {
            if (m_exporter) m_exporter->Cancel();
        });
    }
    m_progress->reset();
    m_progress->setLabelText(kExportProgress.arg(QDir::toNativeSeparators(videoPath)));
    m_progress->setValue(0);
    m_progress->show();
    m_exporter->Start(recording, videoPath);
}

void frmPlay::OnExportProgress(int percent) {
    // A cancelled dialog is hidden; a late value must not show it again.
    if (m_progress && m_progress->isVisible() && !m_progress->wasCanceled()) m_progress->setValue(percent);
}

void frmPlay::OnExportFinished(const components::VideoExportResult& result) {
    if (m_progress) {
        m_progress->reset();
        m_progress->hide();
    }
    const VideoExportControl::Outcome outcome = m_export.End(result);  // resumes what it paused
    m_cmdExport->setEnabled(m_export.CanExport());
    if (m_closed || outcome.message.isEmpty()) return;
    util::MessageBoxes::Show(this, outcome.message,
                             outcome.saved ? util::MsgIcon::Information : util::MsgIcon::Critical);
}

}  // namespace pelio::history
