// Sending the customer's files to the agent, without widgets: which files may go, the lines the chat
// shows for them, the drop box's settings, and the upload run itself.
//
// The files travel through an FTP drop box whose root the service's web site publishes as
// "userfiles/": each company has a directory named by its code below the root, and a file F of
// company D is fetched by the agent at ServiceRoot + "userfiles/" + D + "/" + F.
#pragma once

#include "transfer/FtpSession.h"
#include "web/ServiceEndpoints.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace pelio::transfer {

class clsFTP;

// The largest file that may be sent, in MiB after rounding.
inline constexpr int kMaxSendMiB = 30;

// A file's length in MiB rounded to the nearest whole number, halves to the even neighbour: 30.5 MiB
// gives 30 and still passes, 30.51 MiB gives 31.
qint64 SizeInMiB(qint64 bytes);

// The outcome of checking a choice (or a drop) of files.
struct SendChoice {
    QStringList queue;  // the paths to send, in the order chosen; empty when refused
    QStringList names;  // the file names of the queue, in the same order
    QString pathList;   // CR LF + path, for each file
    QString tooLarge;   // the first path over the limit (the whole choice is then refused)
    qint64 tooLargeMiB = 0;
};

// Checks the paths in order; the first file over the limit refuses the whole choice, the files that
// passed before it included. sizeOf gives a file's length in bytes.
SendChoice CheckFilesToSend(const QStringList& paths, const std::function<qint64(const QString&)>& sizeOf);

// The message for a file over the limit.
QString TooLargeMessage(const QString& path, qint64 sizeMiB);

// The chat's lines for a choice announced to the agent, and for each outcome of the upload run.
// Paths and names are shown as text (a "<" in a file name does not become markup).
QString AnnounceHtml(const QString& pathList);
QString UploadedLine(const QString& name);
QString UploadFailedLine(const QString& name);
QString UploadCancelledLine(const QString& name);
QString UploadCompleteLine();
// The drop box could not be used safely: it offers no TLS although the settings require it, or its
// certificate or key did not pass.
QString DropBoxInsecureLine();

// The drop box, deciphered.
struct DropBox {
    QString host;  // "host" or "host:port"
    QString user;
    QString password;
    web::DropBoxTls tls;
};

// The drop box of the settings file: three hex texts in section "FileSend", deciphered with the
// program's value key; a missing value takes the built-in default, which fits the demo's drop box
// (127.0.0.1:2121, user "pelio", password "pelio"). Its TLS mode from the plain texts DropBoxTls and
// DropBoxPin; a pin that is not one is kept as a pin nothing matches, so the drop box is refused
// rather than trusted.
DropBox LoadDropBox(const QString& iniFile);

// One upload run: connects to the drop box, enters (or makes) the company's directory and uploads the
// queued files one by one, telling the agent where to fetch each. Run() does everything on the calling
// thread and returns when the run ended; the signals are emitted on that thread, in order. Cancel()
// may be called from any thread: the file being sent stops at once (its partial copy is deleted from
// the drop box) and no further file is sent.
class UploadRun : public QObject {
    Q_OBJECT
  public:
    struct Job {
        QStringList paths;
        DropBox dropBox;
        QString deptCode;
        web::ServiceRoots roots;  // where the agent fetches the files
    };

    explicit UploadRun(Job job, int pauseMs = 1000, FtpLimits limits = FtpLimits());
    ~UploadRun() override;

    void Run();
    void Cancel();
    bool Cancelled() const { return m_cancelled; }

  signals:
    // A session message for the agent: the batch's last file, or where to fetch a file (made by
    // session::LastFileMessage and session::DownloadThisMessage).
    void sendMessage(const QString& message);
    // A line for the chat view.
    void appendHtml(const QString& html);
    // The progress panel: the label (unchanged when empty) and the percentage of the current file.
    void progress(const QString& label, int percent);

  private:
    enum class FileResult { Sent, Failed, Cancelled };
    bool Connect(clsFTP& ftp);
    FileResult SendOne(clsFTP& ftp, const QString& path, const QString& name);
    // Waits the pause before a file; false when cancelled meanwhile.
    bool Pause();

    Job m_job;
    int m_pauseMs;
    FtpLimits m_limits;
    std::atomic<bool> m_cancelled{false};
    std::mutex m_mutex;
    std::condition_variable m_wake;
};

}  // namespace pelio::transfer
