#include "playback/FakePlaybackComponent.h"

namespace pelio::components {

void FakePlaybackComponent::SetOpenResult(bool ok, OpenError error) {
    m_openOk = ok;
    m_openError = error;
}

void FakePlaybackComponent::SetLengthOnOpen(qint64 length) {
    m_lengthOnOpen = length;
}

bool FakePlaybackComponent::OpenRecording(const QString& path) {
    m_calls << QStringLiteral("OpenRecording(%1)").arg(path);
    if (!m_openOk) {
        m_lastError = m_openError;
        m_openedPath.clear();
        m_length = m_position = 0;
        m_startTime = -1;
        m_playState = Stopped;
        return false;
    }
    m_lastError = OpenError::None;
    m_openedPath = path;
    m_length = m_lengthOnOpen;
    m_startTime = m_startTimeOnOpen;
    m_position = 0;
    m_playState = Stopped;
    return true;
}

void FakePlaybackComponent::CloseRecording() {
    m_calls << QStringLiteral("CloseRecording()");
    m_openedPath.clear();
    m_length = m_position = 0;
    m_startTime = -1;
    m_playState = Stopped;
}

void FakePlaybackComponent::SetPosition(qint64 position) {
    m_calls << QStringLiteral("Position=%1").arg(position);
    m_position = position;
}

void FakePlaybackComponent::SetPlayState(int state) {
    m_calls << QStringLiteral("PlayState=%1").arg(state);
    if (state < Playing || state > Stopped) return;
    if (state == Stopped) m_position = 0;
    if (state != m_playState) {
        m_playState = state;
        emit PlayStateChanged(state);
    }
}

void FakePlaybackComponent::SetSpeed(double speed) {
    m_calls << QStringLiteral("Speed=%1").arg(speed);
    if (speed >= MinSpeed && speed <= MaxSpeed) m_speed = speed;
}

void FakePlaybackComponent::SetStretchView(bool stretch) {
    m_calls << QStringLiteral("StretchView=%1").arg(stretch ? 1 : 0);
    m_stretch = stretch;
}

void FakePlaybackComponent::SetAutoScrollView(bool autoScroll) {
    m_calls << QStringLiteral("AutoScrollView=%1").arg(autoScroll ? 1 : 0);
    m_autoScroll = autoScroll;
}

}  // namespace pelio::components
