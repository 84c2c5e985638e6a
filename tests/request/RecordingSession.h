#pragma once

#include "session/SessionSeam.h"

#include <QStringList>

#include <vector>

namespace pelio::test {

// The session as the agent list window sees it, for tests: answers from fields the test sets and
// records every call ("OpenSession ADDRESS PORT", "CloseSession"; connect requests whole).
class RecordingSession : public session::SessionSeam {
  public:
    bool openResult = false;
    bool connected = false;
    qint64 seconds = 0;
    QStringList calls;
    std::vector<session::ConnectRequest> connects;

    void RequestConnect(const session::ConnectRequest& request) override { connects.push_back(request); }
    bool OpenSession(const QString& address, int port) override {
        calls << QStringLiteral("OpenSession %1 %2").arg(address).arg(port);
        connected = openResult;
        return openResult;
    }
    bool bConnected() const override { return connected; }
    qint64 ConnectedSeconds() const override { return seconds; }
    void CloseSession() override {
        calls << QStringLiteral("CloseSession");
        connected = false;
    }
    void EndSession() override { calls << QStringLiteral("EndSession"); }
    void ShowChat() override { calls << QStringLiteral("ShowChat"); }
    void SetClipboardSharing(bool on) override {
        calls << QStringLiteral("SetClipboardSharing %1")
                     .arg(on ? QStringLiteral("on") : QStringLiteral("off"));
    }
};

}  // namespace pelio::test
