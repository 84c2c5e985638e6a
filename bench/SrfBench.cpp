// Recording benchmark: a two-hour 1280x800 recording at 10 frames/s of a generated desktop (windows
// moving, text scrolling, a video playing). Prints the file size per minute, the time to open it, the
// time to seek to 10 random positions, the decoding rate on one core, and compares the size with the
// same frames stored as zlib-compressed full-frame differences.
//
//   pelio-srf-bench RECORDING.srf [--sample-minutes N]
//
// The recording is generated first when the file does not exist (a few minutes), and reused after.
#include "DesktopScene.h"
#include "recording/SrfReader.h"
#include "recording/SrfWriter.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <zlib.h>

#include <fcntl.h>
#include <unistd.h>
#include <algorithm>
#include <cstdio>
#include <vector>

using pelio::components::SrfOpenStatus;
using pelio::components::SrfReader;
using pelio::components::SrfWriter;
using pelio::recorder::DesktopScene;

namespace {

constexpr QSize ScreenSize(1280, 800);
constexpr int Fps = 10;

double Ms(const QElapsedTimer& t) {
    return double(t.nsecsElapsed()) / 1e6;
}

// Drops the file's pages from the page cache, so that the next read comes from the disk.
void Evict(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    if (fd < 0) return;
    ::fdatasync(fd);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
}

// Writes `seconds` of the generated desktop; returns the file size, or -1.
std::int64_t Generate(const QString& path, int seconds, double* secondsTaken) {
    QElapsedTimer clock;
    clock.start();
    SrfWriter writer;
    if (!writer.Open(path, ScreenSize)) return -1;
    DesktopScene scene(ScreenSize);
    writer.SetCursorShape(scene.CursorShape(), scene.CursorHotSpot());
    for (std::int64_t frame = 0; frame < std::int64_t(seconds) * Fps; ++frame) {
        for (const QRect& r : scene.Step(frame, Fps)) writer.UpdateRectFromScreen(scene.Screen(), r);
        writer.SetCursorPosition(scene.CursorPosition());
        if (!writer.CommitFrame(frame * 1000 / Fps)) return -1;
    }
    if (!writer.Finish(std::int64_t(seconds) * 1000)) return -1;
    *secondsTaken = Ms(clock) / 1000;
    return QFileInfo(path).size();
}

// The same frames as full-screen XOR differences against the frame before, each deflated by zlib.
std::int64_t ZlibDiffSize(int seconds, int level) {
    DesktopScene scene(ScreenSize);
    const std::size_t bytes = std::size_t(ScreenSize.width()) * ScreenSize.height() * 4;
    std::vector<std::uint8_t> previous(bytes, 0), diff(bytes), out(compressBound(uLong(bytes)));
    std::int64_t total = 0;
    for (std::int64_t frame = 0; frame < std::int64_t(seconds) * Fps; ++frame) {
        scene.Step(frame, Fps);
        const std::uint8_t* now = scene.Screen().constBits();
        for (std::size_t i = 0; i < bytes; ++i) diff[i] = now[i] ^ previous[i];
        std::copy(now, now + bytes, previous.begin());
        uLongf size = uLongf(out.size());
        if (compress2(out.data(), &size, diff.data(), uLong(bytes), level) != Z_OK) return -1;
        total += std::int64_t(size) + 4;  // plus a length field per frame
    }
    return total;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: pelio-srf-bench RECORDING.srf [--sample-minutes N]\n");
        return 2;
    }
    const QString path = args[1];
    const int sampleIndex = int(args.indexOf(QStringLiteral("--sample-minutes")));
    const int sampleMinutes =
        sampleIndex > 0 && sampleIndex + 1 < args.size() ? args[sampleIndex + 1].toInt() : 2;

    if (!QFileInfo::exists(path)) {
        std::printf("generating a two-hour recording into %s ...\n", qPrintable(path));
        double taken = 0;
        if (Generate(path, 2 * 3600, &taken) < 0) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
        std::printf("generated in %.0f s (%.0f frames/s encoded)\n", taken, 72000 / taken);
    }

    const double sizeMb = double(QFileInfo(path).size()) / 1e6;
    SrfReader reader;
    Evict(path);
    QElapsedTimer t;
    t.start();
    if (reader.Open(path) != SrfOpenStatus::Ok) {
        std::fprintf(stderr, "cannot open %s\n", qPrintable(path));
        return 1;
    }
    const double coldOpen = Ms(t);
    double warmOpen = 1e9;
    for (int i = 0; i < 5; ++i) {
        SrfReader again;
        t.restart();
        again.Open(path);
        warmOpen = std::min(warmOpen, Ms(t));
    }
    const double minutes = double(reader.LengthMs()) / 60000;
    std::printf("recording: %.1f min, %d frames, %.1f MB, %.1f MB/min, complete=%d\n", minutes,
                reader.FrameCount(), sizeMb, sizeMb / minutes, reader.IsComplete() ? 1 : 0);
    std::printf("open: %.1f ms cold (file evicted from the page cache), %.1f ms warm\n", coldOpen, warmOpen);

    QRandomGenerator random(2024);
    Evict(path);
    double total = 0, worst = 0;
    std::printf("seek:");
    for (int i = 0; i < 10; ++i) {
        const std::int64_t to = random.bounded(qint64(reader.LengthMs()));
        t.restart();
        if (!reader.SeekTo(to)) std::printf(" (failed)");
        const double ms = Ms(t);
        total += ms;
        worst = std::max(worst, ms);
        std::printf(" %.1f", ms);
    }
    std::printf(" ms; mean %.1f ms, worst %.1f ms (cold)\n", total / 10, worst);

    reader.SeekTo(0);
    const int decodeFrames = std::min(6000, reader.FrameCount() - 1);
    t.restart();
    int decoded = 0;
    while (decoded < decodeFrames && reader.NextFrame()) ++decoded;
    std::printf("decode: %d frames in %.0f ms = %.0f frames/s on one core\n", decoded, Ms(t),
                decoded / (Ms(t) / 1000));

    // The same first minutes in both forms.
    QTemporaryDir dir;
    double taken = 0;
    const std::int64_t srfSample =
        Generate(dir.filePath(QStringLiteral("sample.srf")), sampleMinutes * 60, &taken);
    const std::int64_t zlib6 = ZlibDiffSize(sampleMinutes * 60, Z_DEFAULT_COMPRESSION);
    const std::int64_t zlib1 = ZlibDiffSize(sampleMinutes * 60, 1);
    std::printf(
        "first %d min: srf %.1f MB/min; zlib frame diff %.1f MB/min (level 6), %.1f MB/min (level 1)\n",
        sampleMinutes, double(srfSample) / 1e6 / sampleMinutes, double(zlib6) / 1e6 / sampleMinutes,
        double(zlib1) / 1e6 / sampleMinutes);
    return 0;
}
