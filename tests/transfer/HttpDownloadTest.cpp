// Downloads against the reference web service on 127.0.0.1: a whole file arrives byte for byte, and
// every way a download can end short leaves neither a file under the target's name nor a temporary
// file.
#include "ReferenceService.h"
#include "support/ScriptedMessageBoxes.h"
#include "support/Wait.h"
#include "transfer/HttpDownload.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDir>
#include <QJsonObject>
#include <QRandomGenerator>

#include <memory>

using namespace pelio;
using transfer::DownloadLimits;
using transfer::HttpDownload;

namespace {

struct Ending {
    bool done = false;
    bool ok = false;
    QString text;
    qint64 received = -1;
    qint64 total = -1;
};

// Connects to the download's signals and records what they said.
std::shared_ptr<Ending> Watch(HttpDownload& download) {
    auto ending = std::make_shared<Ending>();
    QObject::connect(&download, &HttpDownload::progress, [ending](qint64 received, qint64 total) {
        ending->received = received;
        ending->total = total;
    });
    QObject::connect(&download, &HttpDownload::finished, [ending](bool ok, const QString& text) {
        ending->done = true;
        ending->ok = ok;
        ending->text = text;
    });
    return ending;
}

class HttpDownloadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(QDir().mkpath(files.file(QStringLiteral("1234"))));
        port = service.Start();
        ASSERT_GT(port, 0);
    }
    QString Url(const QString& path) const {
        return QStringLiteral("http://127.0.0.1:%1/%2").arg(port).arg(path);
    }
    // Everything in the target folder.
    QStringList Saved() const { return QDir(target.path()).entryList(QDir::Files | QDir::Hidden); }

    std::shared_ptr<Ending> Run(HttpDownload& download) {
        auto ending = Watch(download);
        download.Start();
        EXPECT_TRUE(test::WaitFor([&] { return ending->done; }, 60000));
        return ending;
    }

    test::TempFolder files;
    test::TempFolder target;
    tools::ReferenceService service{QJsonObject{}, files.path(), tools::ReferenceService::TestEndpoints::On};
    int port = 0;
};

}  // namespace

TEST_F(HttpDownloadTest, AWholeFileReplacesTheTargetOnlyWhenWhole) {
    QByteArray content(3 * 1024 * 1024 + 17, Qt::Uninitialized);
    for (char& c : content) c = char(QRandomGenerator::global()->generate());
    // A name with a blank and Korean, written into the address as the agent sends it.
    test::WriteFileBytes(files.file(QStringLiteral("1234/보고서 1.bin")), content);
    const QString local = target.file(QStringLiteral("보고서 1.bin"));
    test::WriteFileBytes(local, "old");

    HttpDownload missing(Url(QStringLiteral("userfiles/1234/none.bin")), local);
    const auto failed = Run(missing);
    EXPECT_FALSE(failed->ok);
    EXPECT_EQ(missing.Failure().kind, web::NetError::HttpStatus) << failed->text.toStdString();
    EXPECT_EQ(test::ReadFileBytes(local), "old");
    EXPECT_EQ(Saved(), QStringList{QStringLiteral("보고서 1.bin")});

    HttpDownload download(Url(QStringLiteral("userfiles/1234/보고서 1.bin")), local);
    const auto ending = Run(download);
    ASSERT_TRUE(ending->ok) << ending->text.toStdString();
    EXPECT_EQ(QCryptographicHash::hash(test::ReadFileBytes(local), QCryptographicHash::Sha256),
              QCryptographicHash::hash(content, QCryptographicHash::Sha256));
    EXPECT_EQ(ending->received, content.size());
    EXPECT_EQ(ending->total, content.size());
    EXPECT_EQ(Saved(), QStringList{QStringLiteral("보고서 1.bin")});
    // Every request asked for a fresh copy.
    for (const auto& request : service.Requests())
        EXPECT_EQ(request.cacheControl, QStringLiteral("no-cache"));
}

TEST_F(HttpDownloadTest, EveryShortEndLeavesNothing) {
    DownloadLimits quick;
    quick.stallMs = 300;
    DownloadLimits small;
    small.maxBytes = 200000;
    test::WriteFileBytes(files.file(QStringLiteral("1234/big.bin")), QByteArray(300000, 'b'));
    const QString secret = files.file(QStringLiteral("1234/big.bin"));
    const struct {
        QString url;
        DownloadLimits limits;
        web::NetError kind;
    } cases[] = {
        {Url(QStringLiteral("userfiles/1234/none.bin")), {}, web::NetError::HttpStatus},
        {Url(QStringLiteral("_test/error")), {}, web::NetError::HttpStatus},
        {Url(QStringLiteral("_test/close-early")), {}, web::NetError::CutShort},
        {Url(QStringLiteral("_test/hang?bytes=100")), quick, web::NetError::TimedOut},
        {Url(QStringLiteral("_test/delay?ms=60000")), quick, web::NetError::TimedOut},   // no reply at all
        {Url(QStringLiteral("userfiles/1234/big.bin")), small, web::NetError::SizeCap},  // length announced
        {Url(QStringLiteral("_test/endless")), small, web::NetError::SizeCap},           // no length
        {QStringLiteral("file://") + secret, {}, web::NetError::BadAddress},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url.toStdString());
        HttpDownload download(c.url, target.file(QStringLiteral("f.bin")), c.limits);
        const auto ending = Run(download);
        EXPECT_FALSE(ending->ok);
        EXPECT_FALSE(download.Cancelled());
        EXPECT_EQ(download.Failure().kind, c.kind) << ending->text.toStdString();
        EXPECT_EQ(Saved(), QStringList());
    }
}

TEST_F(HttpDownloadTest, CancelAndDestructionStopARunningDownload) {
    HttpDownload download(Url(QStringLiteral("_test/endless")), target.file(QStringLiteral("f.bin")));
    const auto ending = Watch(download);
    download.Start();
    ASSERT_TRUE(test::WaitFor([&] { return ending->received > 0; }, 30000));
    EXPECT_EQ(ending->total, 0);  // no length announced
    download.Cancel();
    ASSERT_TRUE(test::WaitFor([&] { return ending->done; }, 30000));
    EXPECT_FALSE(ending->ok);
    EXPECT_TRUE(download.Cancelled());
    EXPECT_EQ(Saved(), QStringList());

    {
        auto running = std::make_unique<HttpDownload>(Url(QStringLiteral("_test/endless")),
                                                      target.file(QStringLiteral("g.bin")));
        const auto seen = Watch(*running);
        running->Start();
        ASSERT_TRUE(test::WaitFor([&] { return seen->received > 0; }, 30000));
        running.reset();  // returns once the worker stopped
        EXPECT_FALSE(seen->done);
    }
    EXPECT_EQ(Saved(), QStringList());
}
