// Small recordings with known content, written through the real writer, and the screens the reader
// must show for them.
#pragma once

#include "recording/SrfWriter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QString>

#include <functional>
#include <vector>

namespace pelio::components::test {

struct ExpectedFrame {
    std::int64_t timeMs;
    QImage screen;
    QPoint cursor;
};

// Writes `frames` frames 100 ms apart on a 64 x 48 screen: frame i paints a 16 x 12 block, whose place
// and colour depend on i, and moves the cursor to (i, 2i). Key frames every 300 ms. Returns what each
// frame shows. With finish false the file is left as a writer that died would leave it.
inline std::vector<ExpectedFrame> WriteRecording(const QString& path, int frames, bool finish = true,
                                                 std::int64_t lengthMs = -1) {
    SrfWriter::Options options;
    options.keyFrameIntervalMs = 300;
    SrfWriter writer(options);
    std::vector<ExpectedFrame> expected;
    if (!writer.Open(path, QSize(64, 48))) return expected;
    QImage screen(64, 48, QImage::Format_RGB32);
    screen.fill(Qt::black);
    QImage cursor(4, 4, QImage::Format_ARGB32);
    cursor.fill(QColor(255, 0, 0, 128));
    writer.SetCursorShape(cursor, QPoint(1, 1));
    for (int i = 0; i < frames; ++i) {
        const QRect block((i * 16) % 64, ((i / 4) * 12) % 48, 16, 12);
        const QColor colour((i * 37) % 256, (i * 91) % 256, (i * 53 + 20) % 256);
        for (int y = block.top(); y <= block.bottom(); ++y)
            for (int x = block.left(); x <= block.right(); ++x) screen.setPixelColor(x, y, colour);
        writer.UpdateRectFromScreen(screen, block);
        writer.SetCursorPosition(QPoint(i, 2 * i));
        const std::int64_t t = std::int64_t(i) * 100;
        if (!writer.CommitFrame(t)) return {};
        expected.push_back({t, screen.copy(), QPoint(i, 2 * i)});
    }
    if (finish)
        writer.Finish(lengthMs < 0 ? std::int64_t(frames - 1) * 100 : lengthMs);
    else
        writer.Abandon();
    return expected;
}

// Processes events until the condition holds or the deadline passes; returns the condition.
inline bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 5000) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

}  // namespace pelio::components::test
