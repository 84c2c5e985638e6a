#include "playback/SrfVideoExport.h"

#include "recording/SrfReader.h"

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLoggingCategory>
#include <QPainter>
#include <QTemporaryFile>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace pelio::components {

namespace {

Q_LOGGING_CATEGORY(lcExport, "pelio.export", QtCriticalMsg)

// FFmpeg's own messages (x264's statistics among them) would go to stderr: its warnings and errors go
// to our category instead, the rest nowhere. The callback is the process's; nothing else here uses
// FFmpeg.
void ForwardFfmpegLine(void* object, int level, const char* format, va_list args) {
    if (level > AV_LOG_WARNING || !lcExport().isWarningEnabled()) return;
    char line[1024];
    int printPrefix = 1;
    av_log_format_line2(object, level, format, args, line, sizeof line, &printPrefix);
    const QString text = QString::fromUtf8(line).trimmed();
    if (!text.isEmpty()) qCWarning(lcExport).noquote() << "ffmpeg:" << text;
}

void RouteFfmpegLog() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_callback(ForwardFfmpegLine); });
}

QString AvError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return QString::fromUtf8(text);
}

// FFmpeg's objects for one video, released in the right order.
struct Video {
    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    AVStream* stream = nullptr;  // owned by format
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    SwsContext* scaler = nullptr;

    Video() = default;
    Video(const Video&) = delete;
    Video& operator=(const Video&) = delete;
    ~Video() {
        sws_freeContext(scaler);
        av_packet_free(&packet);
        av_frame_free(&frame);
        avcodec_free_context(&codec);
        if (format) {
            if (format->pb) avio_closep(&format->pb);
            avformat_free_context(format);
        }
    }
};

// Encodes frame (null: the end) and writes every packet the encoder has ready. Returns 0 or FFmpeg's
// error; *writing tells whether the container (the file) failed rather than the encoder.
int Encode(Video& v, const AVFrame* frame, bool* writing) {
    *writing = false;
    int rc = avcodec_send_frame(v.codec, frame);
    if (rc < 0) return rc;
    for (;;) {
        rc = avcodec_receive_packet(v.codec, v.packet);
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return 0;
        if (rc < 0) return rc;
        // Every frame lasts one tick of the constant rate; the container's duration ends with the last.
        if (v.packet->duration <= 0) v.packet->duration = 1;
        av_packet_rescale_ts(v.packet, v.codec->time_base, v.stream->time_base);
        v.packet->stream_index = v.stream->index;
        rc = av_interleaved_write_frame(v.format, v.packet);
        if (rc < 0) {
            *writing = true;
            return rc;
        }
    }
}

// Draws what playback shows for the reader's current frame into picture (the video's frame, as large
// as the first screen or one pixel more): the screen at the top left, scaled to fit when its size is
// not the first screen's, and the cursor on it. Parts of picture outside the first screen stay black.
void Compose(const SrfReader& reader, QSize firstScreen, QImage& picture) {
    const QImage& screen = reader.Screen();
    QPainter painter(&picture);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    if (screen.size() != firstScreen) {
        painter.fillRect(picture.rect(), Qt::black);
        const QSize fitted = screen.size().scaled(firstScreen, Qt::KeepAspectRatio);
        if (fitted.isEmpty()) return;
        painter.translate((firstScreen.width() - fitted.width()) / 2,
                          (firstScreen.height() - fitted.height()) / 2);
        painter.scale(double(fitted.width()) / screen.width(), double(fitted.height()) / screen.height());
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
    }
    painter.setClipRect(QRect(QPoint(0, 0), screen.size()));
    painter.drawImage(0, 0, screen);
    if (reader.CursorVisible() && !reader.CursorShape().isNull()) {
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        painter.drawImage(reader.CursorPosition() - reader.CursorHotSpot(), reader.CursorShape());
    }
}

}  // namespace

std::optional<VideoFormat> VideoFormatOfPath(const QString& path) {
    if (path.endsWith(QLatin1String(".mp4"), Qt::CaseInsensitive)) return VideoFormat::Mp4H264;
    if (path.endsWith(QLatin1String(".webm"), Qt::CaseInsensitive)) return VideoFormat::WebmVp9;
    return std::nullopt;
}

VideoExportResult ExportSrfToVideo(const QString& recordingPath, const QString& videoPath,
                                   const VideoExportOptions& options,
                                   const std::function<void(int)>& progress,
                                   const std::function<bool()>& cancelled) {
    VideoExportResult result;
    const auto fail = [&result](VideoExportError error, const QString& detail) {
        result.error = error;
        result.detail = detail;
        return result;
    };
    const auto isCancelled = [&cancelled] { return cancelled && cancelled(); };
    int reported = -1;
    const auto report = [&](int percent) {
        if (percent <= reported) return;
        reported = percent;
        if (progress) progress(percent);
    };

    const std::optional<VideoFormat> format = VideoFormatOfPath(videoPath);
    if (!format)
        return fail(VideoExportError::UnknownFormat,
                    QStringLiteral("the name ends neither in .mp4 nor in .webm"));
    result.format = *format;
    const bool mp4 = *format == VideoFormat::Mp4H264;
    const int fps = std::clamp(options.framesPerSecond, 1, 60);
    RouteFfmpegLog();
    report(0);

    SrfReader reader;
    switch (reader.Open(recordingPath)) {
        case SrfOpenStatus::Ok:
            break;
        case SrfOpenStatus::CannotRead:
            return fail(VideoExportError::CannotReadRecording, QStringLiteral("cannot read the recording"));
        case SrfOpenStatus::NotRecording:
            return fail(VideoExportError::RecordingDamaged,
                        QStringLiteral("not a recording, or no frame plays"));
        case SrfOpenStatus::BeingWritten:
            return fail(VideoExportError::RecordingBeingWritten,
                        QStringLiteral("the recording is being written"));
    }
    if (reader.FrameCount() < 1 || reader.Screen().isNull())
        return fail(VideoExportError::RecordingDamaged, QStringLiteral("the recording holds no frame"));
    const QSize firstScreen = reader.Screen().size();
    const QSize size((firstScreen.width() + 1) & ~1, (firstScreen.height() + 1) & ~1);
    result.frameSize = size;
    result.lengthMs = std::max<std::int64_t>(0, reader.LengthMs());
    // Frame k shows the recording at k / fps seconds; the last one starts before the end.
    const std::int64_t frames = std::max<std::int64_t>(1, (result.lengthMs * fps + 999) / 1000);

    const char* encoderName = mp4 ? "libx264" : "libvpx-vp9";
    const AVCodec* encoder = avcodec_find_encoder_by_name(encoderName);
    if (!encoder)
        return fail(VideoExportError::EncoderMissing,
                    QStringLiteral("this FFmpeg has no encoder %1").arg(QLatin1String(encoderName)));

    // The temporary name beside the chosen one; removed on every way out but success.
    const QFileInfo target(videoPath);
    QTemporaryFile temp(target.absolutePath() + QStringLiteral("/.") + target.fileName().left(100) +
                        QStringLiteral(".XXXXXX.part"));
    if (!temp.open()) return fail(VideoExportError::CannotWrite, temp.errorString());
    const QString tempPath = temp.fileName();
    temp.close();  // FFmpeg writes it by name; the name stays reserved until it is renamed or removed
    // "file:" keeps FFmpeg from reading a protocol into a name with a colon.
    const QByteArray url = "file:" + QFile::encodeName(tempPath);

    Video v;
    int rc = avformat_alloc_output_context2(&v.format, nullptr, mp4 ? "mp4" : "webm", url.constData());
    if (rc < 0 || !v.format)
        return fail(VideoExportError::EncoderFailed, QStringLiteral("container: ") + AvError(rc));
    v.stream = avformat_new_stream(v.format, nullptr);
    v.codec = avcodec_alloc_context3(encoder);
    v.frame = av_frame_alloc();
    v.packet = av_packet_alloc();
    if (!v.stream || !v.codec || !v.frame || !v.packet)
        return fail(VideoExportError::EncoderFailed, QStringLiteral("out of memory"));

    AVCodecContext* c = v.codec;
    c->width = size.width();
    c->height = size.height();
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    c->time_base = AVRational{1, fps};
    c->framerate = AVRational{fps, 1};
    c->gop_size = fps * 10;  // a key frame at least every 10 seconds, so that players seek quickly
    // Screens are sRGB: BT.709 primaries and matrix, limited range (what players assume for video).
    c->color_range = AVCOL_RANGE_MPEG;
    c->colorspace = AVCOL_SPC_BT709;
    c->color_primaries = AVCOL_PRI_BT709;
    c->color_trc = AVCOL_TRC_BT709;
    c->thread_count = 0;  // as many as the machine has
    if (v.format->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;

    AVDictionary* encoderOptions = nullptr;
    if (mp4) {
        // Constant quality that keeps text sharp; "veryfast" encodes hours of screen in minutes.
        av_dict_set(&encoderOptions, "preset", "veryfast", 0);
        av_dict_set(&encoderOptions, "crf", "23", 0);
    } else {
        // Constant quality (no bit rate), the realtime deadline at its fastest speed, rows in parallel,
        // and libvpx's tuning for screen content.
        c->bit_rate = 0;
        av_dict_set(&encoderOptions, "deadline", "realtime", 0);
        av_dict_set(&encoderOptions, "cpu-used", "8", 0);
        av_dict_set(&encoderOptions, "crf", "32", 0);
        av_dict_set(&encoderOptions, "row-mt", "1", 0);
        av_dict_set(&encoderOptions, "tune-content", "screen", 0);
    }
    rc = avcodec_open2(c, encoder, &encoderOptions);
    for (const AVDictionaryEntry* e = nullptr;
         (e = av_dict_get(encoderOptions, "", e, AV_DICT_IGNORE_SUFFIX));)
        qCWarning(lcExport) << "encoder option not known:" << e->key;
    av_dict_free(&encoderOptions);
    if (rc < 0)
        return fail(VideoExportError::EncoderFailed,
                    QStringLiteral("%1: %2").arg(QLatin1String(encoderName), AvError(rc)));
    rc = avcodec_parameters_from_context(v.stream->codecpar, c);
    if (rc < 0) return fail(VideoExportError::EncoderFailed, AvError(rc));
    v.stream->time_base = c->time_base;
    v.stream->avg_frame_rate = c->framerate;

    rc = avio_open(&v.format->pb, url.constData(), AVIO_FLAG_WRITE);
    if (rc < 0) return fail(VideoExportError::CannotWrite, AvError(rc));
    AVDictionary* muxerOptions = nullptr;
    if (mp4) av_dict_set(&muxerOptions, "movflags", "+faststart", 0);  // playable while it downloads
    rc = avformat_write_header(v.format, &muxerOptions);
    av_dict_free(&muxerOptions);
    if (rc < 0) return fail(VideoExportError::CannotWrite, AvError(rc));

    v.frame->format = c->pix_fmt;
    v.frame->width = c->width;
    v.frame->height = c->height;
    v.frame->color_range = c->color_range;
    v.frame->colorspace = c->colorspace;
    v.frame->color_primaries = c->color_primaries;
    v.frame->color_trc = c->color_trc;
    rc = av_frame_get_buffer(v.frame, 0);
    if (rc < 0) return fail(VideoExportError::EncoderFailed, AvError(rc));
    // QImage's RGB32 is FFmpeg's RGB32 (B, G, R, 0xff in memory on little-endian machines). Chroma is
    // averaged over each 2 x 2 block from full-resolution input: the sharpest colour edges 4:2:0 allows,
    // and twice as fast as swscale's default path for this conversion.
    v.scaler = sws_getContext(size.width(), size.height(), AV_PIX_FMT_RGB32, size.width(), size.height(),
                              AV_PIX_FMT_YUV420P, SWS_AREA | SWS_FULL_CHR_H_INP | SWS_ACCURATE_RND, nullptr,
                              nullptr, nullptr);
    if (!v.scaler) return fail(VideoExportError::EncoderFailed, QStringLiteral("no RGB to YUV conversion"));
    sws_setColorspaceDetails(v.scaler, sws_getCoefficients(SWS_CS_ITU709), 1,
                             sws_getCoefficients(SWS_CS_ITU709), 0, 0, 1 << 16, 1 << 16);

    QImage picture(size, QImage::Format_RGB32);
    picture.fill(Qt::black);
    int composed = -1;  // the recording's frame in v.frame
    bool writing = false;
    for (std::int64_t k = 0; k < frames; ++k) {
        if (isCancelled()) return fail(VideoExportError::Cancelled, QStringLiteral("cancelled"));
        const std::int64_t timeMs = k * 1000 / fps;
        // The last recorded frame at or before timeMs, decoded in order.
        while (reader.CurrentFrame() + 1 < reader.FrameCount() &&
               reader.FrameTimeMs(reader.CurrentFrame() + 1) <= timeMs) {
            const std::int64_t next = reader.FrameTimeMs(reader.CurrentFrame() + 1);
            if (!reader.NextFrame()) {
                result.damagedAtMs = next;
                return fail(VideoExportError::RecordingDamaged,
                            QStringLiteral("frame %1 at %2 ms cannot be decoded")
                                .arg(reader.CurrentFrame() + 1)
                                .arg(next));
            }
        }
        if (reader.CurrentFrame() != composed) {
            Compose(reader, firstScreen, picture);
            composed = reader.CurrentFrame();
            rc = av_frame_make_writable(v.frame);  // the encoder may still hold the last picture
            if (rc < 0) return fail(VideoExportError::EncoderFailed, AvError(rc));
            const std::uint8_t* source[1] = {picture.constBits()};
            const int stride[1] = {int(picture.bytesPerLine())};
            sws_scale(v.scaler, source, stride, 0, size.height(), v.frame->data, v.frame->linesize);
        }
        v.frame->pts = k;
        rc = Encode(v, v.frame, &writing);
        if (rc < 0)
            return fail(writing ? VideoExportError::CannotWrite : VideoExportError::EncoderFailed,
                        AvError(rc));
        result.frames = k + 1;
        report(int((k + 1) * 99 / frames));
    }
    rc = Encode(v, nullptr, &writing);
    if (rc < 0)
        return fail(writing ? VideoExportError::CannotWrite : VideoExportError::EncoderFailed, AvError(rc));
    rc = av_write_trailer(v.format);  // with "+faststart" this moves the index to the front
    if (rc < 0) return fail(VideoExportError::CannotWrite, AvError(rc));
    rc = avio_closep(&v.format->pb);
    if (rc < 0) return fail(VideoExportError::CannotWrite, AvError(rc));

    if (isCancelled()) return fail(VideoExportError::Cancelled, QStringLiteral("cancelled"));
    // A file to hand on: readable by others as files the customer saves are, not private as temporary
    // files are.
    QFile::setPermissions(tempPath, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                        QFileDevice::ReadGroup | QFileDevice::ReadOther);
    // rename() replaces an existing file at once: the chosen name holds the old file or the new one.
    if (std::rename(QFile::encodeName(tempPath).constData(), QFile::encodeName(videoPath).constData()) != 0)
        return fail(VideoExportError::CannotWrite, QString::fromLocal8Bit(std::strerror(errno)));
    temp.setAutoRemove(false);
    report(100);
    return result;
}

struct SrfVideoExport::Shared {
    SrfVideoExport* owner = nullptr;  // null once the owner is gone; read and written on its thread only
    ProgressFn progress;
    FinishedFn finished;
};

SrfVideoExport::SrfVideoExport(QObject* context, ProgressFn progress, FinishedFn finished)
    : m_context(context), m_shared(std::make_shared<Shared>()) {
    m_shared->owner = this;
    m_shared->progress = std::move(progress);
    m_shared->finished = std::move(finished);
}

SrfVideoExport::~SrfVideoExport() {
    m_shared->owner = nullptr;  // what the worker posted meanwhile is dropped
    Cancel();
    Join();
}

void SrfVideoExport::Join() {
    if (m_thread.joinable()) m_thread.join();
}

bool SrfVideoExport::Start(const QString& recordingPath, const QString& videoPath,
                           const VideoExportOptions& options) {
    if (m_running) return false;
    Join();
    m_cancel = std::make_shared<std::atomic<bool>>(false);
    m_running = true;
    m_thread = std::thread(
        [context = m_context, shared = m_shared, cancel = m_cancel, recordingPath, videoPath, options] {
            const VideoExportResult result = ExportSrfToVideo(
                recordingPath, videoPath, options,
                [&](int percent) {
                    QMetaObject::invokeMethod(
                        context,
                        [shared, percent] {
                            if (shared->owner && shared->progress) shared->progress(percent);
                        },
                        Qt::QueuedConnection);
                },
                [&] { return cancel->load(); });
            QMetaObject::invokeMethod(
                context,
                [shared, result] {
                    SrfVideoExport* owner = shared->owner;
                    if (!owner) return;
                    owner->m_running = false;
                    owner->Join();  // the worker posted this as its last step
                    if (shared->finished) shared->finished(result);
                },
                Qt::QueuedConnection);
        });
    return true;
}

void SrfVideoExport::Cancel() {
    if (m_cancel) m_cancel->store(true);
}

}  // namespace pelio::components
