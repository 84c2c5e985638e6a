#pragma once

#include "web/CurlSetup.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <memory>

namespace pelio::platform {
class Clock;
}

namespace pelio::transfer {

// Time bounds of an FTP connection.
struct FtpLimits {
    int connectMs = 10000;  // connecting and logging in, as a whole
    int stallMs = 30000;    // a request during which nothing moves (no data, no reply) this long fails
    // The clock the bounds and the transfer speed read (the caller keeps it); null is DefaultClock().
    const platform::Clock* clock = nullptr;
};

// One FTP connection on libcurl: one easy handle, whose control connection libcurl keeps between
// requests, so that the server sees one login for the object's life (libcurl logs in again by itself
// when a failed command made it drop the connection). Each request names its target by an absolute
// path; the object knows no current directory. Blocking, for one thread.
class FtpSession {
  public:
    // What one request does. Exactly one of the data parts is used: an upload (read), a download or
    // listing (write), or neither (nobody: commands and size queries only).
    struct Request {
        QByteArray path;  // absolute, in the server's bytes; ends with "/" for a directory
        bool nobody = false;
        bool listNames = false;  // NLST of the directory `path`
        bool ascii = false;      // TYPE A instead of TYPE I
        // Sent after the login, before the request (MKD, DELE, ...). The first refused command fails
        // the request with CURLE_QUOTE_ERROR and its reply; the connection stays up all the same.
        QList<QByteArray> commands;
        // Upload: the size, and the source asked for up to `max` bytes into `buffer`; returns the
        // bytes given, 0 at the end, or -1 to fail the request.
        bool upload = false;
        qint64 uploadSize = 0;
        std::function<qint64(char* buffer, qint64 max)> read;
        // Download: every piece that arrives; false fails the request.
        std::function<bool(const char* data, qint64 size)> write;
        // Bytes moved so far (sent for an upload, received otherwise); false fails the request. Called
        // often while the request runs, also when nothing moves.
        std::function<bool(qint64 moved)> progress;
        int uploadBufferBytes = 0;   // 0: the library's choice
        int receiveBufferBytes = 0;  // 0: the library's choice
    };

    struct Result {
        int code = 0;          // libcurl's result code (CURLcode); 0 on success
        QString text;          // the library's description of the failure
        int replyCode = 0;     // the code of the server's last reply (0 when none came)
        QString reply;         // the server's last reply, all its lines joined by blanks
        qint64 size = -1;      // the size the server reported (SIZE), -1 when none
        bool stalled = false;  // nothing moved for FtpLimits::stallMs, or the login took too long
        bool aborted = false;  // the caller's callbacks ended the request
        bool ok() const { return code == 0; }
    };

    FtpSession();
    ~FtpSession();
    FtpSession(const FtpSession&) = delete;
    FtpSession& operator=(const FtpSession&) = delete;

    // Connects and logs in to host (an address or name, with ":port" after it, or "[v6]:port";
    // port 21 without). activeMode: the server connects back for data (PORT/EPRT), unless the
    // connection runs TLS; else passive.
    // `tls`: when TLS is used and whether it must be (a server that does not offer it then fails
    // the login with CURLE_USE_SSL_FAILED).
    Result Open(const QString& server, const QByteArray& user, const QByteArray& password, bool activeMode,
                const FtpLimits& limits, const web::DropBoxTls& tls = {});
    bool IsOpen() const;
    // The connection runs TLS (commands and data).
    bool Encrypted() const;
    void Close();

    // The directory the login put the connection in, as the server wrote it; "/" when unknown.
    QByteArray EntryPath() const { return m_entryPath; }

    Result Perform(const Request& request);

  private:
    struct Impl;
    std::unique_ptr<Impl> d;
    QByteArray m_entryPath = "/";
};

// Absolute path arithmetic on server paths ("/" separated bytes): `name` taken from directory `from`
// ("a", "../a", "/x/a"), with "." and ".." resolved. The result starts with "/" and has no trailing
// "/" (but the root, "/").
QByteArray ResolveFtpPath(const QByteArray& from, const QByteArray& name);

}  // namespace pelio::transfer
