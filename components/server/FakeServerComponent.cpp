#include "server/FakeServerComponent.h"

namespace pelio::components {

void FakeServerComponent::SetFlag(int i, bool value) {
    m_flags[i] = value;
    calls << QStringLiteral("SetConfigFlag%1 %2").arg(i + 1).arg(value ? u"true" : u"false");
}

void FakeServerComponent::Start(int number) {
    calls << QStringLiteral("Start %1").arg(number);
    m_active = true;
}

void FakeServerComponent::Stop() {
    calls << QStringLiteral("Stop");
    m_active = false;
    m_recording = false;
    shownMonitor = 0;
    for (auto& [index, connection] : m_connections) connection->deleteLater();
    m_connections.clear();
}

bool FakeServerComponent::Connect(const QString& address, int port) {
    calls << QStringLiteral("Connect %1 %2").arg(address).arg(port) +
                 (AgentPin().isEmpty() ? QString() : QStringLiteral(" pin ") + AgentPin());
    const bool ok = m_active && connectResult;
    m_lastFailure = ok ? ConnectFailure::None : connectFailure;
    return ok;
}

ServerConnection* FakeServerComponent::Client(int index) {
    calls << QStringLiteral("Client %1").arg(index);
    const auto it = m_connections.find(index);
    return it == m_connections.end() ? &m_inert : it->second;
}

void FakeServerComponent::Send(int target, const QString& text) {
    calls << QStringLiteral("Send %1 %2").arg(target).arg(text);
    // As the real component: texts reach the agent only from an active component, to target 0.
    if (m_active && target == 0) sent << text;
}

void FakeServerComponent::StartRecording(const QString& path) {
    calls << QStringLiteral("StartRecording %1").arg(path);
    recordingPath = path;
    m_recording = m_active;
}

void FakeServerComponent::StopRecording() {
    calls << QStringLiteral("StopRecording");
    m_recording = false;
}

bool FakeServerComponent::ShowMonitor(int index) {
    calls << QStringLiteral("ShowMonitor %1").arg(index);
    if (!m_active || index < 0 || index > monitors.size()) return false;
    shownMonitor = index;
    return true;
}

void FakeServerComponent::SimulateMonitorsChanged(const QList<QRect>& list) {
    const QRect shown = shownMonitor > 0 ? monitors.value(shownMonitor - 1) : QRect();
    monitors = list;
    shownMonitor = shown.isNull() ? 0 : int(monitors.indexOf(shown)) + 1;
    emit MonitorsChanged();
}

int FakeServerComponent::SimulateConnected(const QString& address) {
    const int index = m_nextIndex++;
    m_connections[index] =
        new FakeServerConnection(address, AgentPin().isEmpty() ? QString() : checkCode, this);
    emit Connected(index);
    return index;
}

void FakeServerComponent::SimulateText(const QString& text, int index) {
    emit TextReceived(index, text, int(text.toUtf8().size()));
}

void FakeServerComponent::SimulateDisconnected(int index) {
    emit Disconnected(index);
}

}  // namespace pelio::components
