#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

namespace pelio::test {

// A real FTP server for one test, on 127.0.0.1 at a port it picks itself, serving a temporary folder
// of its own; stopped on destruction.
//   PyFtpServer: pyftpdlib (Debian's python3-pyftpdlib) with a user and password; it keeps names as
//     UTF-8 and replaces bytes that are not. TLS only for the drop box.
//   VsFtpServer: vsftpd, anonymous users only; it keeps names byte for byte as they were sent.
// With FtpTls the server offers TLS (explicit, AUTH TLS) on a key and self-signed certificate made for
// it, and may require it for logins and data.
struct FtpTls {
    bool offered = false;
    bool required = false;
};

class FtpServer {
  public:
    virtual ~FtpServer();
    FtpServer(const FtpServer&) = delete;
    FtpServer& operator=(const FtpServer&) = delete;

    bool ok() const { return m_port > 0; }
    int port() const { return m_port; }
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }
    QString user() const { return m_user; }
    QString password() const { return m_password; }
    // The folder it serves, and where a name of the server's login directory lies on disk.
    QString root() const { return m_root.path(); }
    // The process id, for tests that stop (SIGSTOP) or kill the server in the middle of a transfer.
    qint64 pid() const { return m_process.processId(); }
    QString name() const { return m_name; }
    // The pin of its TLS key ("sha256//..."); empty without TLS.
    QByteArray pin() const { return m_pin; }
    // What the server wrote so far (pyftpdlib logs every session and command; vsftpd nothing).
    QString Log();

  protected:
    FtpServer(QString name, QString user, QString password);
    // Makes the TLS key file for the server; its path, or empty when tls is not offered or it failed.
    QString MakeKey(const FtpTls& tls);
    // Starts the program and waits until it accepts connections on m_port.
    void Launch(const QString& program, const QStringList& arguments);

    QString m_name, m_user, m_password;
    QTemporaryDir m_root;
    QProcess m_process;
    int m_port = 0;
    QByteArray m_log;
    QByteArray m_pin;
    QTemporaryDir m_keyFolder;
};

class PyFtpServer : public FtpServer {
  public:
    // dropBox: the program's own drop box on pyftpdlib, which reads and lists names in code page 949
    // and keeps them in UTF-8 on disk.
    explicit PyFtpServer(bool dropBox = false, FtpTls tls = {});
};

class VsFtpServer : public FtpServer {
  public:
    explicit VsFtpServer(FtpTls tls = {});

  private:
    QTemporaryDir m_config;
};

}  // namespace pelio::test
