// A playback component for window tests: it plays nothing. The test sets what the window will read
// (the open result, Length, Position, PlayState) and reads back every call the window made.
#pragma once

#include "playback/PlaybackComponent.h"

#include <QStringList>

namespace pelio::components {

class FakePlaybackComponent : public PlaybackComponent {
    Q_OBJECT
  public:
    using PlaybackComponent::PlaybackComponent;

    // What the next OpenRecording calls do: the result, the error reported on failure, and the Length
    // that a successful open sets.
    void SetOpenResult(bool ok, OpenError error = OpenError::NotRecording);
    void SetLengthOnOpen(qint64 length);
    // The StartTime that a successful open sets (-1: unknown, the default).
    void SetStartTimeOnOpen(qint64 startTime) { m_startTimeOnOpen = startTime; }

    // Set the state as playback would, without recording a call (e.g. playback reaching the end).
    void SetTestLength(qint64 length) { m_length = length; }
    void SetTestPosition(qint64 position) { m_position = position; }
    void SetTestPlayState(int state) { m_playState = state; }

    // Every call the window made, in order: "OpenRecording(path)", "CloseRecording()", "Position=n",
    // "PlayState=n", "Speed=x", "StretchView=0|1", "AutoScrollView=0|1". Reads are not recorded.
    const QStringList& Calls() const { return m_calls; }
    void ClearCalls() { m_calls.clear(); }
    QString OpenedPath() const { return m_openedPath; }

    bool OpenRecording(const QString& path) override;
    void CloseRecording() override;
    OpenError LastOpenError() const override { return m_lastError; }
    qint64 Length() const override { return m_length; }
    qint64 Position() const override { return m_position; }
    void SetPosition(qint64 position) override;
    int PlayState() const override { return m_playState; }
    void SetPlayState(int state) override;
    double Speed() const override { return m_speed; }
    void SetSpeed(double speed) override;
    qint64 StartTime() const override { return m_startTime; }
    void SetStretchView(bool stretch) override;
    bool StretchView() const override { return m_stretch; }
    void SetAutoScrollView(bool autoScroll) override;
    bool AutoScrollView() const override { return m_autoScroll; }

  private:
    QStringList m_calls;
    QString m_openedPath;
    bool m_openOk = true;
    OpenError m_openError = OpenError::NotRecording;
    OpenError m_lastError = OpenError::None;
    qint64 m_lengthOnOpen = 60000;
    qint64 m_length = 0;
    qint64 m_position = 0;
    int m_playState = Stopped;
    double m_speed = 1;
    qint64 m_startTimeOnOpen = -1;
    qint64 m_startTime = -1;
    bool m_stretch = true;
    bool m_autoScroll = true;
};

}  // namespace pelio::components
