// The playback component that plays ".srf" recordings: a widget that shows the recorded screen and
// cursor, scaled to the widget (StretchView) or at full size with scroll bars, scrolling by itself
// while the mouse rests at an edge (AutoScrollView).
//
// Frames are decoded on a thread of their own (SrfFrameWorker): Position changes at once, and the
// picture follows through the event loop when its frame is decoded, so that a long seek never holds
// the window; a newer position replaces an older one that is still being decoded. The position of a
// playing recording is read from the time source, monotonic milliseconds (a steady clock unless set),
// times the speed.
#pragma once

#include "playback/PlaybackComponent.h"
#include "playback/SrfFrameWorker.h"

#include <QTimer>

#include <functional>
#include <memory>

namespace pelio::components {

class SrfPlaybackWidget : public PlaybackComponent {
    Q_OBJECT
  public:
    explicit SrfPlaybackWidget(QWidget* parent = nullptr);
    ~SrfPlaybackWidget() override;

    bool OpenRecording(const QString& path) override;
    void CloseRecording() override;
    OpenError LastOpenError() const override { return m_lastError; }
    qint64 Length() const override;
    qint64 Position() const override;
    void SetPosition(qint64 position) override;
    int PlayState() const override { return m_playState; }
    void SetPlayState(int state) override;
    double Speed() const override { return m_speed; }
    void SetSpeed(double speed) override;
    qint64 StartTime() const override;
    void SetStretchView(bool stretch) override;
    bool StretchView() const override { return m_stretch; }
    void SetAutoScrollView(bool autoScroll) override;
    bool AutoScrollView() const override { return m_autoScroll; }

    // The clock that playing advances by: monotonic milliseconds. Playback goes on from the position
    // it reached.
    using TimeSource = std::function<qint64()>;
    void SetTimeSource(TimeSource now);

    // The time of the frame on screen (-1 for none), and whether the open recording was finished by its
    // writer.
    qint64 ShownFrameTime() const;
    bool RecordingComplete() const;

  private:
    class ScreenView;
    friend class ScreenView;

    void Tick();
    void ShowFrame(const SrfFrameWorker::Frame& frame);
    void ChangeState(int state);

    SrfFrameWorker::Frame m_shown;
    std::unique_ptr<SrfFrameWorker> m_worker;
    ScreenView* m_view = nullptr;
    QTimer m_tick;
    TimeSource m_now;
    qint64 m_startedAt = 0;     // m_now() when playing last started or the position was last set
    qint64 m_basePosition = 0;  // the position at m_startedAt, or the position held
    int m_playState = Stopped;
    double m_speed = 1;
    bool m_endSignalled = false;
    bool m_stretch = true;
    bool m_autoScroll = true;
    OpenError m_lastError = OpenError::None;
};

}  // namespace pelio::components
