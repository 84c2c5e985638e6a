#include "web/HttpTransport.h"

#include "web/CurlSetup.h"
#include "platform/Clock.h"
#include "util/core/Ansi.h"
#include "web/WebLog.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <curl/curl.h>

#include <thread>

namespace pelio::web {

namespace {

constexpr long kReadPiece = 4096;
constexpr int kPauseBetweenAttemptsMs = 100;
constexpr int kPollMs = 10;

// What one transfer gathers from libcurl's callbacks.
struct Transfer {
    QByteArray body;
    qint64 cap = 0;
    bool capped = false;
    bool timedOut = false;
    long status = 0;           // of the response whose headers are being read, then of the final one
    bool bodyStarted = false;  // the final response's headers are complete
    const platform::Clock* clock = nullptr;
    qint64 bodyStartMs = 0;  // when they were

    static size_t OnBody(char* data, size_t size, size_t count, void* user) {
        auto* t = static_cast<Transfer*>(user);
        const size_t n = size * count;
        t->StartBody();
        const qint64 room = t->cap - t->body.size();
        if (static_cast<qint64>(n) > room) {
            t->body.append(data, static_cast<qsizetype>(std::max<qint64>(room, 0)));
            t->capped = true;
            return 0;  // stops the transfer
        }
        t->body.append(data, static_cast<qsizetype>(n));
        return n;
    }

    static size_t OnHeader(char* data, size_t size, size_t count, void* user) {
        auto* t = static_cast<Transfer*>(user);
        const size_t n = size * count;
        const QByteArray line(data, static_cast<qsizetype>(n));
        if (line.startsWith("HTTP/")) {
            const QList<QByteArray> parts = line.split(' ');
            t->status = parts.size() > 1 ? parts[1].toLong() : 0;
        } else if (line == "\r\n" || line == "\n") {
            // The end of a response's headers. Only the final response's start the body: an interim
            // reply (1xx) is followed by the real one, and so is a redirect.
            const bool interim = t->status >= 100 && t->status < 200;
            const bool redirect = t->status >= 300 && t->status < 400;
            if (!interim && !redirect) t->StartBody();
        }
        return n;
    }

    void StartBody() {
        if (bodyStarted) return;
        bodyStarted = true;
        bodyStartMs = clock->NowMs();
    }
};

// How one attempt ended: whether a reply came back (maybe incomplete) and what fell short.
struct AttemptOutcome {
    bool replied = false;
    NetFailure failure;
};

// Classifies a finished transfer. A body cut short by the server or by the size cap still counts as
// a reply.
AttemptOutcome Finished(CURLcode code, const Transfer& t, const char* errorBuffer) {
    const QString detail = QString::fromUtf8(errorBuffer);
    if (code == CURLE_OK) return {true, {}};
    if (t.capped)
        return {true,
                {NetError::SizeCap,
                 QStringLiteral("the reply is larger than %1 bytes; the rest was not read").arg(t.cap)}};
    if (t.bodyStarted && (code == CURLE_PARTIAL_FILE || code == CURLE_RECV_ERROR))
        return {true,
                {NetError::CutShort, detail.isEmpty() ? QStringLiteral("the reply ended early") : detail}};
    return {false, CurlFailure(code, detail)};
}

AttemptOutcome Attempt(const QString& url, double timeoutSeconds, const HttpLimits& limits, Transfer& t) {
    CURL* easy = curl_easy_init();
    CURLM* multi = easy ? curl_multi_init() : nullptr;
    if (!easy || !multi) {
        if (easy) curl_easy_cleanup(easy);
        return {false, {NetError::Other, QStringLiteral("cannot start a transfer")}};
    }
    char errorBuffer[CURL_ERROR_SIZE] = {};
    const QByteArray address = url.toUtf8();
    curl_slist* headers = nullptr;
    headers = curl_slist_append(headers, "Cache-Control: no-cache");
    headers = curl_slist_append(headers, "Pragma: no-cache");
    ApplyCurlPolicy(easy, CurlUse::Service, address);
    curl_easy_setopt(easy, CURLOPT_URL, address.constData());
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, kReadPiece);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Transfer::OnBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Transfer::OnHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &t);
    curl_multi_add_handle(multi, easy);

    // The open limit covers connecting too: libcurl's own connect time-out is left at its default, far
    // beyond it, so that one clock decides.
    const qint64 openStartMs = t.clock->NowMs();
    const qint64 timeoutMs = static_cast<qint64>(timeoutSeconds * 1000.0);
    AttemptOutcome outcome;
    for (;;) {
        int running = 0;
        const CURLMcode multiCode = curl_multi_perform(multi, &running);
        if (multiCode != CURLM_OK) {
            outcome.failure = {NetError::Other, QString::fromUtf8(curl_multi_strerror(multiCode))};
            break;
        }
        if (running == 0) {
            int left = 0;
            CURLcode code = CURLE_OK;
            while (CURLMsg* msg = curl_multi_info_read(multi, &left))
                if (msg->msg == CURLMSG_DONE) code = msg->data.result;
            outcome = Finished(code, t, errorBuffer);
            break;
        }
        if (t.bodyStarted) {
            if (t.clock->NowMs() - t.bodyStartMs > timeoutMs) {
                t.timedOut = true;
                outcome = {
                    true,
                    {NetError::TimedOut, QStringLiteral("the reply stopped coming; %1 bytes within %2 s")
                                             .arg(t.body.size())
                                             .arg(timeoutSeconds)}};
                break;
            }
        } else if (t.clock->NowMs() - openStartMs > limits.openMs) {
            outcome.failure = {NetError::TimedOut,
                               QStringLiteral("no reply within %1 ms").arg(limits.openMs)};
            break;
        }
        curl_multi_poll(multi, nullptr, 0, kPollMs, nullptr);
        PumpPendingEvents();
    }
    long status = 0;
    if (outcome.replied && curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK) {
        t.status = status;
        if (status >= 400)
            outcome.failure = {NetError::HttpStatus,
                               QStringLiteral("the server answered with status %1").arg(status)};
    }
    curl_multi_remove_handle(multi, easy);
    curl_easy_cleanup(easy);
    curl_multi_cleanup(multi);
    curl_slist_free_all(headers);
    return outcome;
}

}  // namespace

void PumpPendingEvents() {
    if (QCoreApplication::instance()) QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void WaitResponsive(int ms) {
    if (ms <= 0) {
        PumpPendingEvents();
        return;
    }
    if (!QCoreApplication::instance()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        return;
    }
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

HttpFetchResult HttpGetBytes(const QString& url, double timeoutSeconds, const HttpLimits& limits) {
    CurlGlobalInit();
    HttpFetchResult result;
    for (int attempt = 1; attempt <= 2; ++attempt) {
        result.attempts = attempt;
        Transfer t;
        t.cap = limits.maxReplyBytes;
        t.clock = limits.clock ? limits.clock : &platform::DefaultClock();
        AttemptOutcome r = Attempt(url, timeoutSeconds, limits, t);
        if (r.replied) {
            result.ok = true;
            result.body = std::move(t.body);
            result.timedOut = t.timedOut;
            result.capped = t.capped;
            result.status = static_cast<int>(t.status);
            result.failure = std::move(r.failure);
            if (result.failure.failed())
                qCDebug(lcWeb).noquote() << "GET" << url << "replied with"
                                         << NetErrorName(result.failure.kind) << "-" << result.failure.text;
            return result;
        }
        qCInfo(lcWeb).noquote() << "GET" << url << "attempt" << attempt
                                << "failed:" << NetErrorName(r.failure.kind) << "-" << r.failure.text;
        result.failure = std::move(r.failure);
        // A malformed address or a scheme that is not allowed fails the same way every time.
        if (result.failure.kind == NetError::BadAddress) break;
        if (attempt == 1) WaitResponsive(kPauseBetweenAttemptsMs);
    }
    return result;
}

QString HttpGetText(const QString& url, double timeoutSeconds, const HttpLimits& limits) {
    const HttpFetchResult r = HttpGetBytes(url, timeoutSeconds, limits);
    return r.ok ? util::FromAnsi(r.body) : QString();
}

}  // namespace pelio::web
