#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <atomic>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace httplib {
class Server;
struct Request;
}  // namespace httplib

// The reference web service: every endpoint the program uses, served from a data file, plus, when asked
// for, a few misbehaving endpoints for tests. Text replies are in code page 949 like the real service;
// HTML pages are UTF-8 and say so.
//
// Data file (JSON):
//   {
//     "publicAddress": "123.45.67.89",              reply of pg/getip.php
//     "pages": { "home": "<html>", "serviceHome": "...", "firewall": "...", "unlockuac": "..." },
//     "companies": {
//       "1234": {
//         "status": "1", "name": "펠리오 상사", "reason": "",   the code-check reply fields
//         "checkReply": "...",                      optional: the whole code-check reply instead
//         "notice": "<html>...",                    the company notice page
//         "agents": [ { "name", "status", "publicAddress", "port", "localAddress", "info", "pin" } ],
//                                                   ("pin", optional: the agent's key pin, the seventh
//                                                   field of its record)
//         "agentReply": "..."                       optional: the whole agent-list reply instead
//       }
//     }
//   }
// An unknown company code gets "-999" from the code check and an empty agent list.
//
// Endpoints under /_test/ exist only when the service is made with TestEndpoints::On (pelio-service
// --test); otherwise those paths answer 404 like any unknown path. They misbehave on request:
//   delay?ms=N              waits N ms before the status line, then answers "delayed"
//   hang?bytes=N            sends N bytes of a longer body, then sends nothing more
//   continue-stall?ms=N     sends an interim "100 Continue" at once, the real reply's headers after N ms
//                           (default: a minute)
//   split-korean            sends Korean text in chunks that cut double-byte characters in two
//   error                   answers 500 with an HTML error page
//   close-early             promises 1000 bytes, sends 100, closes the connection
//   endless                 streams a body that never ends (until the client goes)
//   exact?bytes=N           a body of exactly N bytes of "a"
//   requests                the requests in the request log, oldest first, one JSON object a line
//
// Every request is logged (method, target, some headers, the body where a handler reads one), test
// endpoints or not; the log keeps the latest kRequestLogLimit requests and drops older ones first, so
// that a long-running service stays within bounded memory.
namespace pelio::tools {

struct SeenRequest {
    QString method;
    QString target;  // path and query as sent
    QString contentType;
    QString userAgent;
    QString cacheControl;
    QByteArray body;
};

class ReferenceService {
  public:
    enum class TestEndpoints { Off, On };
    static constexpr std::size_t kRequestLogLimit = 10000;

    // Serves `data` (see above) and userfiles/ from `filesFolder` (none when empty); the /_test/
    // endpoints only with TestEndpoints::On.
    explicit ReferenceService(QJsonObject data, QString filesFolder = QString(),
                              TestEndpoints testEndpoints = TestEndpoints::Off);
    ~ReferenceService();
    ReferenceService(const ReferenceService&) = delete;
    ReferenceService& operator=(const ReferenceService&) = delete;

    // Starts serving on host:port (port 0 picks a free one) in a thread of its own; returns the port,
    // or 0 when it could not listen.
    int Start(const QString& host = QStringLiteral("127.0.0.1"), int port = 0);
    void Stop();

    // The request log, oldest first: at most the latest kRequestLogLimit requests. Safe from any thread.
    std::vector<SeenRequest> Requests() const;

    // Reads a data file; an unreadable or malformed file gives an empty object.
    static QJsonObject LoadData(const QString& path, QString* error = nullptr);

  private:
    void Route(TestEndpoints testEndpoints);
    void RouteTestEndpoints();
    void RecordBody(const httplib::Request& req);

    QJsonObject m_data;
    QString m_files;
    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    std::atomic<bool> m_stopping{false};
    mutable std::mutex m_mutex;
    std::deque<SeenRequest> m_requests;
};

}  // namespace pelio::tools
