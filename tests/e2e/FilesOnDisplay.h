// The fixture of the file-exchange tests: a session (SessionOnDisplay) whose agent accepts the
// customer's files and shares its own through an FTP drop box (pyftpdlib) that the reference service
// publishes as "userfiles/", with the program pointed at that drop box. As in the demo, the drop box
// takes nothing but TLS, and the program requires it and checks the box's key against its pin.
#pragma once

#include "SessionOnDisplay.h"
#include "app/Scramble.h"
#include "support/FtpServers.h"

#include <gtest/gtest.h>
#include <QCryptographicHash>
#include <QRegularExpression>
#include <QTcpServer>

namespace pelio::test {

inline QString Scrambled(const QString& text) {
    return pelio::app::ScrambleHex(text, pelio::app::ValueKey);
}

inline QByteArray Pattern(qint64 size, quint32 seed) {
    QByteArray bytes(size, Qt::Uninitialized);
    quint32 x = 2463534242u + seed;
    for (char& b : bytes) {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        b = char(x);
    }
    return bytes;
}

class FilesOnDisplay : public SessionOnDisplay {
  protected:
    QString ServiceFiles() override { return dropBox.root(); }
    int ServicePort() override { return port; }

    void SetUp() override {
        ASSERT_TRUE(dropBox.ok());
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
        port = probe.serverPort();
        probe.close();
        agentOptions += {QStringLiteral("--answer-files"),
                         QStringLiteral("accept"),
                         QStringLiteral("--share"),
                         dropBox.root() + QStringLiteral("/agent"),
                         QStringLiteral("http://127.0.0.1:%1/userfiles/agent/").arg(port),
                         QStringLiteral("--received"),
                         agentReceived.path()};
        SessionOnDisplay::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        // The customer's documents folder, and the drop box and the folder the file dialog opens in.
        QDir().mkpath(home.file(QStringLiteral("config")));
        QFile dirs(home.file(QStringLiteral("config/user-dirs.dirs")));
        ASSERT_TRUE(dirs.open(QIODevice::WriteOnly));
        dirs.write(
            QStringLiteral("XDG_DOCUMENTS_DIR=\"%1\"\n").arg(home.file(QStringLiteral("문서"))).toUtf8());
        dirs.close();
        AddSettings(QStringLiteral("[FileSend]\r\nDropBoxHost=%1\r\nDropBoxUser=%2\r\nDropBoxPassword=%3\r\n"
                                   "LastFolder=%4\r\nDropBoxTls=1\r\nDropBoxPin=%5\r\n")
                        .arg(Scrambled(dropBox.address()), Scrambled(dropBox.user()),
                             Scrambled(dropBox.password()), toSend.path(),
                             QString::fromLatin1(dropBox.pin())));
    }

    // Writes a file to send and notes its digest.
    void MakeFile(const QString& name, const QByteArray& content) {
        WriteFileBytes(toSend.file(name), content);
        digests.insert(name, QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex());
    }

    // Opens the chat window with a line of the agent, then picks every file of the folder to send in the
    // file dialog (Ctrl+O in the chat window, then select all in the dialog's list).
    void SendAllFiles(QProcess& program) {
        agent->Send(QStringLiteral("\\chat 파일을 보내 주세요"));
        ASSERT_TRUE(WaitLog(program, "agent chat 파일을 보내 주세요"));
        ASSERT_TRUE(Focus(QStringLiteral("상담원과 대화하기")));
        Xdo({QStringLiteral("key"), QStringLiteral("ctrl+o")});
        ASSERT_TRUE(Focus(QStringLiteral("보낼 파일을 선택하세요.")));
        Xdo({QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("150"),
             QStringLiteral("shift+Tab"), QStringLiteral("ctrl+a"), QStringLiteral("Return")});
    }

    // The "fetched NAME SIZE SHA256" lines of the agent, by name.
    QHash<QString, QByteArray> Fetched() {
        QHash<QString, QByteArray> fetched;
        static const QRegularExpression line(QStringLiteral("^fetched (.+) (\\d+) ([0-9a-f]{64})$"),
                                             QRegularExpression::MultilineOption);
        auto it = line.globalMatch(QString::fromUtf8(agent->Output()));
        while (it.hasNext()) {
            const auto m = it.next();
            fetched.insert(m.captured(1), m.captured(3).toLatin1());
        }
        return fetched;
    }

    PyFtpServer dropBox{true, FtpTls{true, true}};
    int port = 0;
    TempFolder toSend;
    TempFolder agentReceived;
    QHash<QString, QByteArray> digests;
};

}  // namespace pelio::test
