#include "FtpServers.h"

#include "Wait.h"

#include "secure/AgentKey.h"

#include <QFile>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>

#include <csignal>

namespace pelio::test {

namespace {

int FreePort() {
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

bool Accepts(int port) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, quint16(port));
    return socket.waitForConnected(200);
}

}  // namespace

FtpServer::FtpServer(QString name, QString user, QString password)
    : m_name(std::move(name)), m_user(std::move(user)), m_password(std::move(password)) {}

QString FtpServer::MakeKey(const FtpTls& tls) {
    if (!tls.offered) return {};
    const QString path = m_keyFolder.filePath(QStringLiteral("key.pem"));
    const auto key = components::secure::AgentKey::Generate();
    if (!key.Save(path)) return {};
    m_pin = key.GetPin().ToString().toLatin1();
    return path;
}

FtpServer::~FtpServer() {
    if (m_process.state() == QProcess::NotRunning) return;
    ::kill(pid_t(m_process.processId()), SIGCONT);  // a test may have stopped it
    m_process.kill();
    m_process.waitForFinished(5000);
}

QString FtpServer::Log() {
    // The server wrote its lines before it answered the client; take in what the pipe holds.
    do m_log += m_process.readAll();
    while (m_process.waitForReadyRead(50));
    return QString::fromUtf8(m_log);
}

void FtpServer::Launch(const QString& program, const QStringList& arguments) {
    m_process.setProgram(program);
    m_process.setArguments(arguments);
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.start();
    if (!m_process.waitForStarted(10000)) return;
    const int port = m_port;
    m_port = 0;
    if (port > 0 &&
        WaitFor([&] { return m_process.state() == QProcess::NotRunning || Accepts(port); }, 20000) &&
        m_process.state() == QProcess::Running)
        m_port = port;
}

PyFtpServer::PyFtpServer(bool dropBox, FtpTls tls)
    : FtpServer(QStringLiteral("pyftpdlib"), QStringLiteral("pelio"), QStringLiteral("s3cret")) {
    // Debian's interpreter, whatever python3 comes first on the path: the module is Debian's package.
    m_process.setProgram(QStringLiteral("/usr/bin/python3"));
    if (dropBox) {
        QStringList arguments{QStringLiteral(PELIO_DROPBOX_SCRIPT),
                              QStringLiteral("--port"),
                              QStringLiteral("0"),
                              QStringLiteral("--root"),
                              root(),
                              QStringLiteral("--user"),
                              user(),
                              QStringLiteral("--password"),
                              password()};
        if (tls.offered) {
            const QString key = MakeKey(tls);
            if (key.isEmpty()) return;
            arguments << QStringLiteral("--tls-cert") << key;
            if (tls.required) arguments << QStringLiteral("--tls-required");
        }
        m_process.setArguments(arguments);
    } else
        m_process.setArguments({QStringLiteral("-m"), QStringLiteral("pyftpdlib"), QStringLiteral("-i"),
                                QStringLiteral("127.0.0.1"), QStringLiteral("-p"), QStringLiteral("0"),
                                QStringLiteral("-w"), QStringLiteral("-d"), root(), QStringLiteral("-u"),
                                user(), QStringLiteral("-P"), password()});
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.start();
    if (!m_process.waitForStarted(10000)) return;
    // ">>> starting FTP server on 127.0.0.1:PORT, pid=N <<<"
    static const QRegularExpression started(QStringLiteral(R"(starting FTP server on 127\.0\.0\.1:(\d+))"));
    QByteArray log;
    int port = 0;
    WaitFor(
        [&] {
            log += m_process.readAll();
            const auto m = started.match(QString::fromUtf8(log));
            if (m.hasMatch()) port = m.captured(1).toInt();
            return port > 0 || m_process.state() == QProcess::NotRunning;
        },
        20000);
    if (port > 0 && WaitFor([&] { return Accepts(port); }, 10000)) m_port = port;
}

VsFtpServer::VsFtpServer(FtpTls tls)
    : FtpServer(QStringLiteral("vsftpd"), QStringLiteral("anonymous"), QStringLiteral("x")) {
    QString tlsLines;
    if (tls.offered) {
        const QString key = MakeKey(tls);
        if (key.isEmpty()) return;
        const char* forced = tls.required ? "YES" : "NO";
        tlsLines = QStringLiteral(
                       "ssl_enable=YES\nallow_anon_ssl=YES\nrsa_cert_file=%1\n"
                       "force_anon_logins_ssl=%2\nforce_anon_data_ssl=%2\n"
                       // vsftpd 3.0.3 asks a data connection to resume the control connection's TLS session,
                       // which a TLS 1.3 client often has no ticket for yet: downloads then fail (522).
                       "require_ssl_reuse=NO\n")
                       .arg(key, QLatin1String(forced));
    }
    QFile::setPermissions(root(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                                      QFileDevice::ReadOther | QFileDevice::WriteOther |
                                      QFileDevice::ExeOther);
    m_port = FreePort();
    QFile conf(m_config.filePath(QStringLiteral("vsftpd.conf")));
    if (!conf.open(QIODevice::WriteOnly)) return;
    conf.write(QStringLiteral("listen=YES\nbackground=NO\nlisten_address=127.0.0.1\nlisten_port=%1\n"
                              "run_as_launching_user=YES\nftp_username=nobody\nanonymous_enable=YES\n"
                              "local_enable=NO\nanon_root=%2\nno_anon_password=YES\nwrite_enable=YES\n"
                              "anon_upload_enable=YES\nanon_mkdir_write_enable=YES\n"
                              "anon_other_write_enable=YES\nanon_umask=022\nseccomp_sandbox=NO\n"
                              "connect_from_port_20=NO\npasv_address=127.0.0.1\n")
                   .arg(m_port)
                   .arg(root())
                   .toUtf8() +
               tlsLines.toUtf8());
    conf.close();
    Launch(QStringLiteral("/usr/sbin/vsftpd"), {conf.fileName()});
}

}  // namespace pelio::test
