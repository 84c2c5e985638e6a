#include "ReferenceService.h"

#include "util/core/Ansi.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLoggingCategory>

#include <httplib.h>

#include <chrono>

namespace pelio::tools {

// The service's diagnostics, silent unless QT_LOGGING_RULES turns on "pelio.service".
Q_LOGGING_CATEGORY(lcService, "pelio.service", QtCriticalMsg)

namespace {

using namespace std::chrono_literals;

std::string Ansi(const QString& text) {
    const QByteArray b = util::ToAnsi(text);
    return std::string(b.constData(), static_cast<size_t>(b.size()));
}

std::string Utf8(const QString& text) {
    return text.toStdString();
}

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

const char* kText = "text/plain";
const char* kHtml = "text/html; charset=utf-8";

QString DefaultPage(const QString& title) {
    return QStringLiteral(
               "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>%1</title></head>"
               "<body><h1>%1</h1></body></html>")
        .arg(title.toHtmlEscaped());
}

// Waits in small steps until the service stops or `limit` passes.
void Idle(const std::atomic<bool>& stopping, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!stopping && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(20ms);
}

}  // namespace

ReferenceService::ReferenceService(QJsonObject data, QString filesFolder, TestEndpoints testEndpoints)
    : m_data(std::move(data)),
      m_files(std::move(filesFolder)),
      m_server(std::make_unique<httplib::Server>()) {
    Route(testEndpoints);
}

ReferenceService::~ReferenceService() {
    Stop();
}

QJsonObject ReferenceService::LoadData(const QString& path, QString* error) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        if (error) *error = QStringLiteral("cannot read %1").arg(path);
        return {};
    }
    QJsonParseError parse{};
    QJsonDocument doc = QJsonDocument::fromJson(f.readAll(), &parse);
    if (!doc.isObject()) {
        if (error) *error = parse.errorString();
        return {};
    }
    return doc.object();
}

int ReferenceService::Start(const QString& host, int port) {
    int bound = port == 0 ? m_server->bind_to_any_port(Utf8(host))
                          : (m_server->bind_to_port(Utf8(host), port) ? port : -1);
    if (bound <= 0) return 0;
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    // stop() only reaches a loop that runs: wait until it does (the socket already accepts meanwhile).
    for (int i = 0; i < 500 && !m_server->is_running(); ++i) std::this_thread::sleep_for(2ms);
    return bound;
}

void ReferenceService::Stop() {
    m_stopping = true;
    if (m_server) m_server->stop();
    if (m_thread.joinable()) m_thread.join();
}

std::vector<SeenRequest> ReferenceService::Requests() const {
    std::lock_guard lock(m_mutex);
    return {m_requests.begin(), m_requests.end()};
}

void ReferenceService::RecordBody(const httplib::Request& req) {
    // Requests are logged before their body is read; the handler that reads one adds it.
    std::lock_guard lock(m_mutex);
    for (auto it = m_requests.rbegin(); it != m_requests.rend(); ++it) {
        if (it->target == Q(req.target) && it->method == Q(req.method) && it->body.isEmpty()) {
            it->body = QByteArray(req.body.data(), static_cast<qsizetype>(req.body.size()));
            return;
        }
    }
}

void ReferenceService::Route(TestEndpoints testEndpoints) {
    httplib::Server& s = *m_server;

    s.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response&) {
        SeenRequest seen;
        seen.method = Q(req.method);
        seen.target = Q(req.target);
        seen.contentType = Q(req.get_header_value("Content-Type"));
        seen.userAgent = Q(req.get_header_value("User-Agent"));
        seen.cacheControl = Q(req.get_header_value("Cache-Control"));
        std::lock_guard lock(m_mutex);
        if (m_requests.size() >= kRequestLogLimit) m_requests.pop_front();
        m_requests.push_back(std::move(seen));
        return httplib::Server::HandlerResponse::Unhandled;
    });

    auto company = [this](const std::string& code) {
        return m_data.value(QStringLiteral("companies")).toObject().value(Q(code)).toObject();
    };
    auto page = [this](const char* name, const QString& title) {
        const QString html =
            m_data.value(QStringLiteral("pages")).toObject().value(QLatin1String(name)).toString();
        return Utf8(html.isEmpty() ? DefaultPage(title) : html);
    };

    // Company code check: "status#;#name#;#reason".
    s.Get("/pelio/pg/checkcodes.php", [company](const httplib::Request& req, httplib::Response& res) {
        const QJsonObject c = company(req.get_param_value("deptcode"));
        QString reply;
        if (c.isEmpty()) {
            qCDebug(lcService).noquote()
                << "checkcodes: unknown company" << Q(req.get_param_value("deptcode"));
            reply = QStringLiteral("-999");
        } else if (c.contains(QStringLiteral("checkReply"))) {
            reply = c.value(QStringLiteral("checkReply")).toString();
        } else {
            reply = c.value(QStringLiteral("status")).toString(QStringLiteral("1")) + QStringLiteral("#;#") +
                    c.value(QStringLiteral("name")).toString() + QStringLiteral("#;#") +
                    c.value(QStringLiteral("reason")).toString();
        }
        res.set_content(Ansi(reply), kText);
    });

    // Agent list: one record a line (CR LF between records), fields separated by "#;#".
    s.Get("/pelio/pg/getagents.php", [company](const httplib::Request& req, httplib::Response& res) {
        const QJsonObject c = company(req.get_param_value("deptcode"));
        QString reply;
        if (c.contains(QStringLiteral("agentReply"))) {
            reply = c.value(QStringLiteral("agentReply")).toString();
        } else {
            QStringList records;
            for (const QJsonValue& v : c.value(QStringLiteral("agents")).toArray()) {
                const QJsonObject a = v.toObject();
                QStringList fields;
                for (const char* key : {"name", "status", "publicAddress", "port", "localAddress", "info"})
                    fields << a.value(QLatin1String(key)).toString();
                // The agent's key pin, for programs that know the seventh field.
                if (a.contains(QStringLiteral("pin"))) fields << a.value(QStringLiteral("pin")).toString();
                records << fields.join(QStringLiteral("#;#"));
            }
            reply = records.join(QStringLiteral("\r\n"));
        }
        res.set_content(Ansi(reply), kText);
    });

    // Pages reached through the redirector: the company notice (posted) and the help page.
    auto redirect = [this, company, page](const httplib::Request& req, httplib::Response& res) {
        RecordBody(req);
        const std::string q = req.get_param_value("q");
        if (q == "remotenotice") {
            const QJsonObject c = company(req.get_param_value("id"));
            const QString notice = c.value(QStringLiteral("notice")).toString();
            res.set_content(Utf8(notice.isEmpty() ? DefaultPage(QStringLiteral("공지사항")) : notice), kHtml);
        } else if (q == "unlockuac") {
            res.set_content(page("unlockuac", QStringLiteral("사용자 계정 컨트롤")), kHtml);
        } else {
            res.status = 404;
            res.set_content(Utf8(DefaultPage(QStringLiteral("404"))), kHtml);
        }
    };
    s.Get("/pelio/pg/redirect.php", redirect);
    s.Post("/pelio/pg/redirect.php", redirect);

    s.Get("/pelio/firewall.htm", [page](const httplib::Request&, httplib::Response& res) {
        res.set_content(page("firewall", QStringLiteral("방화벽 안내")), kHtml);
    });
    s.Get("/pelio/", [page](const httplib::Request&, httplib::Response& res) {
        res.set_content(page("serviceHome", QStringLiteral("원격지원 서비스")), kHtml);
    });
    s.Get("/", [page](const httplib::Request&, httplib::Response& res) {
        res.set_content(page("home", QStringLiteral("홈페이지")), kHtml);
    });

    // The caller's public address.
    s.Get("/pg/getip.php", [this](const httplib::Request& req, httplib::Response& res) {
        QString address = m_data.value(QStringLiteral("publicAddress")).toString();
        if (address.isEmpty()) address = Q(req.remote_addr);
        res.set_content(Ansi(address), kText);
    });

    // Files of the drop box: userfiles/<company code>/<file name>, from the files folder. A symbolic
    // link is followed only as far as the files folder: what it reaches must lie inside.
    s.Get(R"(/userfiles/(.+))", [this](const httplib::Request& req, httplib::Response& res) {
        const QString path = Q(req.matches[1].str());
        const QStringList parts = path.split(u'/');
        bool safe = !m_files.isEmpty() && !parts.isEmpty();
        for (const QString& p : parts)
            if (p.isEmpty() || p == u'.' || p == QLatin1String("..") || p.contains(u'\\') ||
                p.contains(QChar(0)))
                safe = false;
        const QString root = QDir(m_files).canonicalPath();
        const QFileInfo info(QDir(m_files).filePath(parts.join(u'/')));
        const QString real = safe ? info.canonicalFilePath() : QString();
        const bool inside =
            !root.isEmpty() && !real.isEmpty() && real.startsWith(root.endsWith(u'/') ? root : root + u'/');
        QFile f(real);
        if (!inside || !info.isFile() || !f.open(QIODevice::ReadOnly)) {
            qCInfo(lcService).noquote() << "userfiles:" << path << "refused:"
                                        << (!safe            ? "not a plain path"
                                            : real.isEmpty() ? "no such file"
                                            : !inside        ? "outside the files folder"
                                                             : "not a readable file");
            res.status = 404;
            res.set_content("not found", kText);
            return;
        }
        const QByteArray bytes = f.readAll();
        res.set_content(std::string(bytes.constData(), static_cast<size_t>(bytes.size())),
                        "application/octet-stream");
    });

    if (testEndpoints == TestEndpoints::On) RouteTestEndpoints();
}

// Misbehaving endpoints for tests; left unrouted, their paths answer 404 like any unknown path.
void ReferenceService::RouteTestEndpoints() {
    httplib::Server& s = *m_server;
    s.Get("/_test/delay", [this](const httplib::Request& req, httplib::Response& res) {
        const int ms = std::atoi(req.get_param_value("ms").c_str());
        Idle(m_stopping, std::chrono::milliseconds(ms));
        res.set_content("delayed", kText);
    });
    s.Get("/_test/hang", [this](const httplib::Request& req, httplib::Response& res) {
        const size_t bytes =
            static_cast<size_t>(std::max(0, std::atoi(req.get_param_value("bytes").c_str())));
        res.set_content_provider(bytes + 1000, kText,
                                 [this, bytes](size_t offset, size_t, httplib::DataSink& sink) {
                                     if (offset < bytes) {
                                         const std::string first(bytes - offset, 'h');
                                         sink.write(first.data(), first.size());
                                         return true;
                                     }
                                     Idle(m_stopping, 60s);
                                     return false;
                                 });
    });
    s.Get("/_test/split-korean", [this](const httplib::Request&, httplib::Response& res) {
        auto text = std::make_shared<std::string>(Ansi(QStringLiteral("가나다라 똠햏뷁 원격지원 펠리오")));
        res.set_chunked_content_provider(kText, [this, text](size_t offset, httplib::DataSink& sink) {
            if (offset >= text->size()) {
                sink.done();
                return true;
            }
            // Three bytes a chunk, so every other chunk ends inside a double-byte character.
            const size_t n = std::min<size_t>(3, text->size() - offset);
            sink.write(text->data() + offset, n);
            Idle(m_stopping, 15ms);
            return true;
        });
    });
    s.Get("/_test/continue-stall", [this](const httplib::Request& req, httplib::Response& res) {
        const std::string ms = req.get_param_value("ms");
        const int wait = ms.empty() ? 60000 : std::atoi(ms.c_str());
        // The interim reply goes out as this response's status line and headers; its "body" is the
        // real reply, written raw after the wait.
        static const std::string real =
            "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 7\r\n\r\ndelayed";
        res.status = 100;
        res.set_content_provider(real.size(), kText, [this, wait](size_t, size_t, httplib::DataSink& sink) {
            Idle(m_stopping, std::chrono::milliseconds(wait));
            if (m_stopping) return false;
            sink.write(real.data(), real.size());
            return true;
        });
    });
    s.Get("/_test/error", [](const httplib::Request&, httplib::Response& res) {
        res.status = 500;
        res.set_content(Utf8(DefaultPage(QStringLiteral("500 Internal Server Error"))), kHtml);
    });
    s.Get("/_test/close-early", [](const httplib::Request&, httplib::Response& res) {
        res.set_content_provider(1000, kText, [](size_t offset, size_t, httplib::DataSink& sink) {
            if (offset > 0) return false;
            const std::string part(100, 'c');
            sink.write(part.data(), part.size());
            return true;
        });
    });
    s.Get("/_test/endless", [this](const httplib::Request&, httplib::Response& res) {
        res.set_chunked_content_provider(kText, [this](size_t offset, httplib::DataSink& sink) {
            constexpr size_t kLimit = size_t(1) << 30;  // stops by itself after 1 GiB
            if (m_stopping || offset >= kLimit || !sink.is_writable()) return false;
            static const std::string block(64 * 1024, 'x');
            sink.write(block.data(), block.size());
            return true;
        });
    });
    s.Get("/_test/exact", [](const httplib::Request& req, httplib::Response& res) {
        const int bytes = std::max(0, std::atoi(req.get_param_value("bytes").c_str()));
        res.set_content(std::string(static_cast<size_t>(bytes), 'a'), kText);
    });
    s.Get("/_test/requests", [this](const httplib::Request&, httplib::Response& res) {
        std::string out;
        for (const SeenRequest& r : Requests()) {
            QJsonObject o{{QStringLiteral("method"), r.method},
                          {QStringLiteral("target"), r.target},
                          {QStringLiteral("contentType"), r.contentType},
                          {QStringLiteral("bodyHex"), QString::fromLatin1(r.body.toHex())}};
            out += QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString() + "\n";
        }
        res.set_content(out, "application/x-ndjson");
    });
}

}  // namespace pelio::tools
