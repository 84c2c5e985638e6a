// The playback component that plays ".srf" recordings: a widget that shows the recorded screen and
// cursor, scaled to the widget (StretchView) or at full size with scroll bars, scrolling by itself
// while the mouse rests at an edge (AutoScrollView). Decoding runs on the UI thread, a few frames per
// tick; a jump further than the nearest key frame starts from that key frame.
#pragma once

#include "playback/PlaybackComponent.h"

#include <QElapsedTimer>
#include <QTimer>

#include <memory>

namespace pelio::components {

class SrfReader;

class SrfPlaybackWidget : public PlaybackComponent {
    Q_OBJECT
  public:
    explicit SrfPlaybackWidget(QWidget* parent = nullptr);
    ~SrfPlaybackWidget() override;

    bool OpenRecording(const QString& path) override;
    void CloseRecording() override;
    OpenError LastOpenError() const override { return m_lastError; }
    int Length() const override;
    int Position() const override;
    void SetPosition(int position) override;
    int PlayState() const override { return m_playState; }
    void SetPlayState(int state) override;
    void SetStretchView(bool stretch) override;
    bool StretchView() const override { return m_stretch; }
    void SetAutoScrollView(bool autoScroll) override;
    bool AutoScrollView() const override { return m_autoScroll; }

    // The time of the frame on screen, and whether the open recording was finished by its writer.
    int ShownFrameTime() const;
    bool RecordingComplete() const;

  private:
    class ScreenView;
    friend class ScreenView;

    void Tick();
    void ShowPosition(std::int64_t position);
    void ChangeState(int state);

    std::unique_ptr<SrfReader> m_reader;
    ScreenView* m_view = nullptr;
    QTimer m_tick;
    QElapsedTimer m_clock;
    std::int64_t m_basePosition = 0;  // the position when m_clock was last started or the position held
    int m_playState = Stopped;
    bool m_endSignalled = false;
    bool m_stretch = true;
    bool m_autoScroll = true;
    OpenError m_lastError = OpenError::None;
};

}  // namespace pelio::components
