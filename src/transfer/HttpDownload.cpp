#include "transfer/HttpDownload.h"

#include "transfer/TransferLog.h"
#include "util/core/PartFile.h"
#include "web/CurlSetup.h"

#include <QPointer>

#include <curl/curl.h>

#include <algorithm>
#include <chrono>

namespace pelio::transfer {

namespace {

// What the network library reads from the socket at a time: larger than its default, so that a fast
// link costs fewer calls.
constexpr long kReceiveBufferBytes = 256 * 1024;
// The longest the worker waits for the network before it looks at the clock again (Cancel wakes it
// at once).
constexpr int kPollMs = 1000;
// Progress reaches the owning thread at most this often (the end always shows the last figures): a
// window shows a percentage, and every event wakes its thread.
constexpr qint64 kProgressIntervalMs = 50;

qint64 NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

QByteArray DownloadAddressBytes(const QString& url) {
    static const QByteArray kEscaped = "\"<>\\^`{|}";
    QByteArray out;
    for (const char c : url.toUtf8()) {
        const auto b = static_cast<unsigned char>(c);
        if (b <= 0x20 || b >= 0x7F || kEscaped.contains(c)) {
            out += '%';
            out += QByteArray::number(b, 16).rightJustified(2, '0').toUpper();
        } else {
            out += c;
        }
    }
    return out;
}

// The worker's side of one transfer: the file being written and what the callbacks saw.
struct HttpDownload::Transfer {
    HttpDownload* owner;
    util::PartFile* file;
    qint64 received = 0;
    bool tooLarge = false;
    bool writeFailed = false;
    qint64 lastNoticeMs = 0;

    // Tells the owner that the figures changed, now when `now` or else when the last notice is old enough.
    void Notice(qint64 nowMs, bool now) {
        if (!now && nowMs - lastNoticeMs < kProgressIntervalMs) return;
        lastNoticeMs = nowMs;
        owner->PostProgress();
    }

    static size_t OnWrite(char* data, size_t size, size_t count, void* user) {
        auto* t = static_cast<Transfer*>(user);
        const qint64 n = qint64(size * count);
        if (t->owner->m_cancel.load()) return 0;
        // A server that announced no length is held to the limit here.
        if (t->received + n > t->owner->m_limits.maxBytes) {
            t->tooLarge = true;
            return 0;
        }
        if (!t->file->Write(data, n)) {
            t->writeFailed = true;
            return 0;
        }
        t->received += n;
        const qint64 nowMs = NowMs();
        t->owner->m_received.store(t->received);
        t->owner->m_lastArrivalMs.store(nowMs);
        t->Notice(nowMs, false);
        return size_t(n);
    }

    static int OnProgress(void* user, curl_off_t dltotal, curl_off_t, curl_off_t, curl_off_t) {
        auto* t = static_cast<Transfer*>(user);
        if (t->owner->m_cancel.load()) return 1;  // ends the transfer with CURLE_ABORTED_BY_CALLBACK
        if (qint64(dltotal) != t->owner->m_total.load()) {
            t->owner->m_total.store(qint64(dltotal));
            t->Notice(NowMs(), true);
        }
        return 0;
    }
};

HttpDownload::HttpDownload(QString url, QString localFile, const DownloadLimits& limits, QObject* parent)
    : QObject(parent), m_url(std::move(url)), m_localFile(std::move(localFile)), m_limits(limits) {}

HttpDownload::~HttpDownload() {
    m_cancel.store(true);
    Wake();
    if (m_thread.joinable()) m_thread.join();
}

void HttpDownload::Start() {
    if (m_state != State::Idle) return;
    m_state = State::Running;
    web::CurlGlobalInit();
    m_thread = std::thread([this] { Run(); });
}

void HttpDownload::Cancel() {
    if (m_state != State::Running) return;
    m_cancel.store(true);
    Wake();
}

void HttpDownload::SetWakeTarget(void* multi) {
    std::lock_guard<std::mutex> lock(m_wakeMutex);
    m_multi = multi;
}

void HttpDownload::Wake() {
    std::lock_guard<std::mutex> lock(m_wakeMutex);
    if (m_multi) curl_multi_wakeup(static_cast<CURLM*>(m_multi));
}

void HttpDownload::Run() {
    util::PartFile file(m_localFile);
    Transfer transfer{this, &file};
    CURLcode code = CURLE_OK;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    QString ownText;  // a failure of the program's own making
    bool stalled = false;

    CURL* easy = nullptr;
    CURLM* multi = nullptr;
    curl_slist* headers = nullptr;
    if (!file.Open()) {
        ownText = QStringLiteral("The local file cannot be created: ") + m_localFile;
    } else if (!(easy = curl_easy_init()) || !(multi = curl_multi_init())) {
        code = CURLE_FAILED_INIT;
    } else {
        const QByteArray address = DownloadAddressBytes(m_url);
        headers = curl_slist_append(headers, "Cache-Control: no-cache");
        headers = curl_slist_append(headers, "Pragma: no-cache");
        web::ApplyCurlPolicy(easy, web::CurlUse::Download, address);
        curl_easy_setopt(easy, CURLOPT_URL, address.constData());
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(easy, CURLOPT_FAILONERROR, 1L);
        curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(m_limits.maxBytes));
        curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, long(m_limits.connectMs));
        curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, long(m_limits.lowSpeedBytesPerSecond));
        curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, long(m_limits.lowSpeedSeconds));
        curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
        curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorBuffer);
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Transfer::OnWrite);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, &transfer);
        curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &Transfer::OnProgress);
        curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &transfer);
        curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);

        if (curl_multi_add_handle(multi, easy) != CURLM_OK) {
            code = CURLE_FAILED_INIT;
        } else {
            SetWakeTarget(multi);
            const int pollMs = std::clamp(m_limits.stallMs / 10, 10, kPollMs);
            m_lastArrivalMs.store(NowMs());
            for (int running = 1; running > 0;) {
                if (m_cancel.load()) {
                    code = CURLE_ABORTED_BY_CALLBACK;
                    break;
                }
                if (NowMs() - m_lastArrivalMs.load() > m_limits.stallMs) {
                    code = CURLE_OPERATION_TIMEDOUT;
                    stalled = true;
                    break;
                }
                if (curl_multi_perform(multi, &running) != CURLM_OK) {
                    code = CURLE_FAILED_INIT;
                    break;
                }
                if (running > 0) curl_multi_poll(multi, nullptr, 0, pollMs, nullptr);
            }
            int left = 0;
            while (CURLMsg* message = curl_multi_info_read(multi, &left))
                if (message->msg == CURLMSG_DONE && message->easy_handle == easy) code = message->data.result;
            SetWakeTarget(nullptr);
            curl_multi_remove_handle(multi, easy);
        }
    }

    const bool cancelled = m_cancel.load();
    web::NetFailure failure;
    if (!ownText.isEmpty()) {
        failure = {web::NetError::Other, ownText};
    } else if (code == CURLE_OK && !cancelled) {
        if (!file.Commit())
            failure = {web::NetError::Other,
                       QStringLiteral("The file cannot be put in place: ") + m_localFile};
    } else if (cancelled) {
        failure = {web::NetError::Other, QStringLiteral("The download was cancelled")};
    } else if (stalled && code == CURLE_OPERATION_TIMEDOUT) {
        failure = {web::NetError::TimedOut,
                   QStringLiteral("Nothing arrived for %1 s").arg(m_limits.stallMs / 1000.0)};
    } else if (transfer.tooLarge || code == CURLE_FILESIZE_EXCEEDED) {
        failure = {web::NetError::SizeCap,
                   QStringLiteral("The file is larger than %1 bytes").arg(m_limits.maxBytes)};
    } else if (transfer.writeFailed) {
        failure = {web::NetError::Other, QStringLiteral("The local file cannot be written: ") + m_localFile};
    } else {
        failure = web::CurlFailure(int(code), QString::fromUtf8(errorBuffer));
    }
    if (failure.failed()) file.Cancel();

    curl_slist_free_all(headers);
    if (multi) curl_multi_cleanup(multi);
    if (easy) curl_easy_cleanup(easy);

    m_failure = failure;
    m_cancelledResult = cancelled && failure.failed();
    QMetaObject::invokeMethod(
        this, [this] { DeliverEnd(); }, Qt::QueuedConnection);
}

void HttpDownload::PostProgress() {
    if (!m_progressPosted.exchange(true))
        QMetaObject::invokeMethod(
            this, [this] { DeliverProgress(); }, Qt::QueuedConnection);
}

void HttpDownload::DeliverProgress() {
    m_progressPosted.store(false);
    const qint64 received = m_received.load();
    const qint64 total = m_total.load();
    if (received == m_shownReceived && total == m_shownTotal) return;
    m_shownReceived = received;
    m_shownTotal = total;
    emit progress(received, total);
}

void HttpDownload::DeliverEnd() {
    if (m_thread.joinable()) m_thread.join();
    m_state = State::Finished;
    const QPointer<HttpDownload> alive(this);
    DeliverProgress();
    if (!alive) return;
    if (m_failure.failed())
        qCInfo(lcTransfer).noquote() << "download of" << m_url << "failed:" << m_failure.text;
    emit finished(!m_failure.failed(), m_failure.text);
}

}  // namespace pelio::transfer
