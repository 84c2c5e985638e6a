#pragma once

#include "transfer/FtpSession.h"
#include "web/NetFailure.h"

#include <QObject>
#include <QString>

namespace pelio::transfer {

// The program's FTP client: one connection to a server for the object's life, operations that return
// true or false, a readable description of the last failure, and progress events while files stream
// in 32 KiB chunks. Every operation is synchronous and runs on the calling (UI) thread; a download
// lets the window events run after every chunk, an upload does not (a listener of its progress event
// may). Names and paths cross to the server in the code page used for peers (949).
//
// Failures: an operation returns false (GetFTPFileSize -1 or -2, FTPDirectory() an empty text) and
// leaves "Name() Error - Code: N Message: text" in LastErrorMessage and the text alone in
// SimpleLastErrorMessage; N is the network library's result code (-1 for the client's own failures).
// When the server refused the request with an error reply, LastErrorMessage is that reply instead.
// Empty names given to the chunked transfers fail without touching the texts. LastFailure() says the
// same as a kind and a text, as the other network clients of the program do.
//
// Bounds the server cannot stretch: connecting and logging in take at most FtpLimits::connectMs;
// a request during which nothing moves for FtpLimits::stallMs fails. A download writes to a temporary
// file beside the target and puts it in place when whole, so a failed download never leaves a part
// of a file under the target's name (an existing file keeps its content until then). An operation
// asked for while another runs (from a progress handler) fails at once; CloseConnection asked for
// then ends the running transfer first. The object must not be destroyed from its own progress
// handler (deleteLater is fine).
class clsFTP : public QObject {
    Q_OBJECT
  public:
    static constexpr int kChunkBytes = 32768;
    static constexpr int kTypeAscii = 1;
    static constexpr int kTypeBinary = 2;

    explicit clsFTP(QObject* parent = nullptr, const FtpLimits& limits = FtpLimits());
    ~clsFTP() override;  // closes the connection

    // Connects to sServer ("host", "host:port", "[v6]:port"; port 21 when none) and logs in. A
    // connection still open is closed first. Errors: "InternetOpen", "InternetConnect".
    bool OpenConnection(const QString& sServer, const QString& sUser, const QString& sPassword);
    void CloseConnection();

    // Whole-file transfers without progress events. Errors "SimpleFtpPutFile", "SimpleFtpGetFile".
    bool SimpleFTPPutFile(const QString& sLocal, const QString& sRemote);
    bool SimpleFTPGetFile(const QString& sLocal, const QString& sRemote);

    bool RenameFTPFile(const QString& sExisting, const QString& sNewName);  // "RenameFTPFile"
    bool CreateFTPDirectory(const QString& sDirectory);  // "CreateFTPDirectory"; the directory stays
    bool RemoveFTPDirectory(const QString& sDirectory);  // "RemoveFTPDirectory"
    bool DeleteFTPFile(const QString& sRemote);          // "DeleteFTPFile"

    // Chunked transfers with a FileTransferProgress event per full chunk and a last one for the whole
    // file. An upload of an empty file creates an empty remote file (one event: 0, 0, 0); a download
    // of an empty or missing remote file fails ("FTP File Doesn't Exist").
    bool FTPUploadFile(const QString& sLocal, const QString& sRemote);
    bool FTPDownloadFile(const QString& sLocal, const QString& sRemote);

    // The current remote directory, the object's own (the login directory at first); "" without a
    // connection (error "FtpGetCurrentDirectory").
    QString FTPDirectory();
    // Changes it to sDir (relative or absolute) when the server can enter it; otherwise it stays and
    // the error is recorded ("FtpSetCurrentDirectory"): callers clear LastErrorMessage first and test it.
    void SetFTPDirectory(const QString& sDir);

    // The size of the first entry of the current directory (or of the directory sFile names) whose
    // name matches sFile, where "?" and every blank match any one character and "*" any run: the low
    // 32 bits of its size (0 for a directory). -1 when nothing matches (the error texts stay as they
    // were); -2 for another failure ("FtpFindFirstFile").
    qint32 GetFTPFileSize(const QString& sFile);

    // The size of exactly the file sRemote (blanks are blanks), as the server stores it; -1 when the
    // server does not tell (no such file, or no SIZE command). No error is recorded.
    qint64 StoredFileSize(const QString& sRemote);

    // kTypeAscii or kTypeBinary (the default) for every transfer.
    void SetTransferType(int vType);
    // Active (the default) or passive mode, from the next OpenConnection on.
    void SetMode(bool bActive);
    // TLS on the connection (used when offered, by default), from the next OpenConnection on.
    void SetTls(const web::DropBoxTls& tls) { m_tls = tls; }
    // The open connection runs TLS.
    bool Encrypted() const { return m_session.Encrypted(); }

    QString LastErrorMessage() const { return m_lastError; }
    void SetLastErrorMessage(const QString& szMsg) { m_lastError = szMsg; }
    QString SimpleLastErrorMessage() const { return m_simpleError; }
    web::NetFailure LastFailure() const { return m_failure; }

  signals:
    // Bytes transferred so far, the file's total, and the average speed so far in KiB per second.
    void FileTransferProgress(qint32 lCurrentBytes, qint32 lTotalBytes, qint32 CurSpeed);

  private:
    struct Streaming;
    bool Begin();
    void RecordError(int code, const QString& operation, const QString& ownText = QString(),
                     const QString& serverReply = QString());
    void RecordResult(const FtpSession::Result& result, const QString& operation);
    bool RunCommand(const QByteArray& command, const QString& operation, const QList<QString>& names);
    QByteArray RemotePath(const QString& name) const;
    bool Upload(const QString& sLocal, const QString& sRemote, bool withEvents, const QString& simpleName);
    bool Download(const QString& sLocal, const QString& sRemote, bool withEvents, const QString& simpleName);
    qint32 Speed(qint64 bytes, qint64 startMs) const;

    FtpLimits m_limits;
    FtpSession m_session;
    int m_transferType = kTypeBinary;
    bool m_active = true;
    web::DropBoxTls m_tls;
    QByteArray m_directory;  // absolute, in the server's bytes
    bool m_busy = false;
    bool m_closeRequested = false;
    QString m_lastError;
    QString m_simpleError;
    web::NetFailure m_failure;
};

}  // namespace pelio::transfer
