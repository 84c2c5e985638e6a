// The peers of the session soak (SessionSoak.h): reference agents started on ports of the test's
// choosing, and a screen server that misbehaves.
#pragma once

#include "SessionOnDesktop.h"

#include <QDataStream>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <random>

namespace pelio::test {

// A pelio-agent waiting on a port of the test's choosing ("listen PORT"), read line by line.
class SoakAgent {
  public:
    SoakAgent(int listenPort, const QStringList& options) {
        m_process.setProgram(QStringLiteral(PELIO_AGENT_EXECUTABLE));
        m_process.setArguments(QStringList{QStringLiteral("listen"), QString::number(listenPort)} + options);
        m_process.start();
        m_process.waitForStarted(10000);
        WaitFor([&] { return Has("listening ") || !Running(); }, kWindowWaitMs);
        const qsizetype at = m_out.indexOf("listening ");
        if (at >= 0) port = m_out.mid(at + 10, m_out.indexOf('\n', at) - at - 10).toInt();
    }
    ~SoakAgent() { Kill(); }
    bool Has(const char* text) {
        m_out += m_process.readAllStandardOutput();
        return m_out.contains(text);
    }
    bool Running() const { return m_process.state() == QProcess::Running; }
    bool Listening() { return port > 0 && Running() && !Connected(); }
    bool Connected() { return Has("\nconnected "); }
    bool Greeted() { return Has("\ngreeting "); }
    bool Gone() { return !Running() || Has("\ndisconnected"); }
    void Send(const QString& line) {
        if (Running()) m_process.write((line + u'\n').toUtf8());
    }
    void Kill() {
        m_process.kill();
        m_process.waitForFinished(5000);
    }

    int port = 0;
    bool busy = false;
    qint64 connectedAt = -1;  // test time the connection was first seen
    qint64 killAt = -1;       // test time to drop it (busy agents)

  private:
    QProcess m_process;
    QByteArray m_out;
};

// A screen server on 127.0.0.1 that misbehaves in one way per connection, chosen by the test's random
// numbers: garbage instead of a version, a version line then garbage, nothing at all, a refusal whose
// reason claims 4 GiB, or a whole handshake (VNC authentication passes whatever the answer) that ends
// in a screen of absurd size or name followed by garbage.
class HostileServer {
  public:
    explicit HostileServer(std::mt19937& random) : m_random(random) {
        m_server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this] { Accept(); });
    }
    int Port() const { return m_server.serverPort(); }
    int connections = 0;

  private:
    QByteArray Garbage(int most) {
        QByteArray bytes(1 + int(m_random() % unsigned(most)), Qt::Uninitialized);
        for (char& b : bytes) b = char(m_random());
        return bytes;
    }
    void Accept() {
        while (QTcpSocket* socket = m_server.nextPendingConnection()) {
            ++connections;
            switch (m_random() % 5) {
                case 0:
                    socket->write(Garbage(8192));
                    break;
                case 1:
                    socket->write("RFB 003.008\n" + Garbage(8192));
                    break;
                case 2:
                    break;  // says nothing
                case 3:
                    socket->write(QByteArray("RFB 003.008\n\0\xff\xff\xff\xf0", 17));
                    break;
                default:
                    Handshake(socket);
            }
            QTimer::singleShot(int(200 + m_random() % 15000), socket, [socket] {
                socket->abort();
                socket->deleteLater();
            });
        }
    }
    void Handshake(QTcpSocket* socket) {
        socket->write("RFB 003.008\n");
        auto stage = std::make_shared<int>(0);
        auto got = std::make_shared<QByteArray>();
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, stage, got] {
            *got += socket->readAll();
            static const int need[] = {12, 1, 16, 1};  // version, security type, response, shared flag
            while (*stage < 4 && got->size() >= need[*stage]) {
                got->remove(0, need[*stage]);
                switch ((*stage)++) {
                    case 0:
                        socket->write(QByteArray("\x01\x02", 2));  // VNC authentication only
                        break;
                    case 1:
                        socket->write(Garbage(1).repeated(16));  // the challenge
                        break;
                    case 2:
                        socket->write(QByteArray(4, '\0'));  // accepted
                        break;
                    default:
                        socket->write(ServerInit() + Garbage(65536));
                }
            }
        });
    }
    QByteArray ServerInit() {
        static const quint16 sides[] = {0, 1, 640, 32767, 65535};
        static const quint32 nameLengths[] = {0, 5, 0x7fffffff, 0xffffffff};
        QByteArray init;
        QDataStream out(&init, QIODevice::WriteOnly);  // big-endian, as RFB
        out << sides[m_random() % 5] << sides[m_random() % 5];
        out << quint8(32) << quint8(24) << quint8(0) << quint8(1) << quint16(255) << quint16(255)
            << quint16(255) << quint8(16) << quint8(8) << quint8(0) << quint8(0) << quint8(0) << quint8(0);
        out << nameLengths[m_random() % 4];
        return init + "agent";
    }

    std::mt19937& m_random;
    QTcpServer m_server;
};

}  // namespace pelio::test
