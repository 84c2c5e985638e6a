#include "AgentFiles.h"

#include "session/SessionMessages.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>

#include <curl/curl.h>

#include <utility>

namespace pelio::agent {

namespace {

struct Sink {
    QFile* file = nullptr;
    QCryptographicHash hash{QCryptographicHash::Sha256};
    qint64 size = 0;
};

size_t Write(char* data, size_t, size_t count, void* user) {
    auto* sink = static_cast<Sink*>(user);
    sink->hash.addData(QByteArrayView(data, qsizetype(count)));
    sink->size += qint64(count);
    if (sink->file && sink->file->write(data, qint64(count)) != qint64(count)) return 0;
    return count;
}

}  // namespace

FetchResult FetchToFile(const QString& address, const QString& path) {
    FetchResult result;
    // The customer's program sends the address as it is, blanks and Hangul included.
    const QByteArray url = QUrl(address, QUrl::TolerantMode).toEncoded();
    QFile file(path);
    Sink sink;
    if (!path.isEmpty()) {
        if (!file.open(QIODevice::WriteOnly)) {
            result.error = "cannot write " + path.toStdString();
            return result;
        }
        sink.file = &file;
    }
    CURL* curl = curl_easy_init();
    if (!curl) {
        result.error = "no curl";
        return result;
    }
    char error[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(curl, CURLOPT_URL, url.constData());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 10L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, 30L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Write);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
    const CURLcode code = curl_easy_perform(curl);
    curl_easy_cleanup(curl);
    if (sink.file) file.close();
    if (code != CURLE_OK) {
        result.error = error[0] ? error : curl_easy_strerror(code);
        if (!path.isEmpty()) QFile::remove(path);
        return result;
    }
    result.ok = true;
    result.size = sink.size;
    result.sha256 = sink.hash.result().toHex().toStdString();
    return result;
}

AgentFiles::AgentFiles(FileOptions options, Print print)
    : m_options(std::move(options)), m_print(std::move(print)) {
    curl_global_init(CURL_GLOBAL_DEFAULT);
}

AgentFiles::~AgentFiles() {
    for (std::thread& fetch : m_fetches) fetch.join();
}

CommandMessages AgentFiles::Offer(const QString& arguments) {
    CommandMessages result;
    const QStringList paths = QProcess::splitCommand(arguments);
    if (paths.isEmpty()) {
        result.error = QStringLiteral("\\offer needs one or more files");
        return result;
    }
    QStringList names;
    for (const QString& path : paths) {
        if (!QFileInfo(path).isFile()) {
            result.error = QStringLiteral("\\offer: no such file: ") + path;
            return result;
        }
        names << QFileInfo(path).fileName();
    }
    m_offered = paths;
    result.messages.push_back({session::FileOfferMessage(names), 0});
    return result;
}

QStringList AgentFiles::Accepted() {
    QStringList messages;
    const QStringList paths = std::exchange(m_offered, {});
    if (paths.isEmpty()) return messages;
    QDir().mkpath(m_options.shareDir);
    QStringList names;
    for (const QString& path : paths) {
        const QString name = QFileInfo(path).fileName();
        const QString target = QDir(m_options.shareDir).filePath(name);
        QFile::remove(target);
        if (!QFile::copy(path, target)) {
            m_print("share failed " + name.toStdString());
            continue;
        }
        names << name;
    }
    if (names.isEmpty()) return messages;
    messages << session::LastFileMessage(names.last());
    for (const QString& name : names) messages << session::DownloadThisMessage(m_options.shareUrl + name);
    return messages;
}

QStringList AgentFiles::OnMessage(const QString& plain) {
    const session::SessionMessage message = session::SplitMessage(plain);
    namespace keyword = session::keyword;
    const QString& k = message.keyword;
    if (k == keyword::kFileAccepted) {
        m_print("offer accepted");
        return Accepted();
    }
    if (k == keyword::kFileRefused) {
        m_print("offer refused");
        m_offered.clear();
        return {};
    }
    if (k == keyword::kFileName) {
        if (m_options.answer == u"accept") return {keyword::kFileAccepted};
        if (m_options.answer == u"refuse") return {keyword::kFileRefused};
        return {};
    }
    if (k == keyword::kDownloadThis && !message.argument.isEmpty()) Fetch(message.argument);
    return {};
}

void AgentFiles::Fetch(const QString& address) {
    const QString name = QUrl(address, QUrl::TolerantMode).fileName();
    QString path;
    if (!m_options.receivedDir.isEmpty() && !name.isEmpty()) {
        QDir().mkpath(m_options.receivedDir);
        path = QDir(m_options.receivedDir).filePath(name);
    }
    m_fetches.emplace_back([this, address, name, path] {
        const FetchResult result = FetchToFile(address, path);
        if (result.ok)
            m_print("fetched " + name.toStdString() + ' ' + std::to_string(result.size) + ' ' +
                    result.sha256);
        else
            m_print("fetch failed " + address.toStdString() + ": " + result.error);
    });
}

}  // namespace pelio::agent
