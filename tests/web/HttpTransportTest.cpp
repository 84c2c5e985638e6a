#include "ReferenceService.h"
#include "platform/Clock.h"
#include "support/ScriptedMessageBoxes.h"
#include "web/HttpTransport.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QTcpServer>
#include <QTimer>

#include <functional>

using namespace pelio::web;
using pelio::tools::ReferenceService;

namespace {

class HttpTransportTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        service = new ReferenceService(QJsonObject{}, QString(), ReferenceService::TestEndpoints::On);
        port = service->Start();
    }
    static void TearDownTestSuite() {
        delete service;
        service = nullptr;
    }
    void SetUp() override { ASSERT_GT(port, 0); }

    static QString Url(const QString& path) {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(path);
    }

    static int CountRequests(const QString& target) {
        int n = 0;
        for (const auto& r : service->Requests())
            if (r.target == target) ++n;
        return n;
    }

    // A port on which nothing listens: bound once, then released.
    static quint16 ClosedPort() {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        const quint16 p = probe.serverPort();
        probe.close();
        return p;
    }

    // A clock for the time limits that moves `stepMs` whenever window events run its 10 ms timer, that
    // is while a fetch waits, and once `when` holds if given.
    struct DrivenClock {
        explicit DrivenClock(qint64 stepMs, std::function<bool()> when = {}) {
            QObject::connect(&ticker, &QTimer::timeout, [this, stepMs, when] {
                ++ticks;
                if (!when || when()) clock.Advance(stepMs);
            });
            ticker.start(10);
        }
        pelio::platform::ManualClock clock;
        QTimer ticker;
        int ticks = 0;
    };

    static inline ReferenceService* service = nullptr;
    static inline int port = 0;
};

}  // namespace

TEST_F(HttpTransportTest, RepliesOfEverySizeAroundTheReadPieceComeBackWhole) {
    for (int bytes : {0, 1, 4095, 4096, 4097, 8192, 100000}) {
        const HttpFetchResult r = HttpGetBytes(Url(QStringLiteral("/_test/exact?bytes=%1").arg(bytes)), 5);
        EXPECT_TRUE(r.ok) << bytes;
        EXPECT_EQ(r.attempts, 1);
        EXPECT_EQ(r.body, QByteArray(bytes, 'a')) << bytes;
        EXPECT_EQ(r.failure.kind, NetError::None) << r.failure.text.toStdString();
    }
    EXPECT_EQ(HttpGetText(Url(QStringLiteral("/_test/exact?bytes=4096")), 5), QString(4096, u'a'));
}

TEST_F(HttpTransportTest, KoreanSplitAcrossPiecesStaysIntact) {
    EXPECT_EQ(HttpGetText(Url(QStringLiteral("/_test/split-korean")), 5),
              QStringLiteral("가나다라 똠햏뷁 원격지원 펠리오"));
}

TEST_F(HttpTransportTest, RequestAsksTheServerAndNamesTheAgent) {
    const QString target = QStringLiteral("/_test/exact?bytes=3&marker=agent");
    // A desktop's proxy (here one that is not there) is not asked for a loopback address.
    const QByteArray proxy = QStringLiteral("http://127.0.0.1:%1/").arg(ClosedPort()).toLatin1();
    qputenv("http_proxy", proxy);
    qputenv("no_proxy", "example.org");
    EXPECT_EQ(HttpGetText(Url(target), 5), QStringLiteral("aaa"));
    qunsetenv("http_proxy");
    qunsetenv("no_proxy");
    bool seen = false;
    for (const auto& r : service->Requests()) {
        if (r.target != target) continue;
        seen = true;
        EXPECT_EQ(r.method, QStringLiteral("GET"));
        EXPECT_EQ(r.userAgent, QStringLiteral("vb wininet"));
        EXPECT_EQ(r.cacheControl, QStringLiteral("no-cache"));
    }
    EXPECT_TRUE(seen);
}

TEST_F(HttpTransportTest, ErrorPagesAndEarlyCloseAreRepliesLikeAnyOther) {
    EXPECT_TRUE(HttpGetText(Url(QStringLiteral("/_test/error")), 5)
                    .contains(QStringLiteral("500 Internal Server Error")));
    const HttpFetchResult missing = HttpGetBytes(Url(QStringLiteral("/no/such/page")), 5);
    EXPECT_TRUE(missing.ok);  // a 404 is a reply, not a failed request: no second attempt
    EXPECT_EQ(missing.attempts, 1);
    EXPECT_EQ(CountRequests(QStringLiteral("/no/such/page")), 1);
    EXPECT_EQ(missing.status, 404);
    EXPECT_EQ(missing.failure.kind, NetError::HttpStatus);
    EXPECT_TRUE(missing.failure.text.contains(QStringLiteral("404")));
    // The server promised 1,000 bytes and closed after 100: what arrived is the reply.
    const HttpFetchResult r = HttpGetBytes(Url(QStringLiteral("/_test/close-early")), 5);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.attempts, 1);
    EXPECT_EQ(r.body, QByteArray(100, 'c'));
    EXPECT_EQ(r.failure.kind, NetError::CutShort);
}

TEST_F(HttpTransportTest, AServerThatHangsAfterTheFirstBytesReturnsWhatCameWithinTheLimit) {
    DrivenClock time(100);
    HttpLimits limits;
    limits.openMs = 1'000'000'000;  // only the read time-out is under test
    limits.clock = &time.clock;
    const HttpFetchResult r = HttpGetBytes(Url(QStringLiteral("/_test/hang?bytes=700")), 1.0, limits);
    EXPECT_TRUE(r.ok);
    EXPECT_TRUE(r.timedOut);
    EXPECT_EQ(r.failure.kind, NetError::TimedOut);
    EXPECT_EQ(r.body, QByteArray(700, 'h'));
    EXPECT_GT(time.ticks, 0);  // window events ran while the request waited
}

TEST_F(HttpTransportTest, SlowFirstByteWithinTheOpenLimitIsFineBeyondItFailsTwice) {
    EXPECT_EQ(HttpGetText(Url(QStringLiteral("/_test/delay?ms=300")), 5), QStringLiteral("delayed"));
    DrivenClock time(100);
    HttpLimits tight;
    tight.openMs = 300;
    tight.clock = &time.clock;
    const QString target = QStringLiteral("/_test/delay?ms=3000");
    const HttpFetchResult r = HttpGetBytes(Url(target), 5, tight);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.attempts, 2);
    EXPECT_EQ(CountRequests(target), 2);
    EXPECT_EQ(r.failure.kind, NetError::TimedOut);
}

TEST_F(HttpTransportTest, AnInterimReplyIsNotTheReplyTheOpenLimitWaitsFor) {
    // "100 Continue" at once, then no final headers: each attempt ends at the open limit, rather than
    // at the caller's time-out with an empty body taken for the reply.
    const QString target = QStringLiteral("/_test/continue-stall?ms=30000");
    DrivenClock time(1000, [&] { return CountRequests(target) > 0; });
    HttpLimits limits;
    limits.clock = &time.clock;
    const HttpFetchResult r = HttpGetBytes(Url(target), 60, limits);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.attempts, 2);
    EXPECT_EQ(r.failure.kind, NetError::TimedOut);
    EXPECT_TRUE(r.body.isEmpty());
    // The real headers right after it: the reply is theirs.
    EXPECT_EQ(HttpGetText(Url(QStringLiteral("/_test/continue-stall?ms=0")), 5), QStringLiteral("delayed"));
}

TEST_F(HttpTransportTest, RequestsThatCannotBeMadeGiveEmptyAndSayWhy) {
    const HttpFetchResult refused =
        HttpGetBytes(QStringLiteral("http://127.0.0.1:%1/x").arg(ClosedPort()), 5);
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ(refused.attempts, 2);
    EXPECT_EQ(refused.failure.kind, NetError::Refused);
    EXPECT_FALSE(refused.failure.text.isEmpty());
    EXPECT_TRUE(HttpGetText(QStringLiteral("http://127.0.0.1:%1/x").arg(ClosedPort()), 5).isEmpty());
    const HttpFetchResult unknown = HttpGetBytes(QStringLiteral("http://no-such-host.invalid/x"), 5);
    EXPECT_FALSE(unknown.ok);
    EXPECT_EQ(unknown.attempts, 2);
    EXPECT_EQ(unknown.failure.kind, NetError::NameNotResolved);
    // A secure request to a plain HTTP server.
    const HttpFetchResult tls = HttpGetBytes(QStringLiteral("https://127.0.0.1:%1/").arg(port), 5);
    EXPECT_FALSE(tls.ok);
    EXPECT_EQ(tls.failure.kind, NetError::Tls) << tls.failure.text.toStdString();
    // Not an address at all, and a scheme that is not HTTP: one attempt is enough.
    for (const QString& bad : {QStringLiteral("::not a url::"), QStringLiteral("file:///etc/passwd")}) {
        const HttpFetchResult r = HttpGetBytes(bad, 5);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.attempts, 1);
        EXPECT_EQ(r.failure.kind, NetError::BadAddress) << r.failure.text.toStdString();
        EXPECT_TRUE(HttpGetText(bad, 5).isEmpty());
    }
}

TEST_F(HttpTransportTest, AnEndlessBodyStopsAtTheCap) {
    const HttpFetchResult r = HttpGetBytes(Url(QStringLiteral("/_test/endless")), 60);
    EXPECT_TRUE(r.ok);
    EXPECT_TRUE(r.capped);
    EXPECT_EQ(r.failure.kind, NetError::SizeCap);
    EXPECT_EQ(r.body.size(), 1 << 20);
    HttpLimits small;
    small.maxReplyBytes = 10000;
    EXPECT_EQ(HttpGetText(Url(QStringLiteral("/_test/endless")), 60, small).size(), 10000);
}

TEST(WaitResponsive, ProcessesEventsWhileWaiting) {
    bool fired = false, due = false;
    QTimer::singleShot(10, [&] { fired = true; });
    QTimer::singleShot(150, [&] { due = true; });  // timers fire in the order they are due
    WaitResponsive(200);
    EXPECT_TRUE(fired);
    EXPECT_TRUE(due);
    bool pumped = false;
    QTimer::singleShot(0, [&] { pumped = true; });
    PumpPendingEvents();
    EXPECT_TRUE(pumped);
}
