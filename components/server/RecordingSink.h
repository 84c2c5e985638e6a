// Writes the session's screen into ".srf" recordings (SrfWriter) on a writer thread of its own, so
// that neither the UI thread nor the capture thread waits on compression or on the disk.
//
// The capture thread (the producer) names the screen buffer it keeps up to date, reports what
// changed in it and where the cursor is, and calls Tick: at most every 100 ms the changes gathered
// since the last frame are copied out of the buffer into a frame for the writer thread. Only a few
// frames wait for the writer at a time; while it lags, changes keep gathering into the next frame, so
// nothing is lost, frames only come less often.
//
// Start and Stop return at once: creating, writing and finishing the files happen on the writer
// thread in the order they were asked for, so a recording started while the previous one is still
// being finished never meets it half done, even at the same path. The destructor finishes what was
// asked for and waits for the writer thread.
#pragma once

#include <QImage>
#include <QPoint>
#include <QRegion>
#include <QSize>
#include <QString>

#include <chrono>
#include <cstdint>
#include <memory>

namespace pelio::components {

class RecordingSink {
  public:
    using Clock = std::chrono::steady_clock;

    RecordingSink();
    ~RecordingSink();
    RecordingSink(const RecordingSink&) = delete;
    RecordingSink& operator=(const RecordingSink&) = delete;

    // Starts a recording into a new file at path, after finishing one that runs. Without a screen
    // (SetScreen) nothing is recorded.
    void Start(const QString& path);
    // The changes gathered so far become the recording's last frame; the file is finished after that.
    void Stop();
    // True from Start to Stop, unless the file could not be created.
    bool Recording() const;

    // Producer. `pixels` holds the whole screen as 0x00RRGGBB words, size.width() to a row; it stays
    // valid until the next SetScreen, and nullptr withdraws it. A new size starts a key frame.
    void SetScreen(const std::uint32_t* pixels, QSize size);
    // Whether the cursor's shape and position are recorded (read when a recording starts).
    void SetCursorRecorded(bool recorded);
    void Changed(const QRegion& region);
    void SetCursorShape(const QImage& shape, QPoint hotSpot);
    void SetCursorPosition(QPoint position);
    // True when a recording runs and a frame could be taken now: changes are worth grabbing.
    bool FrameDue(Clock::time_point now) const;
    // When the running recording may take its next frame; time_point::max() when none runs.
    Clock::time_point NextFrameTime() const;
    // Takes a frame when one is due and changes wait. Returns when to call again: time_point::max()
    // when nothing waits.
    Clock::time_point Tick(Clock::time_point now);

  private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

}  // namespace pelio::components
