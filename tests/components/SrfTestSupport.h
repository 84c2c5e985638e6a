// Small recordings with known content, written through the real writer, and the screens the reader
// must show for them.
#pragma once

#include "recording/SrfFormat.h"
#include "recording/SrfWriter.h"

#include <QFile>
#include <QImage>
#include <QString>

#include <algorithm>
#include <cstring>
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

// Builds ".srf" bytes frame by frame, as the writer never would: for files outside the format's
// bounds. The file is left unfinished (no index), as a writer that died leaves it. Each frame fills its
// rectangles with one grey and has no cursor; its pixel data is a zstd frame of run-length blocks, so
// that even a huge screen takes a few bytes.
class RawRecording {
  public:
    RawRecording() : m_bytes(srf::FileHeaderSize, '\0') {
        auto* h = reinterpret_cast<std::uint8_t*>(m_bytes.data());
        std::memcpy(h, srf::Magic, 8);
        srf::PutU16(h + 8, srf::Version);
        srf::PutU16(h + 10, srf::FileHeaderSize);
        srf::PutU32(h + 60, srf::Crc32(h, 60));
    }

    void Frame(bool key, std::uint32_t timeMs, QSize screen, const std::vector<QRect>& rects, int grey) {
        QByteArray payload(4 + 5 + 2 + 2 + 8 * int(rects.size()) + 2 + 8, '\0');
        auto* p = reinterpret_cast<std::uint8_t*>(payload.data());
        srf::PutU16(p, std::uint16_t(screen.width()));
        srf::PutU16(p + 2, std::uint16_t(screen.height()));
        p += 9 + 2;  // no cursor, no moves
        srf::PutU16(p, std::uint16_t(rects.size()));
        p += 2;
        std::uint64_t size = 0;
        for (const QRect& r : rects) {
            for (const int v : {r.x(), r.y(), r.width(), r.height()}) {
                srf::PutU16(p, std::uint16_t(v));
                p += 2;
            }
            size += std::uint64_t(r.width()) * std::uint64_t(r.height()) * 3;
        }
        p += 2;  // no pictures
        srf::PutU32(p, std::uint32_t(size));
        // zstd frame: magic, single segment with an 8-byte content size, then run-length blocks.
        std::uint8_t head[13] = {0x28, 0xb5, 0x2f, 0xfd, 0xe0};
        srf::PutU64(head + 5, size);
        QByteArray zstd(reinterpret_cast<const char*>(head), sizeof head);
        for (std::uint64_t left = size; left > 0;) {
            const std::uint32_t n = std::uint32_t(std::min<std::uint64_t>(left, 128 * 1024));
            left -= n;
            const std::uint32_t block = (left == 0 ? 1u : 0u) | 1u << 1 | n << 3;
            const char bytes[4] = {char(block), char(block >> 8), char(block >> 16), char(grey)};
            zstd.append(bytes, 4);
        }
        srf::PutU32(p + 4, std::uint32_t(zstd.size()));
        payload.append(zstd);
        std::uint8_t chunk[srf::ChunkHeaderSize];
        srf::PutU32(chunk, key ? srf::TagKeyFrame : srf::TagDeltaFrame);
        srf::PutU32(chunk + 4, std::uint32_t(payload.size()));
        srf::PutU32(chunk + 8, timeMs);
        srf::PutU32(chunk + 12,
                    srf::ChunkCrc(chunk, reinterpret_cast<const std::uint8_t*>(payload.constData()),
                                  std::size_t(payload.size())));
        m_bytes.append(reinterpret_cast<const char*>(chunk), sizeof chunk);
        m_bytes.append(payload);
    }
    void Key(std::uint32_t timeMs, QSize screen, int grey = 0) {
        Frame(true, timeMs, screen, {QRect(QPoint(0, 0), screen)}, grey);
    }

    bool Save(const QString& path) const {
        QFile f(path);
        return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(m_bytes) == m_bytes.size();
    }

  private:
    QByteArray m_bytes;
};

}  // namespace pelio::components::test
