// Files for the agent: the size rule, and the upload run against a real FTP drop box (pyftpdlib,
// vsftpd) started by each test on 127.0.0.1.
#include "support/FtpServers.h"
#include "support/ScriptedMessageBoxes.h"
#include "transfer/FileSend.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

using namespace pelio;
using pelio::test::FtpTls;
using pelio::test::PyFtpServer;
using pelio::test::ReadFileBytes;
using pelio::test::TempFolder;
using pelio::test::WriteFileBytes;
using pelio::transfer::UploadRun;

namespace {

constexpr qint64 kMiB = 1048576;

// What a run said, in order.
struct RunLog {
    explicit RunLog(UploadRun& run) {
        QObject::connect(&run, &UploadRun::sendMessage, [this](const QString& m) { said << m; });
        QObject::connect(&run, &UploadRun::appendHtml, [this](const QString& h) { said << h.trimmed(); });
    }
    QStringList said;
};

UploadRun::Job JobFor(const pelio::test::FtpServer& server, const QStringList& paths) {
    UploadRun::Job job;
    job.paths = paths;
    job.dropBox = {server.address(), server.user(), server.password(), {}};
    job.deptCode = QStringLiteral("1234");
    job.roots.ServiceRoot = QStringLiteral("http://127.0.0.1:9/");
    return job;
}

}  // namespace

TEST(FileSend, TheWholeChoiceIsRefusedAtTheFirstFileOverThirtyMiB) {
    const QHash<QString, qint64> sizes{{QStringLiteral("/a/one.txt"), 10},
                                       {QStringLiteral("/a/big.iso"), 31 * kMiB},
                                       {QStringLiteral("/a/three.txt"), 10},
                                       {QStringLiteral("/a/exact.bin"), 30 * kMiB},
                                       {QStringLiteral("/a/half.bin"), 30 * kMiB + kMiB / 2},
                                       {QStringLiteral("/a/over.bin"), qint64(30.52 * kMiB)}};
    const auto sizeOf = [&](const QString& path) { return sizes.value(path); };

    const transfer::SendChoice refused = transfer::CheckFilesToSend(
        {QStringLiteral("/a/one.txt"), QStringLiteral("/a/big.iso"), QStringLiteral("/a/three.txt")}, sizeOf);
    EXPECT_TRUE(refused.queue.isEmpty());
    EXPECT_TRUE(refused.names.isEmpty());
    EXPECT_EQ(refused.tooLarge, QStringLiteral("/a/big.iso"));
    EXPECT_EQ(
        transfer::TooLargeMessage(refused.tooLarge, refused.tooLargeMiB),
        QStringLiteral("/a/big.iso 파일의 크기(31MB)가 너무 큽니다.\r\n\r\n30MB 이하의 파일만 전송할 수 "
                       "있습니다."));

    // Exactly 30 MiB, and 30.5 MiB (a half rounds to the even 30), pass; 30.52 MiB rounds to 31.
    const transfer::SendChoice passed =
        transfer::CheckFilesToSend({QStringLiteral("/a/exact.bin"), QStringLiteral("/a/half.bin")}, sizeOf);
    EXPECT_EQ(passed.queue.size(), 2);
    EXPECT_EQ(passed.names, QStringList({QStringLiteral("exact.bin"), QStringLiteral("half.bin")}));
    EXPECT_EQ(transfer::CheckFilesToSend({QStringLiteral("/a/over.bin")}, sizeOf).tooLargeMiB, 31);
}

TEST(FileSend, TheRunMakesTheCompanyFolderSkipsWhatIsThereAndGoesOnPastAFailure) {
    PyFtpServer server(true);
    ASSERT_TRUE(server.ok());
    TempFolder local;
    const QByteArray korean = QByteArray("똠 뷁 ") + QByteArray(100000, 'k');
    WriteFileBytes(local.file(QStringLiteral("요청 사항.txt")), korean);
    WriteFileBytes(local.file(QStringLiteral("same.bin")), QByteArray(5000, 's'));
    WriteFileBytes(local.file(QStringLiteral("empty.txt")), QByteArray());

    UploadRun first(
        JobFor(server, {local.file(QStringLiteral("요청 사항.txt")), local.file(QStringLiteral("gone.txt")),
                        local.file(QStringLiteral("empty.txt"))}),
        0);
    RunLog log1(first);
    first.Run();
    // The company's folder did not exist: it was made, and the files are in it, whole.
    EXPECT_EQ(ReadFileBytes(server.root() + QStringLiteral("/1234/요청 사항.txt")), korean);
    EXPECT_TRUE(QFile::exists(server.root() + QStringLiteral("/1234/empty.txt")));
    EXPECT_EQ(log1.said,
              QStringList({QStringLiteral("lastfile:empty.txt"),
                           QStringLiteral("downloadthis:http://127.0.0.1:9/userfiles/1234/요청 사항.txt"),
                           transfer::UploadedLine(QStringLiteral("요청 사항.txt")).trimmed(),
                           transfer::UploadFailedLine(QStringLiteral("gone.txt")).trimmed(),
                           QStringLiteral("downloadthis:http://127.0.0.1:9/userfiles/1234/empty.txt"),
                           transfer::UploadedLine(QStringLiteral("empty.txt")).trimmed(),
                           QStringLiteral("lastfile:empty.txt"), transfer::UploadCompleteLine().trimmed()}));

    // A file of the same name and size already there is announced without being sent again.
    WriteFileBytes(server.root() + QStringLiteral("/1234/same.bin"), QByteArray(5000, 'x'));
    UploadRun second(JobFor(server, {local.file(QStringLiteral("same.bin"))}), 0);
    RunLog log2(second);
    second.Run();
    EXPECT_EQ(ReadFileBytes(server.root() + QStringLiteral("/1234/same.bin")), QByteArray(5000, 'x'));
    EXPECT_TRUE(
        log2.said.contains(QStringLiteral("downloadthis:http://127.0.0.1:9/userfiles/1234/same.bin")));
}

TEST(FileSend, ACancelledRunLeavesNoPartialFileAndAnUnreachableBoxSaysNothing) {
    PyFtpServer server(true);
    ASSERT_TRUE(server.ok());
    TempFolder local;
    WriteFileBytes(local.file(QStringLiteral("big.bin")), QByteArray(8 * kMiB, 'b'));
    WriteFileBytes(local.file(QStringLiteral("next.txt")), QByteArray("next"));

    UploadRun run(
        JobFor(server, {local.file(QStringLiteral("big.bin")), local.file(QStringLiteral("next.txt"))}), 0);
    RunLog log(run);
    // The customer presses 취소 while the first file travels.
    QObject::connect(&run, &UploadRun::progress, [&](const QString&, int percent) {
        if (percent > 0 && percent < 100) run.Cancel();
    });
    run.Run();
    EXPECT_TRUE(run.Cancelled());
    EXPECT_FALSE(QFile::exists(server.root() + QStringLiteral("/1234/big.bin")));
    EXPECT_FALSE(QFile::exists(server.root() + QStringLiteral("/1234/next.txt")));
    EXPECT_EQ(log.said, QStringList({QStringLiteral("lastfile:next.txt"),
                                     transfer::UploadCancelledLine(QStringLiteral("big.bin")).trimmed()}));

    // No drop box there: the run ends without a message or a line.
    UploadRun::Job job = JobFor(server, {local.file(QStringLiteral("next.txt"))});
    job.dropBox.password = QStringLiteral("wrong");
    UploadRun refused(job, 0);
    RunLog silent(refused);
    refused.Run();
    EXPECT_TRUE(silent.said.isEmpty());
}

TEST(FileSend, TheDropBoxIsUsedOverTlsWhenOfferedAndRefusedWhenTlsCannotBeHad) {
    TempFolder local;
    WriteFileBytes(local.file(QStringLiteral("note.txt")), QByteArray("secret note"));
    const QString sent = QStringLiteral("/1234/note.txt");
    const QString insecure = transfer::DropBoxInsecureLine().trimmed();

    // The program's own drop box that takes nothing but TLS: the default settings find and use it.
    {
        PyFtpServer server(true, FtpTls{true, true});
        ASSERT_TRUE(server.ok());
        UploadRun run(JobFor(server, {local.file(QStringLiteral("note.txt"))}), 0);
        run.Run();
        EXPECT_EQ(ReadFileBytes(server.root() + sent), QByteArray("secret note"));
    }

    // Required by the settings and checked against its pin.
    PyFtpServer box(true, FtpTls{true, true});
    ASSERT_TRUE(box.ok());
    const QString ini = local.file(QStringLiteral("PelioRS.ini"));
    WriteFileBytes(ini, "[FileSend]\r\nDropBoxTls=1\r\nDropBoxPin=" + box.pin() + "\r\n");
    UploadRun::Job job = JobFor(box, {local.file(QStringLiteral("note.txt"))});
    job.dropBox.tls = transfer::LoadDropBox(ini).tls;
    EXPECT_TRUE(job.dropBox.tls.required);
    UploadRun pinned(job, 0);
    pinned.Run();
    EXPECT_EQ(ReadFileBytes(box.root() + sent), QByteArray("secret note"));

    // Another key at the drop box's address, and a pin in the settings that is none: nothing is sent,
    // and the customer is told why.
    QFile::remove(box.root() + sent);
    for (const QByteArray& pin :
         {QByteArray("sha256//AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA="), QByteArray("/etc/passwd")}) {
        WriteFileBytes(ini, "[FileSend]\r\nDropBoxPin=" + pin + "\r\n");
        job.dropBox.tls = transfer::LoadDropBox(ini).tls;
        UploadRun other(job, 0);
        RunLog log(other);
        other.Run();
        EXPECT_FALSE(QFile::exists(box.root() + sent)) << pin.constData();
        EXPECT_EQ(log.said, QStringList{insecure}) << pin.constData();
    }

    // A drop box without TLS while the settings require it: refused before the password goes out.
    PyFtpServer plain(true);
    ASSERT_TRUE(plain.ok());
    job = JobFor(plain, {local.file(QStringLiteral("note.txt"))});
    job.dropBox.tls.required = true;
    UploadRun refused(job, 0);
    RunLog log(refused);
    refused.Run();
    EXPECT_FALSE(QFile::exists(plain.root() + sent));
    EXPECT_EQ(log.said, QStringList{insecure});
    EXPECT_FALSE(plain.Log().contains(QStringLiteral("logged in")));
}
