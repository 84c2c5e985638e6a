// Files both ways during a session of the built program: the customer picks files in the chat window
// and they travel through the FTP drop box (pyftpdlib) that the reference service publishes as
// "userfiles/", where the agent (pelio-agent) fetches them; the agent offers files that the program
// downloads into the received-files folder. Both sides' SHA-256 digests must agree.
#include "FilesOnDisplay.h"

#include <gtest/gtest.h>

#include <csignal>

using namespace pelio::test;

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
    EXPECT_EQ(Fetched(), digests) << agent->Output().constData() << log.constData();
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

TEST_F(FilesOnDisplay, FilesOfTheAgentAreSavedWholeAndAnUnofferedOneIsNotFetched) {
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

    // A file the agent did not offer is not fetched at all: a notice, and no file.
    agent->Send(QStringLiteral("\\download http://127.0.0.1:%1/userfiles/agent/없는 파일.txt").arg(port));
    EXPECT_TRUE(WaitLog(program, "수락하지 않은 파일이라 받지 않았습니다")) << log.constData();
    EXPECT_EQ(QDir(received).entryList(QDir::Files | QDir::Hidden).size(), 3);
}
