// Recordings of screen content as the writer meets it: text that scrolls (stored as moved rows), a
// video-like area (stored as JPEG pictures) and the rest exact; and recordings of the first format.
#include "SrfTestSupport.h"
#include "recording/SrfReader.h"
#include "recording/SrfWriter.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdlib>

using namespace pelio::components;

namespace {

constexpr QSize Screen(256, 192);
const QRect TextArea(0, 0, 192, 160);
const QRect VideoArea(192, 96, 64, 96);
constexpr int LineHeight = 10;

// A line of "glyphs": 6 x 10 cells of white, black and two anti-aliasing greys.
void DrawLine(QImage& screen, int y, QRandomGenerator& random) {
    static const QRgb Greys[] = {qRgb(255, 255, 255), qRgb(0, 0, 0), qRgb(96, 96, 96), qRgb(200, 200, 200)};
    for (int cell = 0; cell < TextArea.width() / 6; ++cell) {
        const bool blank = random.bounded(5) == 0;
        for (int dy = 0; dy < LineHeight; ++dy)
            for (int dx = 0; dx < 6; ++dx)
                screen.setPixel(cell * 6 + dx, y + dy,
                                blank || dy >= 8 || dx == 5 ? Greys[0] : Greys[random.bounded(4)]);
    }
}

// Smooth moving waves, as a video frame shows.
void DrawVideo(QImage& screen, int frame) {
    for (int y = VideoArea.top(); y <= VideoArea.bottom(); ++y)
        for (int x = VideoArea.left(); x <= VideoArea.right(); ++x)
            screen.setPixel(x, y,
                            qRgb(128 + int(100 * std::sin((x + frame * 3) * 0.05)),
                                 128 + int(100 * std::cos((y + frame) * 0.07)),
                                 128 + int(60 * std::sin((x + y + frame * 5) * 0.03))));
}

// Reports the 32 x 32 tiles that changed, as the screen capture does.
void ReportChanges(SrfWriter& writer, const QImage& before, const QImage& now) {
    for (int y = 0; y < now.height(); y += 32)
        for (int x = 0; x < now.width(); x += 32) {
            const QRect tile = QRect(x, y, 32, 32).intersected(now.rect());
            if (before.isNull() || before.copy(tile) != now.copy(tile))
                writer.UpdateRectFromScreen(now, tile);
        }
}

int MaxDifference(const QImage& a, const QImage& b, const QRect& area) {
    int worst = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            worst = std::max({worst, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                              std::abs(qBlue(p) - qBlue(q))});
        }
    return worst;
}

QImage WithoutVideo(const QImage& screen) {
    QImage copy = screen.copy();
    for (int y = VideoArea.top(); y <= VideoArea.bottom(); ++y)
        for (int x = VideoArea.left(); x <= VideoArea.right(); ++x) copy.setPixel(x, y, 0xff000000u);
    return copy;
}

TEST(SrfContentTest, ScrolledTextStaysExactVideoCloseAndSeeksAndCutsMatchPlaying) {
    QTemporaryDir dir;
    const QString path = dir.filePath("content.srf");
    QRandomGenerator random(7);
    SrfWriter::Options options;
    options.keyFrameIntervalMs = 2000;
    SrfWriter writer(options);
    ASSERT_TRUE(writer.Open(path, Screen));
    QImage screen(Screen, QImage::Format_RGB32);
    screen.fill(qRgb(30, 60, 90));
    for (int y = 0; y < TextArea.height(); y += LineHeight) DrawLine(screen, y, random);
    std::vector<QImage> fed;
    QImage before;
    constexpr int Frames = 60;
    for (int i = 0; i < Frames; ++i) {
        if (i > 0) {
            // One or two new lines at the bottom; the rest scrolls up.
            const int lines = 1 + i % 2;
            const QImage text = screen.copy(TextArea);
            for (int y = 0; y + lines * LineHeight < TextArea.height(); ++y)
                std::copy_n(text.constScanLine(y + lines * LineHeight), TextArea.width() * 4,
                            screen.scanLine(y));
            for (int n = lines; n > 0; --n) DrawLine(screen, TextArea.height() - n * LineHeight, random);
        }
        DrawVideo(screen, i);
        ReportChanges(writer, before, screen);
        ASSERT_TRUE(writer.CommitFrame(i * 100));
        before = screen.copy();
        fed.push_back(before);
    }
    ASSERT_TRUE(writer.Finish((Frames - 1) * 100));

    SrfReader reader;
    ASSERT_EQ(reader.Open(path), SrfOpenStatus::Ok);
    ASSERT_EQ(reader.FrameCount(), Frames);
    std::vector<QImage> played;
    for (int i = 0; i < Frames; ++i) {
        if (i > 0) {
            ASSERT_TRUE(reader.NextFrame()) << i;
        }
        EXPECT_EQ(WithoutVideo(reader.Screen()), WithoutVideo(fed[std::size_t(i)])) << "frame " << i;
        EXPECT_LE(MaxDifference(reader.Screen(), fed[std::size_t(i)], VideoArea), 24) << "frame " << i;
        played.push_back(reader.Screen().copy());
    }
    for (int n = 0; n < 12; ++n) {
        const int i = int(random.bounded(Frames));
        ASSERT_TRUE(reader.SeekTo(i * 100 + 50));
        EXPECT_EQ(reader.Screen(), played[std::size_t(i)]) << "seek to frame " << i;
    }

    // A writer killed mid-write: every whole frame before the cut plays as it did.
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    const QString cut = dir.filePath("cut.srf");
    QFile out(cut);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(bytes.left(bytes.size() * 2 / 3));
    out.close();
    SrfReader partial;
    ASSERT_EQ(partial.Open(cut), SrfOpenStatus::Ok);
    ASSERT_GT(partial.FrameCount(), Frames / 3);
    for (int i = 0; i < partial.FrameCount(); ++i) {
        if (i > 0) {
            ASSERT_TRUE(partial.NextFrame());
        }
        EXPECT_EQ(partial.Screen(), played[std::size_t(i)]) << "frame " << i << " of the cut file";
    }
}

TEST(SrfContentTest, RecordingOfTheFirstFormatStillPlays) {
    QTemporaryDir dir;
    const auto expected = test::WriteRecording(dir.filePath("same-frames.srf"), 12);
    SrfReader reader;
    ASSERT_EQ(reader.Open(QStringLiteral(PELIO_SRF_TEST_DATA "/recording-v1.srf")), SrfOpenStatus::Ok);
    ASSERT_EQ(reader.FrameCount(), int(expected.size()));
    for (std::size_t i = 0; i < expected.size(); ++i) {
        if (i > 0) {
            ASSERT_TRUE(reader.NextFrame());
        }
        EXPECT_EQ(reader.Screen(), expected[i].screen) << "frame " << i;
        EXPECT_EQ(reader.CursorPosition(), expected[i].cursor);
    }
    ASSERT_TRUE(reader.SeekTo(550));
    EXPECT_EQ(reader.Screen(), expected[5].screen);
}

}  // namespace
