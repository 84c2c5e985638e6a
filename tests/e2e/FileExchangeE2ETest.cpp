// Files both ways during a session of the built program: the customer picks files in the chat window
// and they travel through the FTP drop box (pyftpdlib) that the reference service publishes as
// "userfiles/", where the agent (pelio-agent) fetches them; the agent offers files that the program
// downloads into the received-files folder. Both sides' SHA-256 digests must agree.
#include "SessionOnDisplay.h"
#include "app/Scramble.h"
#include "support/FtpServers.h"

#include <gtest/gtest.h>
#include <QCryptographicHash>
#include <QRegularExpression>
#include <QTcpServer>

#include <csignal>

using namespace pelio::test;

namespace {

QString Scrambled(const QString& text) {
    return pelio::app::ScrambleHex(text, pelio::app::ValueKey);
}

QByteArray Pattern(qint64 size, quint32 seed) {
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
        agentOptions = {QStringLiteral("--answer-files"),
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
                                   "LastFolder=%4\r\n")
                        .arg(Scrambled(dropBox.address()), Scrambled(dropBox.user()),
                             Scrambled(dropBox.password()), toSend.path()));
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

    PyFtpServer dropBox{true};
    int port = 0;
    TempFolder toSend;
    TempFolder agentReceived;
    QHash<QString, QByteArray> digests;
};

}  // namespace

TEST_F(FilesOnDisplay, FilesGoToTheAgentThroughTheDropBoxWhole) {
    MakeFile(QStringLiteral("견적서 최종.txt"), Pattern(200000, 1));
    MakeFile(QStringLiteral("with spaces.bin"), Pattern(1 << 20, 2));
    MakeFile(QStringLiteral("big30.bin"), Pattern(30 << 20, 3));
    QProcess& program = StartAndConnect();
    ASSERT_TRUE(agent->WaitFor("greeting ")) << log.constData();
    SendAllFiles(program);
    ASSERT_TRUE(agent->WaitFor("message filename:")) << agent->Output().constData() << log.constData();
    EXPECT_TRUE(WaitFor([&] { return Fetched().size() == 3; }, 120000))
        << agent->Output().constData() << log.constData();
    EXPECT_EQ(Fetched(), digests);
    EXPECT_TRUE(WaitLog(program, "upload run ended"));
    EXPECT_TRUE(Log(program, "파일 전송이 완료되었습니다."));
}

TEST_F(FilesOnDisplay, TheRunGoesOnPastADropBoxThatStopped) {
    MakeFile(QStringLiteral("a.txt"), Pattern(1000, 4));
    MakeFile(QStringLiteral("b.txt"), Pattern(1000, 5));
    QProcess& program = StartAndConnect();
    ASSERT_TRUE(agent->WaitFor("greeting ")) << log.constData();
    SendAllFiles(program);
    // The drop box goes away once the first file is through.
    ASSERT_TRUE(WaitLog(program, "파일이 전송되었습니다.")) << log.constData();
    ::kill(pid_t(dropBox.pid()), SIGKILL);
    EXPECT_TRUE(WaitLog(program, "upload run ended")) << log.constData();
    EXPECT_TRUE(Log(program, "</b> 파일 전송 실패"));
}

TEST_F(FilesOnDisplay, FilesOfTheAgentAreSavedWholeAndAFailedOneLeavesNothing) {
    TempFolder offered;
    QStringList paths;
    for (const auto& [name, content] : {std::pair{QStringLiteral("설명서 최신.txt"), Pattern(300000, 6)},
                                        std::pair{QStringLiteral("two words.bin"), Pattern(1 << 20, 7)},
                                        std::pair{QStringLiteral("big30.bin"), Pattern(30 << 20, 8)}}) {
        WriteFileBytes(offered.file(name), content);
        digests.insert(name, QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex());
        paths << u'"' + offered.file(name) + u'"';
    }
    QProcess& program = StartAndConnect();
    ASSERT_TRUE(agent->WaitFor("greeting ")) << log.constData();
    agent->Send(QStringLiteral("\\offer ") + paths.join(u' '));
    ASSERT_TRUE(agent->WaitFor("offer accepted")) << agent->Output().constData() << log.constData();
    // The last file of the batch closes it in the chat.
    EXPECT_TRUE(WaitLog(program, "파일 전송이 완료되었습니다.")) << log.constData();
    const QString received = home.file(QStringLiteral("문서/Pelio 받은파일"));
    QHash<QString, QByteArray> saved;
    EXPECT_TRUE(WaitFor(
        [&] {
            saved.clear();
            for (const QString& name : QDir(received).entryList(QDir::Files))
                saved.insert(name, QCryptographicHash::hash(ReadFileBytes(received + u'/' + name),
                                                            QCryptographicHash::Sha256)
                                       .toHex());
            return saved == digests;
        },
        kWindowWaitMs));
    EXPECT_EQ(saved, digests);

    // An address the web site does not have: the failure line, and no file.
    agent->Send(QStringLiteral("\\download http://127.0.0.1:%1/userfiles/agent/없는 파일.txt").arg(port));
    EXPECT_TRUE(WaitLog(program, "<b>없는 파일.txt</b> 파일 전송에 실패하였습니다.")) << log.constData();
    EXPECT_EQ(QDir(received).entryList(QDir::Files | QDir::Hidden).size(), 3);
}
