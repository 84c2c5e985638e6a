// The chat window's files for the agent: choosing or dropping them, offering them, and the upload run
// once the agent accepts. The run works on a thread of its own, so the window stays usable (and can be
// closed, which stops the run) while a large file travels.
#include "app/AppContext.h"
#include "session/ChatLink.h"
#include "session/SessionMessages.h"
#include "transfer/FileSend.h"
#include "transfer/TransferLog.h"
#include "transfer/frmChat.h"
#include "util/core/SettingsKeys.h"
#include "util/gui/FileRoutines.h"
#include "util/gui/MessageBoxes.h"
#include "util/gui/WindowLifetime.h"

#include <QLabel>
#include <QLayout>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>

namespace pelio::transfer {

void frmChat::PickFilesToSend() {
    // The message boxes, the file dialog and showing the offer run window events: the window stays
    // until the offer is made.
    const util::NestedLoopScope offering(this);
    if (!m_offer.MayChoose(m_context.FileTransferBusy, m_link.Connected())) return;
    util::FileOpenDialog dialog{util::settings::Read(m_context.IniFile, util::settings::LastFolder)};
    const QString paths =
        util::PickFilesToOpen(dialog, this, QStringLiteral("보낼 파일을 선택하세요."), QString());
    // Closed meanwhile: nothing is offered from a window on its way out.
    if (paths.isEmpty() || util::DeletionPending(this)) return;
    util::settings::Write(m_context.IniFile, util::settings::LastFolder, dialog.initialFolder);
    m_offer.Choose(paths.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts));
}

bool frmChat::DropFiles(const QStringList& paths) {
    const util::NestedLoopScope offering(this);
    return m_offer.Drop(paths, m_context.FileTransferBusy, m_link.Connected());
}

bool frmChat::StartQueuedUpload() {
    return m_offer.Accept();
}

bool frmChat::ReleaseSendQueue() {
    return m_offer.Refuse();
}

void frmChat::TellCustomer(const QString& text) {
    util::MessageBoxes::Inform(this, text);
}

void frmChat::ShowOfferLine(const QString& html) {
    m_conversation.AddLine(html);
}

void frmChat::SendToAgent(const QString& message) {
    m_link.SendMessage(message);
}

void frmChat::StartUpload() {
    // The run starts once the handler of the agent's answer has returned.
    m_timerFileSend.start();
}

void frmChat::RunUpload() {
    m_timerFileSend.stop();
    // The window may have closed, which drops the offer, since the agent accepted.
    if (m_offer.GetState() != FileOffer::State::Uploading || m_upload) return;
    UploadRun::Job job;
    job.paths = m_offer.Files();
    job.dropBox = LoadDropBox(m_context.IniFile);
    job.deptCode = m_context.DeptCode;
    job.roots = web::LoadServiceRoots(m_context.IniFile);
    qCInfo(lcTransfer) << "upload run of" << job.paths.size() << "files";

    m_context.FileTransferBusy = true;
    m_context.LastBatchFile.clear();
    m_lblFile->setText(QStringLiteral("파일 전송 중..."));
    m_pb->setValue(0);
    m_cmdCancelFile->setEnabled(true);
    m_picFile->show();
    Relayout();

    // The run lives here and works on its thread; its signals reach this window queued, so the
    // messages leave and the lines show in the order the run made them, before the thread's end.
    m_upload = new UploadRun(job);
    connect(m_upload, &UploadRun::sendMessage, this, [this](const QString& message) {
        const session::SessionMessage sent = session::SplitMessage(message);
        if (sent.keyword == session::keyword::kDownloadThis)
            m_context.LastBatchFile = sent.argument.section(u'/', -1);
        m_link.SendMessage(message);
    });
    connect(m_upload, &UploadRun::appendHtml, this, [this](const QString& html) {
        qCInfo(lcTransfer).noquote() << "upload line" << html.trimmed();
        m_conversation.AddLine(html);
    });
    connect(m_upload, &UploadRun::progress, this, [this](const QString& label, int percent) {
        if (!label.isEmpty()) m_lblFile->setText(label);
        m_pb->setValue(percent);
    });
    m_uploadThread = QThread::create([run = m_upload] { run->Run(); });
    m_uploadThread->setParent(this);
    connect(m_uploadThread, &QThread::finished, this, &frmChat::EndUpload);
    m_uploadThread->start();
}

void frmChat::EndUpload() {
    if (!m_uploadThread) return;
    m_uploadThread->wait();
    delete m_uploadThread;
    m_uploadThread = nullptr;
    delete m_upload;
    m_upload = nullptr;
    m_context.FileTransferBusy = false;
    m_offer.UploadEnded();
    m_picFile->hide();
    Relayout();
    qCInfo(lcTransfer) << "upload run ended";
}

void frmChat::StopUpload() {
    if (!m_upload) return;
    m_upload->Cancel();
    m_uploadThread->wait();
    EndUpload();
}

void frmChat::Relayout() {
    if (QLayout* layout = this->layout()) layout->activate();
}

}  // namespace pelio::transfer
