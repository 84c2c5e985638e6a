#include "server/FakeServerComponent.h"

namespace pelio::components {

void FakeServerConnection::SetAllowed(bool allowed) {
    // A busy agent's link is never admitted.
    if (!allowed || m_allowed || m_address == QLatin1String("0.0.0.0")) return;
    m_allowed = true;
    emit Admitted();
}

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
    m_admitted = false;
    m_waiting.clear();
    for (auto& [index, connection] : m_connections) connection->deleteLater();
    m_connections.clear();
    m_left.clear();
    m_lost.clear();
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
    if (it == m_connections.end()) return &m_inert;
    return it->second;
}

void FakeServerComponent::Send(int target, const QString& text) {
    calls << QStringLiteral("Send %1 %2").arg(target).arg(text);
    // As the real component: texts reach the agent only from an active component, to target 0, and
    // wait until the agent is admitted.
    if (!m_active || target != 0) return;
    if (m_admitted)
        sent << text;
    else
        m_waiting << text;
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
    if (!m_active) return -1;
    const int index = m_nextIndex++;
    auto* connection = new FakeServerConnection(address, AgentPin().isEmpty() ? QString() : checkCode, this);
    m_connections[index] = connection;
    connect(connection, &FakeServerConnection::Admitted, this, [this] {
        if (m_admitted) return;
        m_admitted = true;
        sent << m_waiting;
        m_waiting.clear();
    });
    emit Connected(index);
    return index;
}

void FakeServerComponent::SimulateText(const QString& text, int index) {
    const auto it = m_connections.find(index);
    if (it == m_connections.end() || m_left.count(index) || !it->second->Allowed()) return;
    emit TextReceived(index, text, int(text.toUtf8().size()));
}

void FakeServerComponent::SimulateDisconnected(int index) {
    // The object stays valid until Stop, as the real one does; the event is raised once.
    if (!m_connections.count(index) || !m_left.insert(index).second) return;
    emit Disconnected(index);
}

void FakeServerComponent::SimulateLost(int index) {
    m_lost.insert(index);
    emit Disconnected(index);
}

}  // namespace pelio::components
