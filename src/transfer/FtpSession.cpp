#include "transfer/FtpSession.h"

#include "platform/Clock.h"
#include "web/CurlSetup.h"

#include <QRegularExpression>

#include <curl/curl.h>

#include <cctype>

namespace pelio::transfer {

namespace {

bool IsUnreserved(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

QByteArray Encoded(const QByteArray& segment) {
    QByteArray out;
    for (const char c : segment) {
        if (IsUnreserved(c)) {
            out += c;
        } else {
            out += '%';
            out += QByteArray::number(static_cast<unsigned char>(c), 16).rightJustified(2, '0').toUpper();
        }
    }
    return out;
}

// The URL of an absolute server path below base ("ftp://host:port/"). The first segment carries an
// encoded "/" so that libcurl changes to the absolute directory ("CWD /a") instead of one relative to
// the login directory.
QByteArray UrlOf(const QByteArray& base, const QByteArray& path) {
    const bool directory = path.endsWith('/');
    QByteArray url = base + "%2F";
    const QList<QByteArray> segments = path.split('/');
    bool first = true;
    for (const QByteArray& segment : segments) {
        if (segment.isEmpty()) continue;
        if (!first) url += '/';
        url += Encoded(segment);
        first = false;
    }
    if (first || directory) url += '/';
    return url;
}

bool IsReplyStart(const QByteArray& line) {
    return line.size() >= 4 && std::isdigit(static_cast<unsigned char>(line[0])) &&
           std::isdigit(static_cast<unsigned char>(line[1])) &&
           std::isdigit(static_cast<unsigned char>(line[2])) && (line[3] == ' ' || line[3] == '-');
}

}  // namespace

struct FtpSession::Impl {
    CURL* easy = nullptr;
    CURLM* multi = nullptr;  // holds the connection between requests
    QByteArray base;         // "ftp://host:port/"
    QByteArray user, password;
    bool active = false;
    FtpLimits limits;
    web::DropBoxTls tls;
    bool encrypted = false;  // the control connection runs TLS (known once a reply came)

    // The request that runs.
    const Request* request = nullptr;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    QList<QByteArray> replyLines;
    bool replyComplete = true;
    int replyCode = 0;
    int refusedCode = 0;  // the first reply of a command that was refused (4xx, 5xx)
    QByteArray refusedReply;
    qint64 lastMoved = -1;
    qint64 lastActivityMs = 0;
    qint64 deadlineMs = 0;  // 0: none
    bool stalled = false, aborted = false;

    const platform::Clock& Clock() const { return limits.clock ? *limits.clock : platform::DefaultClock(); }

    static size_t OnHeader(char* data, size_t size, size_t count, void* user) {
        auto* d = static_cast<Impl*>(user);
        const size_t n = size * count;
        QByteArray line(data, static_cast<qsizetype>(n));
        while (line.endsWith('\n') || line.endsWith('\r')) line.chop(1);
        d->lastActivityMs = d->Clock().NowMs();
        // The connection is only reachable from the handle while a request runs on it.
        const curl_tlssessioninfo* session = nullptr;
        if (curl_easy_getinfo(d->easy, CURLINFO_TLS_SSL_PTR, &session) == CURLE_OK && session)
            d->encrypted = session->backend != CURLSSLBACKEND_NONE && session->internals != nullptr;
        if (IsReplyStart(line)) {
            if (d->replyComplete) d->replyLines.clear();
            d->replyLines << line;
            d->replyCode = line.left(3).toInt();
            d->replyComplete = line[3] == ' ';
            if (d->replyComplete && d->replyCode >= 400 && d->refusedCode == 0) {
                d->refusedCode = d->replyCode;
                d->refusedReply = d->replyLines.join(' ');
            }
        } else if (!d->replyComplete) {
            d->replyLines << line;  // the middle of a reply of several lines
        }
        return n;
    }

    static size_t OnWrite(char* data, size_t size, size_t count, void* user) {
        auto* d = static_cast<Impl*>(user);
        const size_t n = size * count;
        if (d->request && d->request->write && !d->request->write(data, static_cast<qint64>(n))) {
            d->aborted = true;
            return 0;  // fails the transfer
        }
        return n;
    }

    static size_t OnRead(char* buffer, size_t size, size_t count, void* user) {
        auto* d = static_cast<Impl*>(user);
        if (!d->request || !d->request->read) return 0;
        const qint64 got = d->request->read(buffer, static_cast<qint64>(size * count));
        if (got < 0) {
            d->aborted = true;
            return CURL_READFUNC_ABORT;
        }
        return static_cast<size_t>(got);
    }

    static int OnProgress(void* user, curl_off_t, curl_off_t dlnow, curl_off_t, curl_off_t ulnow) {
        auto* d = static_cast<Impl*>(user);
        const qint64 now = d->Clock().NowMs();
        const qint64 moved = d->request && d->request->upload ? qint64(ulnow) : qint64(dlnow);
        if (moved != d->lastMoved) {
            d->lastMoved = moved;
            d->lastActivityMs = now;
        }
        if (now - d->lastActivityMs > d->limits.stallMs || (d->deadlineMs > 0 && now > d->deadlineMs)) {
            d->stalled = true;
            return 1;
        }
        if (d->request && d->request->progress && !d->request->progress(moved)) {
            d->aborted = true;
            return 1;
        }
        return 0;
    }

    // Runs the request to its end. The wait between steps is capped at a few milliseconds: libcurl's
    // own wait sometimes misses that a data connection's address is ready and sleeps a whole second.
    CURLcode PerformOnMulti() {
        if (curl_multi_add_handle(multi, easy) != CURLM_OK) return CURLE_FAILED_INIT;
        CURLcode code = CURLE_OK;
        for (int running = 1; running > 0;) {
            if (curl_multi_perform(multi, &running) != CURLM_OK) {
                code = CURLE_FAILED_INIT;
                break;
            }
            if (running > 0) curl_multi_poll(multi, nullptr, 0, 10, nullptr);
        }
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(multi, &left))
            if (message->msg == CURLMSG_DONE && message->easy_handle == easy) code = message->data.result;
        curl_multi_remove_handle(multi, easy);
        return code;
    }

    Result Run(const Request& r, const QByteArray& url) {
        curl_easy_reset(easy);  // options only: the connection stays open
        request = &r;
        errorBuffer[0] = 0;
        replyLines.clear();
        replyComplete = true;
        replyCode = 0;
        refusedCode = 0;
        refusedReply.clear();
        lastMoved = -1;
        lastActivityMs = Clock().NowMs();
        stalled = aborted = false;

        web::ApplyCurlPolicy(easy, web::CurlUse::DropBox, url);
        web::ApplyDropBoxTls(easy, tls);
        curl_easy_setopt(easy, CURLOPT_URL, url.constData());
        curl_easy_setopt(easy, CURLOPT_USERNAME, user.constData());
        curl_easy_setopt(easy, CURLOPT_PASSWORD, password.constData());
        // Over TLS the data connections are passive whatever was asked: a firewall cannot read the
        // encrypted PORT command to let the server's connection in, and libcurl 7.87 and 7.88 (Debian
        // 12) fail active data connections under TLS outright.
        curl_easy_setopt(easy, CURLOPT_FTPPORT, active && !encrypted ? "-" : nullptr);
        curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, long(limits.connectMs));
        curl_easy_setopt(easy, CURLOPT_ACCEPTTIMEOUT_MS, long(limits.connectMs));
        curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorBuffer);
        curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Impl::OnHeader);
        curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Impl::OnWrite);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
        curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &Impl::OnProgress);
        curl_easy_setopt(easy, CURLOPT_XFERINFODATA, this);
        curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(easy, CURLOPT_TRANSFERTEXT, r.ascii ? 1L : 0L);
        if (r.nobody) curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
        if (r.listNames) curl_easy_setopt(easy, CURLOPT_DIRLISTONLY, 1L);
        if (r.upload) {
            curl_easy_setopt(easy, CURLOPT_UPLOAD, 1L);
            curl_easy_setopt(easy, CURLOPT_INFILESIZE_LARGE, curl_off_t(r.uploadSize));
            curl_easy_setopt(easy, CURLOPT_READFUNCTION, &Impl::OnRead);
            curl_easy_setopt(easy, CURLOPT_READDATA, this);
        }
        if (r.uploadBufferBytes > 0)
            curl_easy_setopt(easy, CURLOPT_UPLOAD_BUFFERSIZE, long(r.uploadBufferBytes));
        curl_slist* commands = nullptr;
        // "*": libcurl goes on past a refused command instead of dropping the connection; the refusal
        // is read from the replies below.
        for (const QByteArray& c : r.commands) commands = curl_slist_append(commands, ('*' + c).constData());
        if (commands) curl_easy_setopt(easy, CURLOPT_QUOTE, commands);

        const CURLcode code = PerformOnMulti();
        curl_slist_free_all(commands);
        request = nullptr;

        Result result;
        result.code = int(code);
        result.replyCode = replyCode;
        result.reply = QString::fromLatin1(replyLines.join(' ')).simplified();
        result.stalled = stalled;
        result.aborted = aborted && !stalled;
        if (code == CURLE_OK && r.nobody) {
            curl_off_t size = -1;
            if (curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &size) == CURLE_OK)
                result.size = size;
        }
        if (code == CURLE_OK && !r.commands.isEmpty() && refusedCode != 0) {
            result.code = CURLE_QUOTE_ERROR;
            result.replyCode = refusedCode;
            result.reply = QString::fromLatin1(refusedReply).simplified();
            result.text = QStringLiteral("The server refused the command: ") + result.reply;
        }
        if (stalled) {
            result.code = CURLE_OPERATION_TIMEDOUT;
            result.text = deadlineMs > 0
                              ? QStringLiteral("The connection could not be made within %1 s")
                                    .arg(limits.connectMs / 1000.0)
                              : QStringLiteral("Nothing moved for %1 s").arg(limits.stallMs / 1000.0);
        } else if (aborted) {
            result.text = QStringLiteral("The request was stopped by its caller");
        } else if (code != CURLE_OK) {
            result.text =
                errorBuffer[0] ? QString::fromUtf8(errorBuffer) : QString::fromUtf8(curl_easy_strerror(code));
        }
        return result;
    }
};

FtpSession::FtpSession() : d(std::make_unique<Impl>()) {}

FtpSession::~FtpSession() {
    Close();
}

FtpSession::Result FtpSession::Open(const QString& server, const QByteArray& user, const QByteArray& password,
                                    bool activeMode, const FtpLimits& limits, const web::DropBoxTls& tls) {
    Close();
    web::CurlGlobalInit();
    Result result;
    d->easy = curl_easy_init();
    d->multi = curl_multi_init();
    if (!d->easy || !d->multi) {
        Close();
        result.code = CURLE_FAILED_INIT;
        result.text = QString::fromUtf8(curl_easy_strerror(CURLE_FAILED_INIT));
        return result;
    }
    // host, host:port, [v6] or [v6]:port; a name with anything else in it is no host.
    QString host = server.trimmed();
    QString port = QStringLiteral("21");
    if (host.startsWith(u'[')) {
        const qsizetype close = host.indexOf(u']');
        if (close > 0 && host.mid(close + 1).startsWith(u':')) port = host.mid(close + 2);
        if (close > 0) host = host.left(close + 1);
    } else if (host.count(u':') == 1) {
        port = host.section(u':', 1);
        host = host.section(u':', 0, 0);
    }
    bool numeric = false;
    const int portNumber = port.toInt(&numeric);
    static const QRegularExpression hostShape(QStringLiteral(R"(^(\[[0-9A-Fa-f:.]+\]|[A-Za-z0-9._-]+)$)"));
    if (!numeric || portNumber < 1 || portNumber > 65535 || !hostShape.match(host).hasMatch()) {
        Close();
        result.code = CURLE_URL_MALFORMAT;
        result.text = QStringLiteral("Not a server address: ") + server;
        return result;
    }
    d->base = QStringLiteral("ftp://%1:%2/").arg(host).arg(portNumber).toUtf8();
    d->user = user;
    d->password = password;
    d->active = activeMode;
    d->limits = limits;
    d->tls = tls;

    Request login;
    login.nobody = true;
    d->encrypted = false;
    d->deadlineMs = d->Clock().NowMs() + limits.connectMs;
    result = d->Run(login, d->base);
    d->deadlineMs = 0;
    if (!result.ok()) {
        Close();
        return result;
    }
    const char* entry = nullptr;
    if (curl_easy_getinfo(d->easy, CURLINFO_FTP_ENTRY_PATH, &entry) == CURLE_OK && entry && *entry)
        m_entryPath = ResolveFtpPath("/", entry);
    return result;
}

bool FtpSession::Encrypted() const {
    return d->easy && d->encrypted;
}

bool FtpSession::IsOpen() const {
    return d->easy != nullptr;
}

void FtpSession::Close() {
    if (d->multi) curl_multi_cleanup(d->multi);  // closes the connection it holds
    if (d->easy) curl_easy_cleanup(d->easy);
    d->multi = nullptr;
    d->easy = nullptr;
    m_entryPath = "/";
}

FtpSession::Result FtpSession::Perform(const Request& request) {
    if (!d->easy) {
        Result result;
        result.code = CURLE_FAILED_INIT;
        result.text = QStringLiteral("No connection is open");
        return result;
    }
    return d->Run(request, UrlOf(d->base, request.path));
}

QByteArray ResolveFtpPath(const QByteArray& from, const QByteArray& name) {
    QList<QByteArray> parts;
    const QByteArray whole = name.startsWith('/') ? name : from + '/' + name;
    for (const QByteArray& segment : whole.split('/')) {
        if (segment.isEmpty() || segment == ".") continue;
        if (segment == "..") {
            if (!parts.isEmpty()) parts.removeLast();
            continue;
        }
        parts << segment;
    }
    return '/' + parts.join('/');
}

}  // namespace pelio::transfer
