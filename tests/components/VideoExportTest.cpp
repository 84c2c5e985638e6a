// Saving a recording as a video: a recording written by the real writer, exported to MP4 and WebM and
// read back with ffprobe (and one frame with ffmpeg); cancelling leaves nothing behind.
#include "playback/SrfVideoExport.h"
#include "recording/SrfWriter.h"
#include "support/Wait.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cmath>
#include <optional>

using namespace pelio::components;
using pelio::test::WaitFor;

namespace {

constexpr int kWidth = 321;  // odd on both sides: the video pads to 322 x 202
constexpr int kHeight = 201;
constexpr std::int64_t kLengthMs = 3450;

// The background of second s of the recording.
QColor Background(int s) {
    static const QColor colours[] = {QColor(200, 40, 40), QColor(40, 160, 60), QColor(40, 70, 200),
                                     QColor(230, 200, 40)};
    return colours[s % 4];
}

// A recording of kLengthMs on a kWidth x kHeight screen, a frame every 100 ms: the background changes
// colour every second, a small block moves every frame, and the cursor moves with it.
void WriteRecording(const QString& path, std::int64_t lengthMs = kLengthMs) {
    SrfWriter writer;
    ASSERT_TRUE(writer.Open(path, QSize(kWidth, kHeight)));
    QImage cursor(12, 12, QImage::Format_ARGB32);
    cursor.fill(QColor(255, 255, 255, 200));
    writer.SetCursorShape(cursor, QPoint(0, 0));
    QImage screen(kWidth, kHeight, QImage::Format_RGB32);
    for (std::int64_t t = 0; t <= lengthMs; t += 100) {
        const int i = int(t / 100);
        screen.fill(Background(int(t / 1000)));
        const QRect block((i * 9) % (kWidth - 20), 150, 20, 20);
        for (int y = block.top(); y <= block.bottom(); ++y)
            for (int x = block.left(); x <= block.right(); ++x) screen.setPixelColor(x, y, Qt::black);
        writer.UpdateRectFromScreen(screen, screen.rect());
        writer.SetCursorPosition(block.topLeft() + QPoint(4, -20));
        ASSERT_TRUE(writer.CommitFrame(t));
    }
    ASSERT_TRUE(writer.Finish(lengthMs));
}

struct Probe {
    QString codec;
    int width = 0;
    int height = 0;
    double durationS = 0;
};

std::optional<Probe> ProbeVideo(const QString& path) {
    const QString ffprobe = QStandardPaths::findExecutable(QStringLiteral("ffprobe"));
    if (ffprobe.isEmpty()) {
        ADD_FAILURE() << "ffprobe is missing: scripts/deps.sh installs it (package ffmpeg)";
        return std::nullopt;
    }
    QProcess p;
    p.start(ffprobe, {"-v", "error", "-show_entries", "format=duration:stream=width,height,codec_name", "-of",
                      "json", path});
    if (!p.waitForFinished(30000) || p.exitCode() != 0) {
        ADD_FAILURE() << "ffprobe failed: " << p.readAllStandardError().toStdString();
        return std::nullopt;
    }
    const QJsonObject json = QJsonDocument::fromJson(p.readAllStandardOutput()).object();
    const QJsonArray streams = json.value("streams").toArray();
    if (streams.size() != 1) {
        ADD_FAILURE() << "streams: " << streams.size();
        return std::nullopt;
    }
    const QJsonObject stream = streams.first().toObject();
    return Probe{stream.value("codec_name").toString(), stream.value("width").toInt(),
                 stream.value("height").toInt(),
                 json.value("format").toObject().value("duration").toString().toDouble()};
}

// The video's picture at a time, decoded by ffmpeg.
QImage FrameAt(const QString& video, double seconds, const QString& png) {
    QProcess p;
    p.start(QStringLiteral("ffmpeg"),
            {"-v", "error", "-y", "-ss", QString::number(seconds), "-i", video, "-frames:v", "1", png});
    if (!p.waitForFinished(30000) || p.exitCode() != 0) return QImage();
    return QImage(png);
}

bool Near(QColor a, QColor b, int tolerance = 12) {
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

QStringList FilesIn(const QTemporaryDir& dir) {
    return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

}  // namespace

TEST(VideoExportTest, Mp4AndWebmLastAsLongAsTheRecordingAtItsSizePaddedToEven) {
    QTemporaryDir dir;
    const QString recording = dir.filePath("a.srf");
    WriteRecording(recording);
    const double frameS = 1.0 / VideoExportOptions{}.framesPerSecond;

    struct Case {
        const char* name;
        const char* codec;
    };
    for (const Case c : {Case{"a.mp4", "h264"}, Case{"a.webm", "vp9"}}) {
        SCOPED_TRACE(c.name);
        const QString video = dir.filePath(c.name);
        QList<int> progress;
        const VideoExportResult result =
            ExportSrfToVideo(recording, video, {}, [&](int percent) { progress << percent; });
        ASSERT_TRUE(result.Ok()) << result.detail.toStdString();
        EXPECT_EQ(result.frameSize, QSize(322, 202));
        EXPECT_EQ(result.lengthMs, kLengthMs);
        ASSERT_FALSE(progress.isEmpty());
        EXPECT_EQ(progress.first(), 0);
        EXPECT_EQ(progress.last(), 100);
        EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));

        const std::optional<Probe> probe = ProbeVideo(video);
        ASSERT_TRUE(probe);
        EXPECT_EQ(probe->codec, QLatin1String(c.codec));
        EXPECT_EQ(probe->width, 322);
        EXPECT_EQ(probe->height, 202);
        EXPECT_NEAR(probe->durationS, kLengthMs / 1000.0, frameS + 0.001);

        // The colours survive the conversion to video: the background of second 2, away from the block.
        const QImage frame = FrameAt(video, 2.45, dir.filePath("frame.png"));
        ASSERT_FALSE(frame.isNull());
        EXPECT_TRUE(Near(frame.pixelColor(160, 60), Background(2)))
            << frame.pixelColor(160, 60).name().toStdString();
        QFile::remove(dir.filePath("frame.png"));
    }
    // Nothing but the recording and the two videos: the temporary files were renamed.
    EXPECT_EQ(FilesIn(dir), (QStringList{"a.mp4", "a.srf", "a.webm"}));
}

TEST(VideoExportTest, CancellingOrFailingLeavesNoFileAndAnOldFileOfTheNameAsItWas) {
    QTemporaryDir dir;
    const QString recording = dir.filePath("a.srf");
    WriteRecording(recording, 20000);
    const QString video = dir.filePath("a.mp4");

    // Cancelled part way, on this thread.
    int reached = 0;
    VideoExportResult result = ExportSrfToVideo(
        recording, video, {}, [&](int percent) { reached = percent; }, [&] { return reached >= 30; });
    EXPECT_EQ(result.error, VideoExportError::Cancelled);
    EXPECT_GE(reached, 30);
    EXPECT_LT(reached, 100);
    EXPECT_EQ(FilesIn(dir), QStringList{"a.srf"});

    // Cancelled on its own thread, over an existing file of the chosen name, which stays as it was.
    {
        QFile old(video);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("old");
    }
    std::optional<VideoExportResult> finished;
    QObject context;
    SrfVideoExport exporter(&context, {}, [&](const VideoExportResult& r) { finished = r; });
    ASSERT_TRUE(exporter.Start(recording, video));
    EXPECT_TRUE(exporter.IsRunning());
    EXPECT_FALSE(exporter.Start(recording, video));  // one at a time
    exporter.Cancel();
    ASSERT_TRUE(WaitFor([&] { return finished.has_value(); }, 60000));
    EXPECT_FALSE(exporter.IsRunning());
    EXPECT_EQ(finished->error, VideoExportError::Cancelled);
    EXPECT_EQ(FilesIn(dir), (QStringList{"a.mp4", "a.srf"}));
    QFile old(video);
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    EXPECT_EQ(old.readAll(), QByteArray("old"));

    // A file that is no recording, and a folder that cannot be written: clear errors, nothing left.
    QFile bogus(dir.filePath("bogus.srf"));
    ASSERT_TRUE(bogus.open(QIODevice::WriteOnly));
    bogus.write(QByteArray(4096, 'x'));
    bogus.close();
    EXPECT_EQ(ExportSrfToVideo(bogus.fileName(), dir.filePath("b.webm")).error,
              VideoExportError::RecordingDamaged);
    EXPECT_EQ(ExportSrfToVideo(recording, dir.filePath("missing/b.mp4")).error,
              VideoExportError::CannotWrite);
    EXPECT_EQ(ExportSrfToVideo(recording, dir.filePath("b.avi")).error, VideoExportError::UnknownFormat);
    EXPECT_EQ(FilesIn(dir), (QStringList{"a.mp4", "a.srf", "bogus.srf"}));
}
