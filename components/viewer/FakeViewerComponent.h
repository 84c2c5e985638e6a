// A viewer component for the program's tests: it records every call in order and lets the test decide
// when the view counts as connected and raise the events. Events are emitted directly (the test runs on
// the UI thread), so a handler has run when the Simulate call returns.
#pragma once

#include "viewer/ViewerComponent.h"

#include <QStringList>

namespace pelio::components {

class FakeViewerComponent : public ViewerComponent {
    Q_OBJECT
  public:
    using ViewerComponent::ViewerComponent;

    bool ViewFlag1() const override { return m_flags[0]; }
    void SetViewFlag1(bool value) override { SetFlag(0, value); }
    bool ViewFlag2() const override { return m_flags[1]; }
    void SetViewFlag2(bool value) override { SetFlag(1, value); }
    QString AccessCode() const override { return m_accessCode; }
    void SetAccessCode(const QString& code) override;
    void Connect(const QString& address, int port, const QString& text) override;
    bool IsConnected() const override { return m_connected; }
    bool AllowControl() const override { return m_allowControl; }
    void SetAllowControl(bool allow) override;
    bool WindowActive() const override { return m_windowActive; }
    void SetWindowActive(bool active) override;
    void Shutdown() override;
    void Disconnect() override;

    // Every call as one line, for instance "SetViewFlag1 false", "SetAccessCode CODE",
    // "Connect 10.0.0.1 5901 ", "SetAllowControl true", "Shutdown", "Disconnect". SetWindowActive is
    // noted only when it changes the value ("SetWindowActive true"); windowActiveWrites counts every call.
    QStringList calls;
    int windowActiveWrites = 0;

    // The background connection: after a Connect, the view becomes connected (IsConnected true) when
    // the test says so; Disconnect ends it.
    void SetConnected(bool connected) { m_connected = connected; }
    void SimulateViewConnected() { emit ViewConnected(); }
    void SimulateViewClosed();

  private:
    void SetFlag(int i, bool value);
    bool m_flags[2] = {true, true};
    QString m_accessCode;
    bool m_connected = false;
    bool m_allowControl = false;
    bool m_windowActive = false;
};

}  // namespace pelio::components
