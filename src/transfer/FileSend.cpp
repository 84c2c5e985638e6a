#include "transfer/FileSend.h"

#include "app/Scramble.h"
#include "secure/Pin.h"
#include "session/SessionMessages.h"
#include "transfer/TransferLog.h"
#include "transfer/clsFTP.h"
#include "util/core/IniFile.h"
#include "util/core/Paths.h"
#include "util/core/SettingsKeys.h"

#include <QFileInfo>

#include <chrono>
#include <cmath>

namespace pelio::transfer {

namespace {

const QString kCrLf = QStringLiteral("\r\n");

QString Escaped(const QString& text) {
    return text.toHtmlEscaped();
}

QString Deciphered(const QString& iniFile, const util::settings::Key& key, const QString& fallback) {
    const QString hex = util::settings::Read(iniFile, key).trimmed();
    return hex.isEmpty() ? fallback : app::UnscrambleHex(hex, app::ValueKey);
}

}  // namespace

qint64 SizeInMiB(qint64 bytes) {
    return qint64(std::nearbyint(double(bytes) / 1048576.0));  // the default rounding is to even
}

SendChoice CheckFilesToSend(const QStringList& paths, const std::function<qint64(const QString&)>& sizeOf) {
    SendChoice choice;
    for (const QString& path : paths) {
        const qint64 size = SizeInMiB(sizeOf(path));
        if (size > kMaxSendMiB) {
            choice = SendChoice();
            choice.tooLarge = path;
            choice.tooLargeMiB = size;
            return choice;
        }
        choice.queue << path;
        choice.names << util::FileNameOfPath(path);
        choice.pathList += kCrLf + path;
    }
    return choice;
}

QString TooLargeMessage(const QString& path, qint64 sizeMiB) {
    return path + QStringLiteral(" 파일의 크기(%1MB)가 너무 큽니다.").arg(sizeMiB) + kCrLf + kCrLf +
           QStringLiteral("30MB 이하의 파일만 전송할 수 있습니다.");
}

QString AnnounceHtml(const QString& pathList) {
    QString paths = Escaped(pathList);
    paths.replace(kCrLf, QStringLiteral("<br>") + kCrLf);
    return kCrLf + QStringLiteral("<br><font size=2 color=gray>상담원에게 다음 파일을 전송합니다.</font>") +
           kCrLf + kCrLf + paths + kCrLf + kCrLf +
           QStringLiteral(
               "<br><br><font size=2 color=gray>상담원이 수락하면 즉시 전송이 시작됩니다.<br><br>") +
           kCrLf;
}

QString UploadedLine(const QString& name) {
    return kCrLf + QStringLiteral("<br><font size=2 color=#009900><b>") + Escaped(name) +
           QStringLiteral("</b> 파일이 전송되었습니다.</font>") + kCrLf;
}

QString UploadFailedLine(const QString& name) {
    return kCrLf + QStringLiteral("<br><font size=2 color=#CC6699><b>") + Escaped(name) +
           QStringLiteral("</b> 파일 전송 실패</font>") + kCrLf;
}

QString UploadCancelledLine(const QString& name) {
    return kCrLf + QStringLiteral("<br><font size=2 color=#CC6699><b>") + Escaped(name) +
           QStringLiteral("</b> 파일 전송을 취소하였습니다.</font>") + kCrLf;
}

QString UploadCompleteLine() {
    return kCrLf + QStringLiteral("<br><font size=2><b>파일 전송이 완료되었습니다.</b></font><br><br>") +
           kCrLf;
}

QString DropBoxInsecureLine() {
    return kCrLf +
           QStringLiteral(
               "<br><font size=2 color=#CC0000><b>파일 보관함 서버의 암호화 연결을 확인할 수 없어 "
               "파일을 보내지 않았습니다.</b></font>") +
           kCrLf;
}

DropBox LoadDropBox(const QString& iniFile) {
    namespace s = util::settings;
    DropBox box{Deciphered(iniFile, s::DropBoxHost, QStringLiteral("127.0.0.1:2121")),
                Deciphered(iniFile, s::DropBoxUser, QStringLiteral("pelio")),
                Deciphered(iniFile, s::DropBoxPassword, QStringLiteral("pelio")),
                {}};
    box.tls.required = s::Read(iniFile, s::DropBoxTls).trimmed() == u"1";
    const QString pin = s::Read(iniFile, s::DropBoxPin).trimmed();
    if (!pin.isEmpty()) {
        // libcurl would take any other text for a file name.
        if (const auto parsed = components::secure::ParsePin(pin)) {
            box.tls.pin = parsed->ToString().toLatin1();
        } else {
            qCWarning(lcTransfer).noquote()
                << "the drop box pin in the settings is not a pin:" << pin.left(80);
            box.tls.pin = "sha256//AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=";
        }
    }
    return box;
}

UploadRun::UploadRun(Job job, int pauseMs, FtpLimits limits)
    : m_job(std::move(job)), m_pauseMs(pauseMs), m_limits(limits) {}

UploadRun::~UploadRun() = default;

void UploadRun::Cancel() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_cancelled = true;
    }
    m_wake.notify_all();
}

bool UploadRun::Pause() {
    std::unique_lock<std::mutex> lock(m_mutex);
    return !m_wake.wait_for(lock, std::chrono::milliseconds(m_pauseMs),
                            [this] { return m_cancelled.load(); });
}

bool UploadRun::Connect(clsFTP& ftp) {
    ftp.SetTls(m_job.dropBox.tls);
    if (!ftp.OpenConnection(m_job.dropBox.host, m_job.dropBox.user, m_job.dropBox.password) ||
        !ftp.LastErrorMessage().isEmpty()) {
        qCWarning(lcTransfer).noquote() << "drop box not reached:" << ftp.LastErrorMessage();
        // A plain failure ends the run without a word; one of safety is told, or the customer would
        // wait for files that were never sent.
        if (ftp.LastFailure().kind == web::NetError::Tls && !m_cancelled)
            emit appendHtml(DropBoxInsecureLine());
        return false;
    }
    qCInfo(lcTransfer).noquote() << "drop box" << m_job.dropBox.host
                                 << (ftp.Encrypted() ? "over TLS" : "without TLS");
    ftp.SetTransferType(clsFTP::kTypeBinary);
    ftp.SetLastErrorMessage(QString());
    ftp.SetFTPDirectory(QStringLiteral("/"));
    ftp.SetFTPDirectory(m_job.deptCode);
    if (ftp.LastErrorMessage().isEmpty()) return true;
    // The company's first file: its directory is made.
    if (!ftp.CreateFTPDirectory(m_job.deptCode)) {
        qCWarning(lcTransfer).noquote() << "company directory not made:" << ftp.LastErrorMessage();
        return false;
    }
    ftp.SetLastErrorMessage(QString());
    ftp.SetFTPDirectory(m_job.deptCode);
    return ftp.LastErrorMessage().isEmpty();
}

UploadRun::FileResult UploadRun::SendOne(clsFTP& ftp, const QString& path, const QString& name) {
    const QFileInfo local(path);
    if (!local.isFile()) return FileResult::Failed;
    if (!Pause()) return FileResult::Cancelled;
    // The size lookup matches "?", "*" and blanks as wildcards, so a file already there is only
    // recognised by a name without them; other names are always sent again.
    const bool plainName = !name.contains(u'?') && !name.contains(u'*') && !name.contains(u' ');
    const qint32 remote = plainName ? ftp.GetFTPFileSize(name) : -1;
    if (remote > 0 && remote == qint32(local.size())) {
        emit progress(QString(), 100);
        return FileResult::Sent;  // already in the drop box
    }
    // The server's word that the upload ended is not enough: a data connection reset after the last
    // bytes were sent (a TLS server's unread session tickets make one) can cost the file its tail
    // while both sides call the transfer complete. What the drop box stores must be the whole file;
    // a short copy is sent once more, and the agent is never told to fetch one.
    for (int attempt = 1; attempt <= 2 && !m_cancelled; ++attempt) {
        if (!ftp.FTPUploadFile(path, name)) break;
        const qint64 stored = ftp.StoredFileSize(name);
        if (stored == local.size()) return FileResult::Sent;
        if (stored < 0) {
            // A server that does not tell sizes: the lookup decides, where an empty file counts as
            // sent although its size reads 0.
            if (local.size() == 0 || ftp.GetFTPFileSize(name) > 0) return FileResult::Sent;
            break;
        }
        qCWarning(lcTransfer).noquote() << "the drop box holds" << stored << "of" << local.size()
                                        << "bytes of" << name << (attempt == 1 ? "; sending it again" : "");
    }
    if (!m_cancelled) return FileResult::Failed;
    // The partial copy goes: the connection was closed to stop the transfer, so a new one is opened.
    clsFTP cleaner(nullptr, m_limits);
    if (Connect(cleaner)) cleaner.DeleteFTPFile(name);
    return FileResult::Cancelled;
}

void UploadRun::Run() {
    if (m_job.paths.isEmpty()) return;
    emit progress(QStringLiteral("파일 전송 중..."), 0);
    clsFTP ftp(nullptr, m_limits);
    // A cancel takes effect at the next chunk: the connection is closed from inside the transfer.
    // Direct: the handler runs inside the transfer, on the thread that runs it.
    connect(
        &ftp, &clsFTP::FileTransferProgress, this,
        [this, &ftp](qint32 done, qint32 total, qint32) {
            if (total != 0) emit progress(QString(), int(std::lround(double(done) / double(total) * 100.0)));
            if (m_cancelled) ftp.CloseConnection();
        },
        Qt::DirectConnection);
    if (m_cancelled || !Connect(ftp)) {
        ftp.CloseConnection();
        return;
    }
    emit sendMessage(session::LastFileMessage(util::FileNameOfPath(m_job.paths.last())));
    QString lastSent;
    const int count = int(m_job.paths.size());
    for (int i = 0; i < count && !m_cancelled; ++i) {
        const QString& path = m_job.paths[i];
        const QString name = util::FileNameOfPath(path);
        emit progress(QStringLiteral("[%1/%2] ").arg(i + 1).arg(count) + name, 0);
        switch (SendOne(ftp, path, name)) {
            case FileResult::Sent:
                emit sendMessage(session::DownloadThisMessage(
                    web::UploadedFileAddress(m_job.roots, m_job.deptCode, name)));
                lastSent = name;
                emit appendHtml(UploadedLine(name));
                break;
            case FileResult::Failed:
                qCWarning(lcTransfer).noquote() << "upload failed:" << name << ftp.LastErrorMessage();
                emit appendHtml(UploadFailedLine(name));
                break;
            case FileResult::Cancelled:
                emit appendHtml(UploadCancelledLine(name));
                break;
        }
    }
    // The agent learns which file ended the batch; the customer sees it complete unless it was stopped.
    if (!lastSent.isEmpty()) {
        emit sendMessage(session::LastFileMessage(lastSent));
        if (!m_cancelled) emit appendHtml(UploadCompleteLine());
    }
    ftp.CloseConnection();
}

}  // namespace pelio::transfer
