// The latency marker of the benchmarks: its number reads back after lossy JPEG wherever the encoder's
// blocks fall, a marker torn between two numbers reads as one of them or as none, and the log matches
// numbers read back to the times they were drawn.
#include "LatencyMarker.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QColor>
#include <QImage>

#include <random>

using namespace pelio::bench;

namespace {

// The marker of `sequence` at (dx, dy) in a noisy picture, through JPEG of `quality`.
QImage ThroughJpeg(std::uint32_t sequence, int dx, int dy, int quality) {
    QImage image(kMarkerWidth + 32, kMarkerHeight + 32, QImage::Format_RGB32);
    std::mt19937 random(sequence);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) image.setPixel(x, y, random() & 0xffffff);
    const std::vector<std::uint32_t> marker = MarkerPixels(sequence);
    for (int y = 0; y < kMarkerHeight; ++y)
        for (int x = 0; x < kMarkerWidth; ++x)
            image.setPixel(dx + x, dy + y, marker[std::size_t(y * kMarkerWidth + x)]);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(image.save(&buffer, "JPG", quality));
    return QImage::fromData(bytes, "JPG");
}

std::optional<std::uint32_t> Read(const QImage& image, int dx, int dy) {
    return ReadMarker([&](int x, int y) { return qGray(image.pixel(dx + x, dy + y)); });
}

}  // namespace

TEST(LatencyMarker, ReadsBackThroughLossyJpegAtAnyOffset) {
    for (const int quality : {5, 15, 50, 95})
        for (const std::uint32_t sequence : {1u, 2u, 77u, 4095u, 65537u, 1048575u})
            for (const int offset : {0, 3, 7, 12}) {
                const QImage image = ThroughJpeg(sequence, 8 + offset, 8 + offset / 2, quality);
                ASSERT_FALSE(image.isNull());
                EXPECT_EQ(Read(image, 8 + offset, 8 + offset / 2), sequence)
                    << "quality " << quality << " offset " << offset;
            }
}

TEST(LatencyMarker, TornMarkerReadsAsEitherNumberOrNone) {
    // The old number's marker with the new one's cells from some point on, in reading order.
    for (std::uint32_t old = 1; old < 3000; ++old)
        for (const std::uint32_t step : {1u, 2u, 5u, 37u}) {
            const std::vector<std::uint32_t> a = MarkerPixels(old), b = MarkerPixels(old + step);
            for (int split = kMarkerCell; split < kMarkerHeight; split += kMarkerCell) {
                const auto read = ReadMarker([&](int x, int y) {
                    return int((y < split ? a : b)[std::size_t(y * kMarkerWidth + x)] & 0xff);
                });
                EXPECT_TRUE(!read || *read == old || *read == old + step) << old << " + " << step;
            }
            for (int split = kMarkerCell; split < kMarkerWidth; split += kMarkerCell) {
                const auto read = ReadMarker([&](int x, int y) {
                    return int((x < split ? a : b)[std::size_t(y * kMarkerWidth + x)] & 0xff);
                });
                EXPECT_TRUE(!read || *read == old || *read == old + step) << old << " + " << step;
            }
        }
}

TEST(LatencyMarker, BlankScreenReadsAsNone) {
    EXPECT_FALSE(ReadMarker([](int, int) { return 0; }));
    EXPECT_FALSE(ReadMarker([](int, int) { return 255; }));
    EXPECT_FALSE(ReadMarker([](int, int) { return 128; }));
}

TEST(LatencyMarker, LogCountsEachNewNumberOnceWithItsDelay) {
    MarkerTimes times;
    const auto t0 = MarkerTimes::Clock::now();
    for (int i = 0; i < 10; ++i) times.Drawn(t0 + std::chrono::milliseconds(10 * i));  // numbers 1..10
    EXPECT_EQ(times.Next(), 11u);
    LatencyLog log(&times);
    EXPECT_TRUE(log.Shown(1, t0 + std::chrono::milliseconds(5)));  // before counting: followed only
    log.StartCounting();
    EXPECT_FALSE(log.Shown(1, t0 + std::chrono::milliseconds(50)));  // not new
    EXPECT_TRUE(log.Shown(3, t0 + std::chrono::milliseconds(40)));   // drawn at 20: 20 ms
    EXPECT_FALSE(log.Shown(2, t0 + std::chrono::milliseconds(45)));  // older than one shown
    EXPECT_FALSE(log.Shown(std::nullopt, t0 + std::chrono::milliseconds(45)));
    EXPECT_FALSE(log.Shown(11, t0 + std::chrono::milliseconds(45)));  // never drawn
    EXPECT_TRUE(log.Shown(10, t0 + std::chrono::milliseconds(130)));  // drawn at 90: 40 ms
    EXPECT_EQ(log.Frames(), 2);
    EXPECT_DOUBLE_EQ(log.Quantile(0.5), 20);
    EXPECT_DOUBLE_EQ(log.Quantile(0.95), 40);
}
