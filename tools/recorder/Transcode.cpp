#include "Transcode.h"

#include "recording/SrfReader.h"

#include <QRegion>

#include <time.h>
#include <cstring>

namespace pelio::recorder {

namespace {

double ThreadCpuSeconds() {
    timespec ts{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// The 32 x 32 tiles in which two screens of the same size differ.
QRegion ChangedTiles(const QImage& before, const QImage& after) {
    constexpr int Tile = 32;
    QRegion changed;
    for (int ty = 0; ty < after.height(); ty += Tile) {
        const int h = std::min(Tile, after.height() - ty);
        for (int tx = 0; tx < after.width(); tx += Tile) {
            const int w = std::min(Tile, after.width() - tx);
            for (int y = ty; y < ty + h; ++y) {
                if (std::memcmp(before.constScanLine(y) + tx * 4, after.constScanLine(y) + tx * 4,
                                std::size_t(w) * 4) != 0) {
                    changed += QRect(tx, ty, w, h);
                    break;
                }
            }
        }
    }
    return changed;
}

}  // namespace

TranscodeResult Transcode(const QString& from, const QString& to, components::SrfWriter::Options options) {
    TranscodeResult result;
    components::SrfReader reader;
    if (reader.Open(from) != components::SrfOpenStatus::Ok) return result;
    components::SrfWriter writer(options);
    double cpu = 0;
    auto timed = [&cpu](auto&& call) {
        const double start = ThreadCpuSeconds();
        call();
        cpu += ThreadCpuSeconds() - start;
    };
    QImage previous;
    QImage previousShape;
    bool opened = false;
    do {
        const QImage& screen = reader.Screen();
        QRegion changed;
        if (!opened) {
            timed([&] { opened = writer.Open(to, screen.size()); });
            if (!opened) return result;
            changed = screen.rect();
        } else if (screen.size() != previous.size()) {
            timed([&] { writer.SetScreenSize(screen.size()); });
            changed = screen.rect();
        } else {
            changed = ChangedTiles(previous, screen);
        }
        const bool newShape = reader.CursorShape().cacheKey() != previousShape.cacheKey();
        timed([&] {
            for (const QRect& r : changed) writer.UpdateRectFromScreen(screen, r);
            if (newShape) writer.SetCursorShape(reader.CursorShape(), reader.CursorHotSpot());
            writer.SetCursorPosition(reader.CursorPosition(), reader.CursorVisible());
            result.ok = writer.CommitFrame(reader.CurrentTimeMs());
        });
        if (!result.ok) return result;
        previous = screen.copy();
        previousShape = reader.CursorShape();
    } while (reader.NextFrame());
    result.frames = writer.FrameCount();
    result.lengthMs = reader.LengthMs();
    timed([&] { result.ok = writer.Finish(reader.LengthMs()); });
    result.bytes = writer.BytesWritten();
    result.writerCpuSeconds = cpu;
    return result;
}

}  // namespace pelio::recorder
