// Reads a ".srf" recording (layout in SrfFormat.h): opens it, tells why it cannot be opened, and
// decodes the screen and the cursor at any time of the recording.
//
// The reader is a plain object for one thread. Bad input of any kind makes Open fail or makes decoding
// stop at the damaged frame; it never crashes and never reads without bound.
#pragma once

#include <QImage>
#include <QPoint>
#include <QSize>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

namespace pelio::components {

enum class SrfOpenStatus {
    Ok,            // a finished recording, or one whose writer died (see IsComplete)
    CannotRead,    // missing or unreadable file
    NotRecording,  // not a recording, or damaged so that no frame can be played
    BeingWritten,  // a writer is still recording into it
};

class SrfReader {
  public:
    SrfReader();
    ~SrfReader();
    SrfReader(const SrfReader&) = delete;
    SrfReader& operator=(const SrfReader&) = delete;

    // Opens the file and decodes its first frame. Closes what was open before.
    SrfOpenStatus Open(const QString& path);
    void Close();
    bool IsOpen() const;
    // False when the recording was opened from a file whose writer never finished it.
    bool IsComplete() const;

    std::int64_t LengthMs() const;
    // When the recording started (the writer's Open), in milliseconds since 1970-01-01 UTC; frame
    // times count from there. -1 when the header is damaged or holds no time.
    std::int64_t CreatedMs() const;
    int FrameCount() const;
    std::int64_t FrameTimeMs(int frame) const;  // -1 outside 0..FrameCount()-1

    // The frame decoded last (0 after Open) and its time.
    int CurrentFrame() const;
    std::int64_t CurrentTimeMs() const;

    // Decodes the next frame. False at the end, or when the frame is damaged (the screen then stays
    // as it was and the frame counts as the end).
    bool NextFrame();
    // Decodes the last frame whose time is at or before timeMs (the first frame for earlier times),
    // starting from the nearest key frame before it unless the current frame is closer. The work is
    // bounded (see "Bounds" in SrfFormat.h). interrupted, when given, is asked before each frame; once
    // it answers true the seek ends, false, at the frame decoded last.
    bool SeekTo(std::int64_t timeMs, const std::function<bool()>& interrupted = {});

    // The screen of the current frame (RGB32) and the cursor drawn on it.
    const QImage& Screen() const;
    const QImage& CursorShape() const;  // ARGB32; null when no shape was recorded
    QPoint CursorHotSpot() const;
    QPoint CursorPosition() const;  // where the hot spot is, in screen coordinates
    bool CursorVisible() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

}  // namespace pelio::components
