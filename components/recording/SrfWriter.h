// Writes a ".srf" recording (layout in SrfFormat.h) while a session runs.
//
// The producer (the server's capture thread) reports what changed on the screen since the last frame
// with UpdateRect, SetCursorShape and SetCursorPosition, then calls CommitFrame with the frame's time;
// each committed frame is appended to the file at once, compressed, so that a crash loses at most the
// frame being committed. Finish writes the index and marks the file finished; a recording that is not
// finished stays unreadable while this writer lives, and plays up to its last whole frame after the
// writing process has died.
//
// Every member may be called from any thread; calls are serialised by an internal lock. Frames should
// come from one producer so that their times do not decrease (a smaller time is raised to the last).
#pragma once

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

#include <cstdint>
#include <memory>

namespace pelio::components {

class SrfWriter {
  public:
    struct Options {
        int keyFrameIntervalMs = 5000;  // at most this long between key frames (100..5000)
        int compressionLevel = 3;       // zstd level of delta frames
        int keyFrameLevel = 3;          // zstd level of key frames
        bool pictures = true;           // photo-like changes as JPEG (text and flat areas stay exact)
    };

    SrfWriter();
    explicit SrfWriter(Options options);
    ~SrfWriter();  // finishes an open recording
    SrfWriter(const SrfWriter&) = delete;
    SrfWriter& operator=(const SrfWriter&) = delete;

    // Creates the file (replacing an old one unless another writer holds it) for a screen of the given
    // size, black at first. False when the file cannot be created or locked, or the size is outside
    // the format's bounds (SrfFormat.h).
    bool Open(const QString& path, QSize screenSize);
    bool IsOpen() const;
    QString Path() const;

    // A new screen size: the screen turns black and the next frame is a key frame. False, and the
    // size stays, when the size is outside the format's bounds.
    bool SetScreenSize(QSize screenSize);
    QSize ScreenSize() const;

    // Copies a changed rectangle of the screen. pixels point at the rectangle's top-left pixel, 32 bits
    // per pixel (0xXXRRGGBB, the top byte ignored), strideBytes apart from row to row. Parts outside
    // the screen are ignored.
    void UpdateRect(const QRect& rect, const std::uint32_t* pixels, int strideBytes);
    // The same from an image holding the whole screen (any format; converted when not 32-bit RGB).
    void UpdateRectFromScreen(const QImage& screen, const QRect& rect);

    // The cursor: its shape (converted to ARGB, at most 256 x 256, the hot spot inside it), and where
    // its hot spot is. An empty shape hides the cursor until a shape is set again.
    void SetCursorShape(const QImage& shape, QPoint hotSpot);
    void SetCursorPosition(QPoint position, bool visible = true);

    // Appends the changes since the last frame as a frame at timeMs (milliseconds since Open). Writes
    // nothing when nothing changed and no key frame is due. False on a write error; the recording then
    // stays what it was up to the last good frame.
    bool CommitFrame(std::int64_t timeMs);

    // Writes the index and marks the recording finished; lengthMs is the recording's length (at least
    // the last frame's time). Closes the file and releases it. False when anything failed to write.
    bool Finish(std::int64_t lengthMs);
    // Milliseconds since Open, for producers without a clock of their own.
    std::int64_t ElapsedMs() const;

    // Closes the file without finishing it, as a crashed writer would leave it (for tests and tools).
    void Abandon();

    std::int64_t BytesWritten() const;
    int FrameCount() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

}  // namespace pelio::components
