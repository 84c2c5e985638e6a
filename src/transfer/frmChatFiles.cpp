// The chat window's files for the agent: choosing or dropping them, offering them, and the upload run
// once the agent accepts. The run works on a thread of its own, so the window stays usable (and can be
// closed, which stops the run) while a large file travels.
#include "app/AppContext.h"
#include "transfer/ChatLink.h"
#include "transfer/FileSend.h"
#include "transfer/TransferLog.h"
#include "transfer/frmChat.h"
#include "util/core/SettingsKeys.h"
#include "util/gui/FileRoutines.h"
#include "util/gui/MessageBoxes.h"

#include <QFileInfo>
#include <QLabel>
#include <QLayout>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>

namespace pelio::transfer {

namespace {

const QString kBusy = QStringLiteral("파일 전송 중입니다. 전송이 완료 후 추가로 전송할 수 있습니다.");

qint64 LocalSize(const QString& path) {
    return QFileInfo(path).size();
}

}  // namespace

void frmChat::PickFilesToSend() {
    if (m_context.FileTransferBusy) {
        util::MessageBoxes::Inform(this, kBusy);
        return;
    }
    if (!m_link.Connected()) {
        util::MessageBoxes::Inform(this, QStringLiteral("파일 전송은 상담원과 원격지원 중에만 가능합니다."));
        return;
    }
    util::FileOpenDialog dialog{util::settings::Read(m_context.IniFile, util::settings::LastFolder)};
    const QString paths =
        util::PickFilesToOpen(dialog, this, QStringLiteral("보낼 파일을 선택하세요."), QString());
    if (paths.isEmpty()) return;
    util::settings::Write(m_context.IniFile, util::settings::LastFolder, dialog.initialFolder);
    QueueFiles(paths.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts));
}

bool frmChat::DropFiles(const QStringList& paths) {
    if (m_context.FileTransferBusy) {
        util::MessageBoxes::Inform(this, kBusy);
        return false;
    }
    m_fileCol.clear();
    if (!m_link.Connected()) return false;
    return QueueFiles(paths);
}

bool frmChat::QueueFiles(const QStringList& paths) {
    m_fileCol.clear();
    const SendChoice choice = CheckFilesToSend(paths, LocalSize);
    if (!choice.tooLarge.isEmpty()) {
        util::MessageBoxes::Inform(this, TooLargeMessage(choice.tooLarge, choice.tooLargeMiB));
        return false;
    }
    if (choice.queue.isEmpty()) return false;
    m_fileCol = choice.queue;
    AnnounceFiles(choice.pathList, choice.names);
    return true;
}

void frmChat::AnnounceFiles(const QString& pathList, const QString& names) {
    m_conversation.AddLine(AnnounceHtml(pathList));
    m_link.SendMessage(QStringLiteral("filename:") + names);
}

void frmChat::StartQueuedUpload() {
    m_timerFileSend.start();
}

void frmChat::ReleaseSendQueue() {
    m_fileCol.clear();
}

void frmChat::RunUpload() {
    m_timerFileSend.stop();
    if (m_fileCol.isEmpty() || m_upload) return;
    UploadRun::Job job;
    job.paths = m_fileCol;
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
        if (message.startsWith(QLatin1String("downloadthis:")))
            m_context.LastBatchFile = message.section(u'/', -1);
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
