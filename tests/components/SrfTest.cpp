#include "SrfTestSupport.h"
#include "recording/SrfFormat.h"
#include "recording/SrfReader.h"
#include "recording/SrfWriter.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

using namespace pelio::components;
using pelio::components::test::ExpectedFrame;
using pelio::components::test::RawRecording;
using pelio::components::test::WriteRecording;

namespace {

class SrfTest : public ::testing::Test {
  protected:
    QString Path(const QString& name) const { return m_dir.filePath(name); }

    static void ExpectShows(const SrfReader& reader, const ExpectedFrame& frame) {
        ASSERT_EQ(reader.CurrentTimeMs(), frame.timeMs);
        EXPECT_EQ(reader.Screen(), frame.screen) << "at " << frame.timeMs << " ms";
        EXPECT_EQ(reader.CursorPosition(), frame.cursor);
    }

    static QByteArray ReadAll(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    // The tags of the chunks in a file, in order ('K' key frame, 'D' delta frame, 'I' index).
    static QByteArray ChunkKinds(const QByteArray& bytes) {
        QByteArray kinds;
        const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.constData());
        for (std::size_t at = srf::FileHeaderSize; at + srf::ChunkHeaderSize <= std::size_t(bytes.size());
             at += srf::ChunkHeaderSize + srf::GetU32(p + at + 4))
            kinds += char(p[at]);
        return kinds;
    }

    static void WriteAll(const QString& path, const QByteArray& bytes) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }

    QTemporaryDir m_dir;
};

TEST_F(SrfTest, PlaysEveryFrameInOrderWithLengthAndCursor) {
    const auto expected = WriteRecording(Path("a.srf"), 20, true, 2500);
    ASSERT_EQ(expected.size(), 20u);
    SrfReader reader;
    ASSERT_EQ(reader.Open(Path("a.srf")), SrfOpenStatus::Ok);
    EXPECT_TRUE(reader.IsComplete());
    EXPECT_EQ(reader.LengthMs(), 2500);
    EXPECT_EQ(reader.FrameCount(), 20);
    ExpectShows(reader, expected[0]);
    EXPECT_TRUE(reader.CursorVisible());
    EXPECT_EQ(reader.CursorHotSpot(), QPoint(1, 1));
    ASSERT_EQ(reader.CursorShape().size(), QSize(4, 4));
    EXPECT_EQ(reader.CursorShape().pixelColor(2, 2), QColor(255, 0, 0, 128));
    for (std::size_t i = 1; i < expected.size(); ++i) {
        ASSERT_TRUE(reader.NextFrame());
        ExpectShows(reader, expected[i]);
    }
    EXPECT_FALSE(reader.NextFrame());
}

TEST_F(SrfTest, SeeksForwardAndBackwardToTheFrameAtOrBeforeTheTime) {
    const auto expected = WriteRecording(Path("a.srf"), 30);
    SrfReader reader;
    ASSERT_EQ(reader.Open(Path("a.srf")), SrfOpenStatus::Ok);
    const std::int64_t times[] = {2950, 120, 1000, 999, 1001, 0, 2900, 2899, 450, 451, 1700, -5, 99999};
    for (const std::int64_t t : times) {
        ASSERT_TRUE(reader.SeekTo(t)) << t;
        const std::size_t frame = std::size_t(std::clamp<std::int64_t>(t, 0, 2900) / 100);
        ExpectShows(reader, expected[frame]);
    }
    QRandomGenerator random(42);
    for (int i = 0; i < 50; ++i) {
        const std::int64_t t = random.bounded(3000);
        ASSERT_TRUE(reader.SeekTo(t));
        ExpectShows(reader, expected[std::size_t(t / 100)]);
    }
}

TEST_F(SrfTest, ScreenSizeChangeAndLateFramesAreRecorded) {
    SrfWriter writer;
    ASSERT_TRUE(writer.Open(Path("s.srf"), QSize(32, 16)));
    QImage red(32, 16, QImage::Format_RGB32);
    red.fill(Qt::red);
    writer.UpdateRectFromScreen(red, red.rect());
    ASSERT_TRUE(writer.CommitFrame(500));
    ASSERT_TRUE(writer.SetScreenSize(QSize(20, 40)));
    QImage blue(10, 10, QImage::Format_RGB32);
    blue.fill(Qt::blue);
    writer.UpdateRect(QRect(5, 5, 10, 10), reinterpret_cast<const std::uint32_t*>(blue.constBits()),
                      int(blue.bytesPerLine()));
    ASSERT_TRUE(writer.CommitFrame(100));  // earlier than the last frame: raised to 500
    ASSERT_TRUE(writer.Finish(0));

    SrfReader reader;
    ASSERT_EQ(reader.Open(Path("s.srf")), SrfOpenStatus::Ok);
    EXPECT_EQ(reader.LengthMs(), 500);
    EXPECT_EQ(reader.Screen().size(), QSize(32, 16));
    EXPECT_EQ(reader.Screen().pixelColor(31, 15), QColor(Qt::red));
    ASSERT_TRUE(reader.NextFrame());
    EXPECT_EQ(reader.CurrentTimeMs(), 500);
    EXPECT_EQ(reader.Screen().size(), QSize(20, 40));
    EXPECT_EQ(reader.Screen().pixelColor(0, 0), QColor(Qt::black));
    EXPECT_EQ(reader.Screen().pixelColor(14, 14), QColor(Qt::blue));
    EXPECT_FALSE(reader.CursorVisible());  // no shape was ever set
}

TEST_F(SrfTest, RecordingBeingWrittenIsRefusedUntilFinished) {
    SrfWriter writer;
    ASSERT_TRUE(writer.Open(Path("live.srf"), QSize(16, 16)));
    ASSERT_TRUE(writer.CommitFrame(0));
    SrfReader reader;
    EXPECT_EQ(reader.Open(Path("live.srf")), SrfOpenStatus::BeingWritten);
    EXPECT_FALSE(reader.IsOpen());

    // A second writer must neither take nor truncate it.
    SrfWriter intruder;
    EXPECT_FALSE(intruder.Open(Path("live.srf"), QSize(16, 16)));
    ASSERT_TRUE(writer.CommitFrame(700));
    ASSERT_TRUE(writer.Finish(800));
    ASSERT_EQ(reader.Open(Path("live.srf")), SrfOpenStatus::Ok);
    EXPECT_EQ(reader.FrameCount(), 1);  // nothing changed at 700 ms
    EXPECT_EQ(reader.LengthMs(), 800);
}

TEST_F(SrfTest, RecordingOfADeadWriterPlaysUpToItsLastWholeFrame) {
    const auto expected = WriteRecording(Path("dead.srf"), 12, false);
    SrfReader reader;
    ASSERT_EQ(reader.Open(Path("dead.srf")), SrfOpenStatus::Ok);
    EXPECT_FALSE(reader.IsComplete());
    EXPECT_EQ(reader.FrameCount(), 12);
    EXPECT_EQ(reader.LengthMs(), 1100);
    ASSERT_TRUE(reader.SeekTo(1100));
    ExpectShows(reader, expected[11]);

    // Cut inside the last chunk, as a crash in the middle of a write leaves it: that frame is gone.
    const QByteArray bytes = ReadAll(Path("dead.srf"));
    WriteAll(Path("cut.srf"), bytes.left(bytes.size() - 3));
    ASSERT_EQ(reader.Open(Path("cut.srf")), SrfOpenStatus::Ok);
    EXPECT_EQ(reader.FrameCount(), 11);
    ASSERT_TRUE(reader.SeekTo(5000));
    ExpectShows(reader, expected[10]);
}

TEST_F(SrfTest, FinishedRecordingCutAnywhereKeepsItsWholeFrames) {
    const auto expected = WriteRecording(Path("a.srf"), 8);
    const QByteArray bytes = ReadAll(Path("a.srf"));
    int lastCount = 0;
    for (qsizetype size = bytes.size() - 1; size >= 0; size -= 97) {
        WriteAll(Path("t.srf"), bytes.left(size));
        SrfReader reader;
        const SrfOpenStatus status = reader.Open(Path("t.srf"));
        if (status != SrfOpenStatus::Ok) {
            EXPECT_EQ(status, SrfOpenStatus::NotRecording) << size;
            continue;
        }
        EXPECT_FALSE(reader.IsComplete());
        ASSERT_GE(reader.FrameCount(), 1);
        if (lastCount) {
            EXPECT_LE(reader.FrameCount(), lastCount);
        }
        lastCount = reader.FrameCount();
        ASSERT_TRUE(reader.SeekTo(100000));
        ExpectShows(reader, expected[std::size_t(reader.FrameCount() - 1)]);
    }
    EXPECT_GT(lastCount, 0);
}

TEST_F(SrfTest, DamagedFrameEndsPlaybackAndDamagedIndexIsRebuilt) {
    const auto expected = WriteRecording(Path("a.srf"), 10);
    QByteArray bytes = ReadAll(Path("a.srf"));
    SrfReader reader;
    ASSERT_EQ(reader.Open(Path("a.srf")), SrfOpenStatus::Ok);
    // Flip a byte inside the fourth delta frame's chunk.
    qsizetype at = srf::FileHeaderSize;
    for (int i = 0; i < 4; ++i) {
        at = bytes.indexOf("DELT", at + 1);
        ASSERT_GT(at, 0);
    }
    QByteArray damaged = bytes;
    damaged[at + 20] = char(damaged[at + 20] ^ 0x55);
    WriteAll(Path("d.srf"), damaged);
    ASSERT_EQ(reader.Open(Path("d.srf")), SrfOpenStatus::Ok);
    int played = 1;
    while (reader.NextFrame()) ++played;
    EXPECT_LT(played, 10);
    ExpectShows(reader, expected[std::size_t(played - 1)]);

    // The index chunk is the last one: damage it and the reader rebuilds it by scanning.
    damaged = bytes;
    damaged[damaged.size() - 10] = char(damaged[damaged.size() - 10] ^ 0x01);
    WriteAll(Path("i.srf"), damaged);
    ASSERT_EQ(reader.Open(Path("i.srf")), SrfOpenStatus::Ok);
    EXPECT_FALSE(reader.IsComplete());
    EXPECT_EQ(reader.FrameCount(), 10);
    ASSERT_TRUE(reader.SeekTo(900));
    ExpectShows(reader, expected[9]);
}

TEST_F(SrfTest, ScreensLargerThanAnyRealOneAreRefused) {
    SrfWriter writer;
    EXPECT_FALSE(writer.Open(Path("w.srf"), QSize(8192, 8192)));
    EXPECT_FALSE(writer.Open(Path("w.srf"), QSize(4321, 8192)));
    ASSERT_TRUE(writer.Open(Path("w.srf"), QSize(64, 48)));
    EXPECT_FALSE(writer.SetScreenSize(QSize(8192, 4321)));
    EXPECT_EQ(writer.ScreenSize(), QSize(64, 48));
    writer.Abandon();

    RawRecording huge;
    huge.Key(0, QSize(8192, 8192));
    ASSERT_TRUE(huge.Save(Path("huge.srf")));
    SrfReader reader;
    EXPECT_EQ(reader.Open(Path("huge.srf")), SrfOpenStatus::NotRecording);
    // Grown later: the recording plays up to the frame that asks for too much.
    RawRecording grows;
    grows.Key(0, QSize(64, 48), 200);
    grows.Key(100, QSize(8192, 8192));
    ASSERT_TRUE(grows.Save(Path("grows.srf")));
    ASSERT_EQ(reader.Open(Path("grows.srf")), SrfOpenStatus::Ok);
    EXPECT_FALSE(reader.SeekTo(100));
    EXPECT_EQ(reader.Screen().size(), QSize(64, 48));
    EXPECT_EQ(reader.Screen().pixelColor(3, 3), QColor(200, 200, 200));
}

TEST_F(SrfTest, SeeksDecodeBoundedWorkAndTheWriterStaysWithinIt) {
    // Delta frames beyond the bound count as damage: the picture stops at the last one inside.
    RawRecording endless;
    endless.Key(0, QSize(64, 48));
    for (int i = 1; i <= srf::MaxDeltaFrames + 5; ++i)
        endless.Frame(false, i, QSize(64, 48), {{i % 64, 0, 1, 1}}, 9);
    ASSERT_TRUE(endless.Save(Path("endless.srf")));
    SrfReader reader;
    ASSERT_EQ(reader.Open(Path("endless.srf")), SrfOpenStatus::Ok);
    EXPECT_FALSE(reader.SeekTo(100000));
    EXPECT_EQ(reader.CurrentFrame(), srf::MaxDeltaFrames);

    // The writer: a key frame at least every 5 s whatever it was asked for, and before too many deltas.
    SrfWriter::Options options;
    options.keyFrameIntervalMs = 60000;
    SrfWriter writer(options);
    ASSERT_TRUE(writer.Open(Path("w.srf"), QSize(64, 48)));
    const std::uint32_t pixel = 0xff102030;
    for (int i = 0; i <= 12; ++i) {
        writer.UpdateRect(QRect(i, 0, 1, 1), &pixel, 4);
        ASSERT_TRUE(writer.CommitFrame(i * 1000));
    }
    for (int i = 0; i < srf::MaxDeltaFrames + 10; ++i) {
        writer.UpdateRect(QRect(i % 64, 1, 1, 1), &pixel, 4);
        ASSERT_TRUE(writer.CommitFrame(12000));
    }
    ASSERT_TRUE(writer.Finish(12000));
    const QByteArray kinds = ChunkKinds(ReadAll(Path("w.srf")));
    EXPECT_TRUE(kinds.startsWith("KDDDDKDDDDKDDD")) << kinds.left(20).constData();
    EXPECT_EQ(kinds.lastIndexOf('K'), 11 + srf::MaxDeltaFrames);
    ASSERT_EQ(reader.Open(Path("w.srf")), SrfOpenStatus::Ok);
    EXPECT_TRUE(reader.SeekTo(12000));
    EXPECT_EQ(reader.CurrentFrame(), reader.FrameCount() - 1);
}

TEST_F(SrfTest, ForeignRandomAndMissingFilesAreRefused) {
    SrfReader reader;
    EXPECT_EQ(reader.Open(Path("missing.srf")), SrfOpenStatus::CannotRead);
    EXPECT_EQ(reader.Open(m_dir.path()), SrfOpenStatus::CannotRead);
    WriteAll(Path("empty.srf"), QByteArray());
    EXPECT_EQ(reader.Open(Path("empty.srf")), SrfOpenStatus::NotRecording);
    WriteAll(Path("page.srf"), QByteArray("<html><body>not a recording</body></html>").repeated(10));
    EXPECT_EQ(reader.Open(Path("page.srf")), SrfOpenStatus::NotRecording);
    // A header and nothing else: no frame to play.
    WriteRecording(Path("a.srf"), 3);
    WriteAll(Path("head.srf"), ReadAll(Path("a.srf")).left(srf::FileHeaderSize));
    EXPECT_EQ(reader.Open(Path("head.srf")), SrfOpenStatus::NotRecording);

    QRandomGenerator random(7);
    const QByteArray header = ReadAll(Path("a.srf")).left(srf::FileHeaderSize);
    for (int i = 0; i < 200; ++i) {
        QByteArray bytes(random.bounded(1, 5000), Qt::Uninitialized);
        for (char& c : bytes) c = char(random.bounded(256));
        if (i % 2) bytes.replace(0, std::min<qsizetype>(bytes.size(), header.size()), header);
        WriteAll(Path("r.srf"), bytes);
        const SrfOpenStatus status = reader.Open(Path("r.srf"));
        EXPECT_EQ(status, SrfOpenStatus::NotRecording) << i;
        EXPECT_FALSE(reader.IsOpen());
    }
}

}  // namespace
