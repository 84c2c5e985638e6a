// The built pelio-service, as the demo and the end-to-end tests start it.
#include "support/ScriptedMessageBoxes.h"
#include "web/HttpTransport.h"
#include "web/ServiceEndpoints.h"

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QUrl>

using namespace pelio::web;
using pelio::test::TempFolder;

namespace {

// Starts the service and reads the port it picked; 0 when it did not come up.
int StartService(QProcess& process, const QStringList& args) {
    process.start(QStringLiteral(PELIO_SERVICE_EXECUTABLE), args);
    if (!process.waitForStarted(10000)) return 0;
    QByteArray out;
    QDeadlineTimer deadline(20000);
    while (!out.contains('\n') && !deadline.hasExpired() && process.state() == QProcess::Running) {
        process.waitForReadyRead(100);
        out += process.readAllStandardOutput();
    }
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("^listening on 127\\.0\\.0\\.1:(\\d+)"))
            .match(QString::fromUtf8(out));
    return m.hasMatch() ? m.captured(1).toInt() : 0;
}

}  // namespace

TEST(ServiceTool, ServesTheDemoDataAndTheDropBoxFiles) {
    TempFolder files;
    QDir().mkpath(files.file(QStringLiteral("1234")));
    QFile upload(files.file(QStringLiteral("1234/설명서.txt")));
    ASSERT_TRUE(upload.open(QIODevice::WriteOnly));
    upload.write("drop box content");
    upload.close();
    QFile secret(files.file(QStringLiteral("secret.txt")));
    ASSERT_TRUE(secret.open(QIODevice::WriteOnly));
    secret.write("outside");
    secret.close();
    // Symbolic links: one to a file beside the files folder, one to that folder, one that stays inside.
    TempFolder elsewhere;
    QFile other(elsewhere.file(QStringLiteral("other.txt")));
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    other.write("outside");
    other.close();
    ASSERT_TRUE(QFile::link(other.fileName(), files.file(QStringLiteral("1234/escape.txt"))));
    ASSERT_TRUE(QFile::link(elsewhere.path(), files.file(QStringLiteral("1234/escape"))));
    ASSERT_TRUE(QFile::link(upload.fileName(), files.file(QStringLiteral("1234/alias.txt"))));

    QProcess service;
    const int port = StartService(service, {QStringLiteral("--data"), QStringLiteral(PELIO_SERVICE_DEMO_DATA),
                                            QStringLiteral("--files"), files.path()});
    ASSERT_GT(port, 0);
    const ServiceRoots roots{QStringLiteral("http://127.0.0.1:%1/").arg(port),
                             QStringLiteral("http://127.0.0.1:%1/").arg(port)};

    const CodeCheckReply check =
        CheckCompanyCode(roots, QStringLiteral("1234"), QStringLiteral("EXK4U96B482"));
    EXPECT_EQ(check.Outcome, CodeCheckOutcome::Accepted);
    EXPECT_EQ(check.CompanyName, QStringLiteral("펠리오 상사"));
    const CodeCheckReply refused = CheckCompanyCode(roots, QStringLiteral("7777"), QStringLiteral("X"));
    EXPECT_EQ(refused.Outcome, CodeCheckOutcome::Refused);
    EXPECT_EQ(refused.Reason, QStringLiteral("사용중지"));
    const AgentListReply agents = FetchAgentList(roots, QStringLiteral("1234"));
    ASSERT_EQ(agents.Records.size(), 2);
    EXPECT_TRUE(agents.Records[0].IsAvailable());
    EXPECT_FALSE(agents.Records[1].IsAvailable());

    const QString fileUrl = UploadedFileAddress(roots, QStringLiteral("1234"), QStringLiteral("설명서.txt"));
    EXPECT_EQ(HttpGetBytes(QString::fromLatin1(QUrl(fileUrl).toEncoded()), 5).body,
              QByteArray("drop box content"));
    // Nothing outside the company folders can be reached.
    for (const QString& path :
         {QStringLiteral("userfiles/../secret.txt"), QStringLiteral("userfiles/%2E%2E/secret.txt"),
          QStringLiteral("userfiles/1234/..%2F..%2Fsecret.txt"), QStringLiteral("userfiles/1234/escape.txt"),
          QStringLiteral("userfiles/1234/escape/other.txt")}) {
        const HttpFetchResult r = HttpGetBytes(roots.ServiceRoot + path, 5);
        EXPECT_FALSE(r.body.contains("outside")) << path.toStdString();
        EXPECT_EQ(r.status, 404) << path.toStdString();
    }
    EXPECT_EQ(HttpGetBytes(roots.ServiceRoot + QStringLiteral("userfiles/1234/alias.txt"), 5).body,
              QByteArray("drop box content"));

    service.terminate();
    ASSERT_TRUE(service.waitForFinished(10000));
    EXPECT_EQ(service.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(service.exitCode(), 0);
}

TEST(ServiceTool, StartsWithoutDataAndSaysSo) {
    QProcess service;
    ASSERT_GT(StartService(service, {}), 0);
    service.terminate();
    ASSERT_TRUE(service.waitForFinished(10000));
    const QByteArray err = service.readAllStandardError();
    EXPECT_TRUE(err.startsWith("pelio-service: no --data") && err.count('\n') == 1) << err.constData();
}

TEST(ServiceTool, RefusesAMalformedDataFile) {
    TempFolder dir;
    QFile bad(dir.file(QStringLiteral("bad.json")));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("{ not json");
    bad.close();
    QProcess service;
    EXPECT_EQ(StartService(service, {QStringLiteral("--data"), bad.fileName()}), 0);
    if (service.state() != QProcess::NotRunning) service.waitForFinished(10000);
    EXPECT_EQ(service.state(), QProcess::NotRunning);
    EXPECT_EQ(service.exitCode(), 1);
    EXPECT_FALSE(service.readAllStandardError().isEmpty());
}

TEST(ServiceTool, ExitsWithTheUsageOnABadCommandLine) {
    for (const QStringList& args : {QStringList{QStringLiteral("--data")},
                                    QStringList{QStringLiteral("--port"), QStringLiteral("http")},
                                    QStringList{QStringLiteral("--verbose")}}) {
        QProcess service;
        service.start(QStringLiteral(PELIO_SERVICE_EXECUTABLE), args);
        ASSERT_TRUE(service.waitForFinished(10000)) << args.join(u' ').toStdString();
        EXPECT_EQ(service.exitCode(), 2) << args.join(u' ').toStdString();
        EXPECT_TRUE(service.readAllStandardError().startsWith("usage:"));
    }
}

TEST(ServiceTool, ServesTheTestEndpointsOnlyWithTheTestOption) {
    for (const bool withTest : {false, true}) {
        QProcess service;
        const int port =
            StartService(service, withTest ? QStringList{QStringLiteral("--test")} : QStringList{});
        ASSERT_GT(port, 0);
        const QString root = QStringLiteral("http://127.0.0.1:%1/").arg(port);
        const HttpFetchResult exact = HttpGetBytes(root + QStringLiteral("_test/exact?bytes=3"), 5);
        const HttpFetchResult requests = HttpGetBytes(root + QStringLiteral("_test/requests"), 5);
        if (withTest) {
            EXPECT_EQ(exact.status, 200);
            EXPECT_EQ(exact.body, QByteArray("aaa"));
            EXPECT_EQ(requests.status, 200);
            EXPECT_TRUE(requests.body.contains("\"target\":\"/_test/exact?bytes=3\""))
                << requests.body.constData();
        } else {
            EXPECT_EQ(exact.status, 404);
            EXPECT_EQ(requests.status, 404);
            EXPECT_FALSE(requests.body.contains("target"));
        }
        service.terminate();
        ASSERT_TRUE(service.waitForFinished(10000));
    }
}

TEST(ServiceTool, RequestLogKeepsOnlyTheLatestTenThousand) {
    QProcess service;
    const int port = StartService(service, {QStringLiteral("--test")});
    ASSERT_GT(port, 0);
    const QString root = QStringLiteral("http://127.0.0.1:%1/").arg(port);
    // 10,000 requests, then the log itself as the 10,001st: the first request is the one dropped.
    constexpr int kSent = 10000;
    for (int i = 1; i <= kSent; ++i)
        ASSERT_EQ(HttpGetBytes(root + QStringLiteral("seen/%1").arg(i), 5).status, 404) << i;
    HttpLimits roomy;
    roomy.maxReplyBytes = 16 << 20;
    const QList<QByteArray> lines =
        HttpGetBytes(root + QStringLiteral("_test/requests"), 30, roomy).body.split('\n');
    ASSERT_EQ(lines.size(), kSent + 1);  // the last line is empty
    EXPECT_TRUE(lines.front().contains("\"target\":\"/seen/2\"")) << lines.front().constData();
    EXPECT_TRUE(lines[kSent - 2].contains("\"target\":\"/seen/10000\"")) << lines[kSent - 2].constData();
    EXPECT_TRUE(lines[kSent - 1].contains("\"target\":\"/_test/requests\"")) << lines[kSent - 1].constData();
    service.terminate();
    ASSERT_TRUE(service.waitForFinished(10000));
}
