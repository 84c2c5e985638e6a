// The recording playback component that the history viewer hosts: it opens a screen recording and
// renders it into its own window.
//
// How it is played: after a successful OpenRecording the component is stopped (PlayState 2) at
// position 0 and shows the first frame; Length is the recording's length. Writing PlayState 0 plays
// from Position, 1 pauses, 2 stops and returns to position 0. Writing Position seeks and keeps the
// play state. While playing, Position advances with the clock; at the end of the recording it stays
// at Length and PlayState stays 0 (the host notices the end from Position and stops playback itself);
// EndReached is signalled once when that happens. Positions and Length are in milliseconds, 64 bits
// wide: a recording may declare up to 2^32 - 1 ms.
//
// Speed: while playing, Position advances by the clock's time times Speed, so that each frame is shown
// at its recording time divided by Speed. Speed is 1 until set and stays as set across recordings;
// writing it keeps the position and the play state.
#pragma once

#include <QString>
#include <QWidget>

namespace pelio::components {

class PlaybackComponent : public QWidget {
    Q_OBJECT
  public:
    enum PlayStates { Playing = 0, Paused = 1, Stopped = 2 };

    using QWidget::QWidget;

    // Releases the recording open before, then opens the one at path; true on success. False when the
    // file cannot be read, is damaged or not a recording, or is still being written by a running
    // session; nothing is open then (stopped, Length 0), as after CloseRecording. LastOpenError tells the
    // cases apart.
    virtual bool OpenRecording(const QString& path) = 0;
    // Releases the open recording; the component shows nothing and is stopped.
    virtual void CloseRecording() = 0;

    enum class OpenError { None, CannotRead, NotRecording, BeingWritten };
    virtual OpenError LastOpenError() const = 0;

    virtual qint64 Length() const = 0;
    virtual qint64 Position() const = 0;
    virtual void SetPosition(qint64 position) = 0;
    virtual int PlayState() const = 0;
    virtual void SetPlayState(int state) = 0;

    // The playing speed, from MinSpeed to MaxSpeed; any other value is ignored.
    static constexpr double MinSpeed = 0.25;
    static constexpr double MaxSpeed = 16;
    virtual double Speed() const = 0;
    virtual void SetSpeed(double speed) = 0;

    // When the open recording started, in milliseconds since 1970-01-01 UTC: Position p shows the
    // screen at StartTime + p. -1 when the recording does not tell, or none is open.
    virtual qint64 StartTime() const = 0;

    // True: the recorded screen is scaled to the window. False: it is shown at full size.
    virtual void SetStretchView(bool stretch) = 0;
    virtual bool StretchView() const = 0;
    // True: when the recorded screen is larger than the window, the view scrolls while the mouse is at
    // a window edge.
    virtual void SetAutoScrollView(bool autoScroll) = 0;
    virtual bool AutoScrollView() const = 0;

  signals:
    void PlayStateChanged(int state);
    void EndReached();
};

}  // namespace pelio::components
