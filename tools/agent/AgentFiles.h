// The agent's side of the file exchange, for pelio-agent: offering files to the customer, answering
// the customer's offers, and fetching the files the customer sends.
//
// Offering (with a shared folder): "\offer FILE..." (paths; quote a path with blanks) sends
// "filename:" + CR LF + name for each file. When the customer accepts ("fileaccepted"), each file is
// copied into the shared folder, which the web site publishes at the shared address, and the agent
// sends "lastfile:" + the last name, then "downloadthis:" + shared address + name for each file.
// A refusal ("filerefused") drops the offer.
// Answering: with an answer set, a "filename:" offer of the customer is answered "fileaccepted" or
// "filerefused" at once; without one, the person at the agent types the answer.
// Fetching: each "downloadthis:ADDRESS" of the customer is fetched over HTTP on a thread of its own
// into the received folder.
// Lines printed: "offer accepted", "offer refused", "fetched NAME SIZE SHA256" (hexadecimal digest),
// "fetch failed ADDRESS: REASON".
#pragma once

#include "AgentCommands.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace pelio::agent {

struct FileOptions {
    QString answer;       // "accept", "refuse" or empty
    QString shareDir;     // the folder published at shareUrl; empty: \offer sends names only
    QString shareUrl;     // ends with "/"
    QString receivedDir;  // where fetched files are kept; empty: they are hashed and dropped
};

class AgentFiles {
  public:
    using Print = std::function<void(const std::string& line)>;

    AgentFiles(FileOptions options, Print print);
    ~AgentFiles();  // waits for the fetches still running
    AgentFiles(const AgentFiles&) = delete;
    AgentFiles& operator=(const AgentFiles&) = delete;

    bool Sharing() const { return !m_options.shareDir.isEmpty(); }
    // "\offer" with its arguments (after the command), when sharing.
    CommandMessages Offer(const QString& arguments);
    // A message from the customer: the messages to send in answer, in order.
    QStringList OnMessage(const QString& plain);

  private:
    QStringList Accepted();
    void Fetch(const QString& address);

    FileOptions m_options;
    Print m_print;
    QStringList m_offered;  // paths of the offer waiting for the customer's answer
    std::vector<std::thread> m_fetches;
};

// Fetches one address into a file (or nowhere, with an empty path): the SHA-256 digest in hexadecimal
// and the size, or the reason it failed.
struct FetchResult {
    bool ok = false;
    qint64 size = 0;
    std::string sha256;
    std::string error;
};
FetchResult FetchToFile(const QString& address, const QString& path);

}  // namespace pelio::agent
