#include "viewer/FakeViewerComponent.h"

namespace pelio::components {

namespace {

QString Word(bool value) {
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

}  // namespace

void FakeViewerComponent::SetFlag(int i, bool value) {
    m_flags[i] = value;
    calls << QStringLiteral("SetViewFlag%1 %2").arg(i + 1).arg(Word(value));
}

void FakeViewerComponent::SetAccessCode(const QString& code) {
    m_accessCode = code;
    calls << QStringLiteral("SetAccessCode ") + code;
}

void FakeViewerComponent::Connect(const QString& address, int port, const QString& text) {
    calls << QStringLiteral("Connect %1 %2 %3").arg(address).arg(port).arg(text);
    m_connected = false;
}

void FakeViewerComponent::SetAllowControl(bool allow) {
    m_allowControl = allow;
    calls << QStringLiteral("SetAllowControl ") + Word(allow);
}

void FakeViewerComponent::SetWindowActive(bool active) {
    ++windowActiveWrites;
    if (active != m_windowActive) calls << QStringLiteral("SetWindowActive ") + Word(active);
    m_windowActive = active;
}

void FakeViewerComponent::Shutdown() {
    calls << QStringLiteral("Shutdown");
}

void FakeViewerComponent::Disconnect() {
    calls << QStringLiteral("Disconnect");
    m_connected = false;
}

void FakeViewerComponent::SimulateViewClosed() {
    m_connected = false;
    emit ViewClosed();
}

}  // namespace pelio::components
