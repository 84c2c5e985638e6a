// A server component for the program's tests: it records every call in order and lets the test
// raise the events and choose the results. Events are emitted directly (the test runs on the UI
// thread), so a handler has run when the Simulate call returns. It keeps the contract of
// ServerComponent.h as the real component does: events only for links of the running session, texts
// of the agent only once its link is admitted, and texts sent before the first admission held back.
#pragma once

#include "server/ServerComponent.h"

#include <QStringList>

#include <map>
#include <memory>
#include <set>

namespace pelio::components {

class FakeServerConnection : public ServerConnection {
    Q_OBJECT
  public:
    explicit FakeServerConnection(QString address, QString checkCode = QString(), QObject* parent = nullptr)
        : ServerConnection(parent), m_address(std::move(address)), m_checkCode(std::move(checkCode)) {}
    QString Address() const override { return m_address; }
    QString CheckCode() const override { return m_checkCode; }
    bool Allowed() const override { return m_allowed; }
    // As the real connection: admission cannot be taken back, and a busy agent's link ("0.0.0.0")
    // keeps the flag but passes nothing.
    void SetAllowed(bool allowed) override;

  signals:
    void Admitted();

  private:
    QString m_address;
    QString m_checkCode;
    bool m_allowed = false;
};

// What Client gives for an index it does not know: no address, and admission is ignored.
class InertServerConnection : public ServerConnection {
    Q_OBJECT
  public:
    using ServerConnection::ServerConnection;
    QString Address() const override { return QString(); }
    bool Allowed() const override { return false; }
    void SetAllowed(bool) override {}
};

class FakeServerComponent : public ServerComponent {
    Q_OBJECT
  public:
    using ServerComponent::ServerComponent;

    bool ConfigFlag1() const override { return m_flags[0]; }
    void SetConfigFlag1(bool value) override { SetFlag(0, value); }
    bool ConfigFlag2() const override { return m_flags[1]; }
    void SetConfigFlag2(bool value) override { SetFlag(1, value); }
    bool ConfigFlag3() const override { return m_flags[2]; }
    void SetConfigFlag3(bool value) override { SetFlag(2, value); }
    bool ConfigFlag4() const override { return m_flags[3]; }
    void SetConfigFlag4(bool value) override { SetFlag(3, value); }

    bool Active() const override { return m_active; }
    void Start(int number) override;
    void Stop() override;
    bool Connect(const QString& address, int port) override;
    ServerConnection* Client(int index) override;
    void Send(int target, const QString& text) override;
    void StartRecording(const QString& path) override;
    void StopRecording() override;
    bool Recording() const override { return m_recording; }
    void SetClipboardSharing(bool on) override {
        ServerComponent::SetClipboardSharing(on);
        calls << QStringLiteral("SetClipboardSharing %1")
                     .arg(on ? QStringLiteral("true") : QStringLiteral("false"));
    }
    // The monitors the test set; "ShowMonitor N" is recorded for every call.
    QList<QRect> Monitors() const override { return monitors; }
    bool ShowMonitor(int index) override;

    // Every call as one line, for instance "Start 18925", "Connect 10.0.0.1 5500", "Send 0 text",
    // "SetConfigFlag2 true", "StartRecording /path", "Client 1",
    // "SetClipboardSharing false".
    QStringList calls;
    // The texts that Send delivered (active component, target 0), in order; texts sent before the
    // session's first admitted link are added when it is admitted.
    QStringList sent;
    // Result of the next Connect calls, and the failure they report when false.
    bool connectResult = true;
    ConnectFailure connectFailure = ConnectFailure::Unreachable;
    // The check code of the connections made while an agent pin is set (a plain link has none).
    QString checkCode = QStringLiteral("123 456");
    ConnectFailure LastConnectFailure() const override { return m_lastFailure; }
    QString recordingPath;
    QList<QRect> monitors;
    int shownMonitor = 0;  // the index of the last ShowMonitor that succeeded

    // Raises Connected for a new connection whose Address is `address`; returns its index (-1, and
    // nothing raised, while inactive).
    int SimulateConnected(const QString& address);
    // The agent of link `index` sends a text: TextReceived only for an admitted link of this session.
    void SimulateText(const QString& text, int index = 1);
    // The agent of link `index` leaves: Disconnected once, only for a link of this session.
    void SimulateDisconnected(int index = 1);
    // Sets the monitors and raises MonitorsChanged; a monitor no longer listed falls back to 0.
    void SimulateMonitorsChanged(const QList<QRect>& list);
    // Raises Disconnected for a link whose connection was lost (LinkLost is true for it).
    void SimulateLost(int index = 1);
    bool LinkLost(int index) const override { return m_lost.count(index) > 0; }

  private:
    void SetFlag(int i, bool value);
    bool m_flags[4] = {false, false, false, false};
    bool m_active = false;
    bool m_recording = false;
    ConnectFailure m_lastFailure = ConnectFailure::None;
    bool m_admitted = false;  // a link of this session was admitted: texts pass at once
    QStringList m_waiting;    // texts sent before that
    int m_nextIndex = 1;
    std::map<int, FakeServerConnection*> m_connections;  // the links of this session
    std::set<int> m_left;                                // those whose agent left
    std::set<int> m_lost;                                // those whose connection was lost
    InertServerConnection m_inert;
};

}  // namespace pelio::components
