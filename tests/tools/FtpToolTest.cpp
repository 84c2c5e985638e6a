// The built pelio-ftp against a real FTP server.
#include "support/FtpServers.h"
#include "support/ScriptedMessageBoxes.h"

#include <gtest/gtest.h>

#include <QProcess>

using pelio::test::PyFtpServer;
using pelio::test::ReadFileBytes;
using pelio::test::TempFolder;
using pelio::test::WriteFileBytes;

namespace {

struct FtpRun {
    int code = -1;
    QString out, err;
};

FtpRun Ftp(const QStringList& args, const QString& folder) {
    QProcess p;
    p.setWorkingDirectory(folder);
    p.start(QStringLiteral(PELIO_FTP_EXECUTABLE), args);
    FtpRun r;
    if (!p.waitForFinished(60000)) return r;
    r.code = p.exitCode();
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

}  // namespace

TEST(FtpTool, CommandsFailuresAndUsage) {
    PyFtpServer server;
    ASSERT_TRUE(server.ok());
    TempFolder local;
    WriteFileBytes(local.file(QStringLiteral("a.txt")), "hello");
    const QString url =
        QStringLiteral("ftp://%1:%2@%3").arg(server.user(), server.password(), server.address());
    const auto ok = [&](const QStringList& args) {
        const FtpRun r = Ftp(args, local.path());
        EXPECT_EQ(r.code, 0) << args.join(u' ').toStdString() << ": " << r.err.toStdString();
        return r.out;
    };
    for (const char* mode : {"--active", "--passive"}) {
        SCOPED_TRACE(mode);
        const QString m = QString::fromLatin1(mode);
        ok({m, url, QStringLiteral("mkdir"), QStringLiteral("in")});
        ok({m, QStringLiteral("--cd"), QStringLiteral("in"), url, QStringLiteral("put"),
            QStringLiteral("a.txt"), QStringLiteral("b c.txt")});
        EXPECT_EQ(ok({m, QStringLiteral("--cd"), QStringLiteral("in"), url, QStringLiteral("size"),
                      QStringLiteral("b c.txt")}),
                  QStringLiteral("5\n"));
        ok({m, url, QStringLiteral("mv"), QStringLiteral("in/b c.txt"), QStringLiteral("d.txt")});
        ok({m, url, QStringLiteral("get"), QStringLiteral("d.txt"), QStringLiteral("back.txt")});
        EXPECT_EQ(ReadFileBytes(local.file(QStringLiteral("back.txt"))), "hello");
        EXPECT_EQ(ok({m, QStringLiteral("--cd"), QStringLiteral("in"), url, QStringLiteral("pwd")}),
                  QStringLiteral("/in\n"));
        ok({m, url, QStringLiteral("rm"), QStringLiteral("d.txt")});
        ok({m, url, QStringLiteral("rmdir"), QStringLiteral("in")});
    }
    // A failure says why and exits 1; a bad command line gives the usage and 2.
    const FtpRun missing = Ftp({url, QStringLiteral("get"), QStringLiteral("nothing.txt")}, local.path());
    EXPECT_EQ(missing.code, 1);
    EXPECT_TRUE(missing.err.contains(QStringLiteral("FTP File Doesn't Exist"))) << missing.err.toStdString();
    const FtpRun wrong =
        Ftp({QStringLiteral("ftp://%1:nope@%2").arg(server.user(), server.address()), QStringLiteral("pwd")},
            local.path());
    EXPECT_EQ(wrong.code, 1);
    EXPECT_TRUE(wrong.err.contains(QStringLiteral("InternetConnect() Error - Code: ")))
        << wrong.err.toStdString();
    for (const QStringList& bad : {QStringList{url}, QStringList{url, QStringLiteral("frobnicate")},
                                   QStringList{QStringLiteral("http://x/"), QStringLiteral("pwd")},
                                   QStringList{url, QStringLiteral("mv"), QStringLiteral("one")}}) {
        const FtpRun r = Ftp(bad, local.path());
        EXPECT_EQ(r.code, 2) << bad.join(u' ').toStdString();
        EXPECT_TRUE(r.err.contains(QStringLiteral("usage: pelio-ftp"))) << r.err.toStdString();
    }
}
