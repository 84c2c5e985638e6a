#include "history/PlaybackControl.h"

#include "history/HistoryLog.h"
#include "playback/PlaybackComponent.h"

#include <algorithm>

namespace pelio::history {

using components::PlaybackComponent;

PlaybackControl::Controls PlaybackControl::ControlsIn(State state) {
    switch (state) {
        case State::NoRecording:
            return {};
        case State::Stopped:
            return {.play = true, .pause = false, .slider = true, .timer = false};
        case State::Playing:
        case State::Seeking:
            return {.play = false, .pause = true, .slider = true, .timer = true};
        case State::Paused:
            return {.play = true, .pause = false, .slider = true, .timer = true};
    }
    return {};
}

PlaybackControl::PlaybackControl(PlaybackComponent& component, View& view)
    : m_component(component), m_view(view) {}

void PlaybackControl::Enter(State state, bool moveFocus) {
    m_state = state;
    m_view.ShowState(state, moveFocus);
}

bool PlaybackControl::Open(const QString& path) {
    if (m_state == State::Playing) Stop();
    if (!m_component.OpenRecording(path)) {
        qCWarning(lcHistory) << "cannot open recording" << path << "error"
                             << static_cast<int>(m_component.LastOpenError());
        // The component let go of the recording it held before it tried this one: nothing is left.
        m_length = 0;
        m_path.clear();
        m_view.ShowLength(0);
        Enter(State::NoRecording, false);
        m_view.ReportOpenFailure(path);
        return false;
    }
    m_length = m_component.Length();
    m_path = path;
    m_view.ShowLength(m_length);
    qCInfo(lcHistory).noquote() << "recording opened" << path << m_length << "long";
    m_state = State::Stopped;
    Play();
    return true;
}

void PlaybackControl::Play() {
    if (m_state == State::NoRecording || m_state == State::Playing) return;
    m_component.SetPlayState(PlaybackComponent::Playing);
    Enter(State::Playing, true);
}

void PlaybackControl::Pause() {
    if (m_state != State::Playing && m_state != State::Seeking) return;
    m_component.SetPlayState(PlaybackComponent::Paused);
    Enter(State::Paused, true);
}

void PlaybackControl::Stop() {
    m_component.SetPlayState(PlaybackComponent::Stopped);
    Enter(State::Stopped, false);
}

void PlaybackControl::Tick() {
    if (m_state != State::Playing) return;
    const qint64 position = m_component.Position();
    // A position outside the recording counts as the end, as a failed read would.
    const bool inside = position >= 0 && position <= m_length;
    if (inside) m_view.ShowPosition(position);
    if (inside && position < m_length - kEndMargin) return;

    m_component.SetPlayState(PlaybackComponent::Stopped);
    m_view.ShowPosition(0);
    Enter(State::Stopped, true);
    m_view.ReportEnd();
}

void PlaybackControl::SliderPressed() {
    if (m_state != State::Playing) return;
    m_component.SetPlayState(PlaybackComponent::Paused);
    Enter(State::Seeking, false);
}

void PlaybackControl::SliderReleased(qint64 value) {
    if (m_state != State::Seeking) return;
    m_component.SetPosition(value);
    m_component.SetPlayState(PlaybackComponent::Playing);
    Enter(State::Playing, false);
}

void PlaybackControl::SliderMoved(qint64 value) {
    if (m_state == State::NoRecording || m_state == State::Playing) return;
    m_component.SetPosition(value);
    m_view.ShowPosition(value);
}

void PlaybackControl::SeekTo(qint64 position) {
    if (m_state == State::NoRecording) return;
    const qint64 target = std::clamp<qint64>(position, 0, m_length);
    m_component.SetPosition(target);
    m_view.ShowPosition(target);
}

void PlaybackControl::SeekBy(qint64 delta) {
    if (m_state == State::NoRecording) return;
    SeekTo(m_component.Position() + delta);
}

void PlaybackControl::TogglePlay() {
    if (m_state == State::Playing || m_state == State::Seeking)
        Pause();
    else
        Play();
}

bool PlaybackControl::Key(int key) {
    switch (key) {
        case Qt::Key_Space:
            TogglePlay();
            return true;
        case Qt::Key_Left:
            SeekBy(-kKeySeekMs);
            return true;
        case Qt::Key_Right:
            SeekBy(kKeySeekMs);
            return true;
        case Qt::Key_Home:
            SeekTo(0);
            return true;
        case Qt::Key_End:
            SeekTo(m_length);
            return true;
        default:
            return false;
    }
}

void PlaybackControl::SetSpeed(double speed) {
    m_component.SetSpeed(speed);
}

void PlaybackControl::LeaveRecordingTab() {
    if (m_state == State::Playing) Pause();
}

void PlaybackControl::ShowRecordingTab() {
    if (m_state == State::Paused || m_state == State::Seeking) Play();
}

void PlaybackControl::Close() {
    m_component.SetPlayState(PlaybackComponent::Stopped);
    m_component.CloseRecording();
    m_length = 0;
    m_path.clear();
    Enter(State::NoRecording, false);
}

}  // namespace pelio::history
