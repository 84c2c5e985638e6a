// Saves a ".srf" recording as a standard video file that any player opens: MP4 with H.264 (libx264,
// yuv420p, "+faststart") when the file name ends in ".mp4", WebM with VP9 (libvpx-vp9) when it ends in
// ".webm", through FFmpeg's libraries.
//
// The video runs at a constant rate (10 frames a second, the rate recordings are made at) and shows at
// each of its frames what playback shows at that time: the last recorded frame at or before it, with
// the cursor drawn in as SrfPlaybackWidget draws it. It lasts as long as the recording (its last
// frame shows the recording's end, so it is at most one frame longer). Its frame size is the
// screen's at the start of the recording, one black column or row added to an odd width or height
// (H.264 and VP9 in 4:2:0 need even sizes); a later screen of another size is scaled into it. The
// encoders are set for screen content: sharp text at a constant quality, fast enough for recordings of
// hours (see README.md for the speed).
//
// The recording is read through SrfReader's public members only. The video is written under a
// temporary name beside the chosen one (".NAME.XXXXXX.part") and renamed to it at the very end, so a
// failed or cancelled export never leaves a partial file under the chosen name; an existing file of
// that name is replaced only by a whole video.
#pragma once

#include <QObject>
#include <QSize>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

namespace pelio::components {

enum class VideoFormat { Mp4H264, WebmVp9 };

// The format a file name asks for by its extension (".mp4" or ".webm", any case); nothing otherwise.
std::optional<VideoFormat> VideoFormatOfPath(const QString& path);

enum class VideoExportError {
    None,
    Cancelled,              // the caller cancelled; nothing was left behind
    UnknownFormat,          // the video's name ends neither in ".mp4" nor in ".webm"
    CannotReadRecording,    // the recording is missing or unreadable
    RecordingBeingWritten,  // a session is still recording into it
    RecordingDamaged,       // not a recording, or a frame of it cannot be decoded
    EncoderMissing,         // this FFmpeg has no libx264 (MP4) or no libvpx-vp9 (WebM)
    CannotWrite,            // the video cannot be created or written (folder, permissions, disk full)
    EncoderFailed,          // the encoder or the container refused to start or to go on
};

struct VideoExportOptions {
    int framesPerSecond = 10;  // 1..60
};

struct VideoExportResult {
    VideoExportError error = VideoExportError::None;
    QString detail;  // what failed, in English for the log; empty on success
    VideoFormat format = VideoFormat::Mp4H264;
    QSize frameSize;                // of the video (known once the recording opened)
    std::int64_t lengthMs = 0;      // of the recording
    std::int64_t frames = 0;        // video frames written
    std::int64_t damagedAtMs = -1;  // RecordingDamaged: the time of the frame that could not be decoded
    bool Ok() const { return error == VideoExportError::None; }
};

// Exports on the calling thread. progress, when given, is called with 0..100 whenever the percentage
// grows (100 once the video is in place); cancelled, when given, is asked before every frame and
// before the video is put in place; once it answers true the export stops and removes what it wrote.
VideoExportResult ExportSrfToVideo(const QString& recordingPath, const QString& videoPath,
                                   const VideoExportOptions& options = {},
                                   const std::function<void(int)>& progress = {},
                                   const std::function<bool()>& cancelled = {});

// The same on a thread of its own, for a window. Every member is called from the thread of context,
// which also receives progress and finished through its event loop (progress only while the export
// runs, finished once per Start). context owns the object.
class SrfVideoExport {
  public:
    using ProgressFn = std::function<void(int percent)>;
    using FinishedFn = std::function<void(const VideoExportResult& result)>;

    SrfVideoExport(QObject* context, ProgressFn progress, FinishedFn finished);
    // Cancels an export under way and waits until it has removed what it wrote; finished is not
    // called then.
    ~SrfVideoExport();
    SrfVideoExport(const SrfVideoExport&) = delete;
    SrfVideoExport& operator=(const SrfVideoExport&) = delete;

    // Starts exporting; false (and nothing starts) while an export runs.
    bool Start(const QString& recordingPath, const QString& videoPath,
               const VideoExportOptions& options = {});
    // Asks the export under way to stop; finished then reports Cancelled unless it had already ended.
    void Cancel();
    // From Start until finished has been called.
    bool IsRunning() const { return m_running; }

  private:
    struct Shared;
    void Join();

    QObject* m_context;
    std::shared_ptr<Shared> m_shared;
    std::shared_ptr<std::atomic<bool>> m_cancel;
    std::thread m_thread;
    bool m_running = false;
};

}  // namespace pelio::components
