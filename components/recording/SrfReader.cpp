#include "recording/SrfReader.h"

#include "recording/SrfFormat.h"
#include "recording/SrfMoves.h"
#include "recording/SrfPictures.h"

#include <QFile>

#include <zstd.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <functional>
#include <vector>

namespace pelio::components {

namespace {

struct Entry {
    std::uint64_t offset;
    std::uint32_t timeMs;
    bool key;
};

bool PReadAll(int fd, std::uint8_t* data, std::size_t size, std::uint64_t offset) {
    while (size > 0) {
        const ssize_t n = ::pread(fd, data, size, off_t(offset));
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return false;
        data += n;
        size -= std::size_t(n);
        offset += std::uint64_t(n);
    }
    return true;
}

// Bounds-checked reading of a payload.
class Cursor {
  public:
    Cursor(const std::uint8_t* p, std::size_t n) : m_p(p), m_end(p + n) {}
    bool Has(std::size_t n) const { return std::size_t(m_end - m_p) >= n; }
    std::uint8_t U8() { return *m_p++; }
    std::uint16_t U16() {
        const std::uint16_t v = srf::GetU16(m_p);
        m_p += 2;
        return v;
    }
    std::uint32_t U32() {
        const std::uint32_t v = srf::GetU32(m_p);
        m_p += 4;
        return v;
    }
    const std::uint8_t* Here() const { return m_p; }
    std::size_t Left() const { return std::size_t(m_end - m_p); }

  private:
    const std::uint8_t* m_p;
    const std::uint8_t* m_end;
};

}  // namespace

struct SrfReader::Impl {
    int fd = -1;
    std::uint64_t fileSize = 0;
    bool complete = false;
    std::int64_t length = 0;
    std::int64_t createdMs = -1;
    std::vector<Entry> entries;
    int current = -1;
    // The delta frames decoded since the last key frame, and the pixels they changed.
    int runFrames = 0;
    std::int64_t runPixels = 0;

    QImage screen;
    QImage cursorShape;
    QPoint cursorHot;
    QPoint cursorPos;
    bool cursorVisible = false;

    ZSTD_DCtx* dctx = nullptr;
    std::uint16_t version = srf::Version;
    std::vector<std::uint8_t> chunk;
    std::vector<std::uint8_t> raw;
    std::vector<std::uint8_t> prefix;
    std::vector<std::uint8_t> movedRows;             // what the moves of the frame being decoded overwrote
    std::vector<std::vector<std::uint8_t>> decoded;  // its pictures, decoded

    ~Impl() {
        if (dctx) ZSTD_freeDCtx(dctx);
    }

    // Reads the chunk at offset whole and checks its checksum; the payload is then in chunk[16..].
    bool ReadChunk(std::uint64_t offset, std::uint32_t* tag, std::uint32_t* timeMs) {
        if (offset > fileSize || fileSize - offset < srf::ChunkHeaderSize) return false;
        std::uint8_t h[srf::ChunkHeaderSize];
        if (!PReadAll(fd, h, sizeof h, offset)) return false;
        const std::uint32_t size = srf::GetU32(h + 4);
        if (size > srf::MaxChunkPayload || size > fileSize - offset - srf::ChunkHeaderSize) return false;
        chunk.resize(size);
        if (size > 0 && !PReadAll(fd, chunk.data(), size, offset + srf::ChunkHeaderSize)) return false;
        if (srf::ChunkCrc(h, chunk.data(), size) != srf::GetU32(h + 12)) return false;
        *tag = srf::GetU32(h);
        *timeMs = srf::GetU32(h + 8);
        return true;
    }

    bool LoadIndex(std::uint64_t indexOffset, std::uint32_t headerLength, std::uint32_t headerFrames) {
        std::uint32_t tag = 0, time = 0;
        if (!ReadChunk(indexOffset, &tag, &time) || tag != srf::TagIndex || chunk.size() < 8) return false;
        const std::uint32_t count = srf::GetU32(chunk.data());
        const std::uint32_t len = srf::GetU32(chunk.data() + 4);
        if (count == 0 || count != headerFrames || len != headerLength ||
            (chunk.size() - 8) / srf::IndexEntrySize != count ||
            (chunk.size() - 8) % srf::IndexEntrySize != 0)
            return false;
        std::vector<Entry> list;
        list.reserve(count);
        const std::uint8_t* p = chunk.data() + 8;
        std::uint64_t lastOffset = 0;
        std::uint32_t lastTime = 0;
        for (std::uint32_t i = 0; i < count; ++i, p += srf::IndexEntrySize) {
            Entry e{srf::GetU64(p), srf::GetU32(p + 8), (srf::GetU32(p + 12) & 1) != 0};
            if (e.offset < srf::FileHeaderSize || e.offset >= indexOffset ||
                (i > 0 && e.offset <= lastOffset) || e.timeMs < lastTime || e.timeMs > len)
                return false;
            lastOffset = e.offset;
            lastTime = e.timeMs;
            list.push_back(e);
        }
        if (!list.front().key) return false;
        entries = std::move(list);
        length = len;
        return true;
    }

    // Walks the chunks from the start and keeps every whole frame up to the first damaged chunk.
    bool Scan() {
        std::vector<Entry> list;
        std::uint64_t offset = srf::FileHeaderSize;
        std::uint32_t lastTime = 0;
        std::uint32_t tag = 0, time = 0;
        while (ReadChunk(offset, &tag, &time)) {
            if (tag == srf::TagKeyFrame || tag == srf::TagDeltaFrame) {
                if (time < lastTime || (list.empty() && tag != srf::TagKeyFrame)) break;
                list.push_back({offset, time, tag == srf::TagKeyFrame});
                lastTime = time;
            } else if (tag != srf::TagIndex) {
                break;
            }
            offset += srf::ChunkHeaderSize + chunk.size();
        }
        if (list.empty()) return false;
        entries = std::move(list);
        length = lastTime;
        return true;
    }

    // Decodes the frame at entries[i] onto the current screen. False when it is damaged.
    bool Decode(int i) {
        std::uint32_t tag = 0, time = 0;
        const Entry& e = entries[std::size_t(i)];
        if (!ReadChunk(e.offset, &tag, &time)) return false;
        if (tag != (e.key ? srf::TagKeyFrame : srf::TagDeltaFrame) || time != e.timeMs) return false;
        Cursor c(chunk.data(), chunk.size());
        if (!c.Has(9)) return false;
        const int width = c.U16();
        const int height = c.U16();
        if (!srf::ValidScreenSize(width, height)) return false;
        const QSize size(width, height);
        if (!e.key && screen.size() != size) return false;
        const std::uint8_t flags = c.U8();
        const int cx = std::int16_t(c.U16());
        const int cy = std::int16_t(c.U16());
        int shapeW = 0, shapeH = 0, hotX = 0, hotY = 0;
        if (flags & srf::CursorShapeFollows) {
            if (!c.Has(8)) return false;
            shapeW = c.U16();
            shapeH = c.U16();
            hotX = c.U16();
            hotY = c.U16();
            if (shapeW < 1 || shapeH < 1 || shapeW > srf::MaxCursorSide || shapeH > srf::MaxCursorSide ||
                hotX >= shapeW || hotY >= shapeH)
                return false;
        }
        // Version 2: the moves, applied before the rectangles.
        std::vector<srf::Move> moves;
        std::int64_t movedPixels = 0;
        if (version >= 2) {
            if (!c.Has(2)) return false;
            const int moveCount = c.U16();
            if (!c.Has(std::size_t(moveCount) * 10) || (e.key && moveCount != 0)) return false;
            moves.reserve(std::size_t(moveCount));
            for (int m = 0; m < moveCount; ++m) {
                const int x = c.U16(), y = c.U16(), w = c.U16(), h = c.U16(), sourceY = c.U16();
                if (w < 1 || h < 1 || x + w > width || y + h > height || sourceY + h > height) return false;
                moves.push_back({QRect(x, y, w, h), sourceY});
                movedPixels += std::int64_t(w) * h;
            }
        }
        if (!c.Has(2)) return false;
        const int rectCount = c.U16();
        if (!c.Has(std::size_t(rectCount) * 8 + 4)) return false;
        std::vector<QRect> rects;
        rects.reserve(std::size_t(rectCount));
        std::size_t rectPixels = 0;
        for (int r = 0; r < rectCount; ++r) {
            const int x = c.U16(), y = c.U16(), w = c.U16(), h = c.U16();
            if (w < 1 || h < 1 || x + w > width || y + h > height) return false;
            rects.emplace_back(x, y, w, h);
            rectPixels += std::size_t(w) * std::size_t(h);
        }
        // Version 2: the pictures (JPEG images), applied after the rectangles.
        std::vector<QRect> pictures;
        std::vector<std::uint32_t> pictureSizes;
        std::size_t picturePixels = 0, pictureBytes = 0;
        if (version >= 2) {
            if (!c.Has(2)) return false;
            const int pictureCount = c.U16();
            if (!c.Has(std::size_t(pictureCount) * 12) || (e.key && pictureCount != 0)) return false;
            for (int n = 0; n < pictureCount; ++n) {
                const int x = c.U16(), y = c.U16(), w = c.U16(), h = c.U16();
                const std::uint32_t bytes = c.U32();
                if (w < 1 || h < 1 || x + w > width || y + h > height || bytes == 0) return false;
                pictures.emplace_back(x, y, w, h);
                pictureSizes.push_back(bytes);
                picturePixels += std::size_t(w) * std::size_t(h);
                pictureBytes += bytes;
            }
        }
        const std::size_t expected = rectPixels * 3 + std::size_t(shapeW) * std::size_t(shapeH) * 4;
        if (e.key && (rectCount != 1 || rects[0] != QRect(QPoint(0, 0), size))) return false;
        // Rectangles and pictures of one frame never overlap, so a frame holds at most one screen.
        if (rectPixels + picturePixels > std::size_t(width) * std::size_t(height)) return false;
        // Past the bounds on what lies between key frames the writer would have written a key frame.
        const std::int64_t pixels = std::int64_t(rectPixels) + std::int64_t(picturePixels) + movedPixels +
                                    std::int64_t(shapeW) * shapeH;
        if (!e.key && (runFrames >= srf::MaxDeltaFrames || runPixels + pixels > srf::MaxDeltaPixels))
            return false;
        if (!c.Has(4) || c.U32() != expected) return false;
        std::size_t packed = c.Left();
        if (version >= 2) {
            if (!c.Has(4)) return false;
            packed = c.U32();
            if (packed > c.Left() || c.Left() - packed != pictureBytes) return false;
        }
        const unsigned long long declared = ZSTD_getFrameContentSize(c.Here(), packed);
        if (declared != expected) return false;
        raw.resize(expected);
        ZSTD_DCtx_reset(dctx, ZSTD_reset_session_only);
        // Everything that can fail happens before the screen changes for good: the moves are undone
        // when the pixel data or a picture turns out damaged, so the screen keeps the frame before.
        const bool moved = !e.key && !moves.empty();
        auto fail = [&] {
            if (moved) srf::UndoMoves(screen.bits(), std::size_t(screen.bytesPerLine()), 4, moves, movedRows);
            return false;
        };
        if (!e.key && version >= 2) {
            srf::ApplyMoves(screen.bits(), std::size_t(screen.bytesPerLine()), 4, moves, &movedRows);
            // What the writer compressed against: the screen after the moves (SrfMoves.h).
            prefix.clear();
            srf::AppendPrefix({screen.constBits(), std::size_t(screen.bytesPerLine()), 4}, moves, rects,
                              prefix);
            if (!prefix.empty() && ZSTD_isError(ZSTD_DCtx_refPrefix(dctx, prefix.data(), prefix.size())))
                return fail();
        }
        const std::size_t got = ZSTD_decompressDCtx(dctx, raw.data(), expected, c.Here(), packed);
        if (ZSTD_isError(got) || got != expected) return fail();
        decoded.resize(pictures.size());
        const std::uint8_t* jpeg = c.Here() + packed;
        for (std::size_t n = 0; n < pictures.size(); ++n) {
            if (!srf::DecodePicture(jpeg, pictureSizes[n], pictures[n].size(), 4, decoded[n])) return fail();
            jpeg += pictureSizes[n];
        }

        if (e.key && screen.size() != size) {
            screen = QImage(size, QImage::Format_RGB32);
            if (screen.isNull()) return false;
        }
        const std::uint8_t* in = raw.data();
        for (const QRect& r : rects) {
            for (int y = r.top(); y <= r.bottom(); ++y) {
                auto* row = reinterpret_cast<std::uint32_t*>(screen.scanLine(y)) + r.left();
                for (int x = 0; x < r.width(); ++x, in += 3)
                    row[x] = 0xff000000u | std::uint32_t(in[2]) << 16 | std::uint32_t(in[1]) << 8 | in[0];
            }
        }
        for (std::size_t n = 0; n < pictures.size(); ++n)
            srf::PutPicture(decoded[n], screen.bits(), std::size_t(screen.bytesPerLine()), 4, pictures[n]);
        if (flags & srf::CursorShapeFollows) {
            QImage shape(shapeW, shapeH, QImage::Format_ARGB32);
            for (int y = 0; y < shapeH; ++y) {
                auto* row = reinterpret_cast<std::uint32_t*>(shape.scanLine(y));
                for (int x = 0; x < shapeW; ++x, in += 4)
                    row[x] = std::uint32_t(in[3]) << 24 | std::uint32_t(in[2]) << 16 |
                             std::uint32_t(in[1]) << 8 | in[0];
            }
            cursorShape = shape;
            cursorHot = QPoint(hotX, hotY);
        } else if (e.key) {
            cursorShape = QImage();
        }
        cursorPos = QPoint(cx, cy);
        cursorVisible = (flags & srf::CursorVisible) != 0 && !cursorShape.isNull();
        current = i;
        runFrames = e.key ? 0 : runFrames + 1;
        runPixels = e.key ? 0 : runPixels + pixels;
        return true;
    }

    void CloseFile() {
        if (fd >= 0) ::close(fd);
        fd = -1;
        entries.clear();
        current = -1;
        length = 0;
        createdMs = -1;
        complete = false;
        screen = QImage();
        cursorShape = QImage();
        cursorVisible = false;
        std::vector<std::uint8_t>().swap(chunk);
        std::vector<std::uint8_t>().swap(raw);
        std::vector<std::uint8_t>().swap(prefix);
        std::vector<std::uint8_t>().swap(movedRows);
        decoded.clear();
    }
};

SrfReader::SrfReader() : d(std::make_unique<Impl>()) {
    d->dctx = ZSTD_createDCtx();
    if (d->dctx) ZSTD_DCtx_setParameter(d->dctx, ZSTD_d_windowLogMax, srf::MaxWindowLog);
}

SrfReader::~SrfReader() {
    Close();
}

SrfOpenStatus SrfReader::Open(const QString& path) {
    Close();
    if (!d->dctx) return SrfOpenStatus::CannotRead;
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return SrfOpenStatus::CannotRead;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return SrfOpenStatus::CannotRead;
    }
    d->fd = fd;
    d->fileSize = std::uint64_t(st.st_size);

    std::uint8_t h[srf::FileHeaderSize];
    if (d->fileSize < srf::FileHeaderSize || !PReadAll(fd, h, sizeof h, 0) ||
        std::memcmp(h, srf::Magic, 8) != 0 || srf::GetU16(h + 8) < srf::OldestVersion ||
        srf::GetU16(h + 8) > srf::Version) {
        d->CloseFile();
        return SrfOpenStatus::NotRecording;
    }
    d->version = srf::GetU16(h + 8);
    const bool headerOk =
        srf::Crc32(h, 60) == srf::GetU32(h + 60) && srf::GetU16(h + 10) == srf::FileHeaderSize;
    const bool finished = headerOk && (srf::GetU32(h + 12) & srf::FlagFinished) != 0;
    // The creation time only from a header that is whole; 0 and times before 1970 tell nothing.
    const std::int64_t created = std::int64_t(srf::GetU64(h + 16));
    const std::int64_t createdMs = headerOk && created > 0 ? created : -1;
    if (!finished) {
        // Unfinished: refused while its writer holds the lock; played as far as it goes once the
        // writer is gone.
        if (::flock(fd, LOCK_SH | LOCK_NB) != 0) {
            const bool busy = errno == EWOULDBLOCK;
            d->CloseFile();
            return busy ? SrfOpenStatus::BeingWritten : SrfOpenStatus::CannotRead;
        }
        ::flock(fd, LOCK_UN);
    }
    bool ok = false;
    if (finished) {
        d->complete = d->LoadIndex(srf::GetU64(h + 24), srf::GetU32(h + 32), srf::GetU32(h + 36));
        ok = d->complete || d->Scan();
    } else {
        ok = d->Scan();
    }
    if (!ok || !d->Decode(0)) {
        d->CloseFile();
        return SrfOpenStatus::NotRecording;
    }
    d->createdMs = createdMs;
    return SrfOpenStatus::Ok;
}

void SrfReader::Close() {
    d->CloseFile();
}

bool SrfReader::IsOpen() const {
    return d->fd >= 0;
}
bool SrfReader::IsComplete() const {
    return d->complete;
}
std::int64_t SrfReader::LengthMs() const {
    return d->length;
}
std::int64_t SrfReader::CreatedMs() const {
    return d->createdMs;
}
int SrfReader::FrameCount() const {
    return int(d->entries.size());
}

std::int64_t SrfReader::FrameTimeMs(int frame) const {
    if (frame < 0 || frame >= int(d->entries.size())) return -1;
    return d->entries[std::size_t(frame)].timeMs;
}

int SrfReader::CurrentFrame() const {
    return d->current;
}
std::int64_t SrfReader::CurrentTimeMs() const {
    return FrameTimeMs(d->current);
}

bool SrfReader::NextFrame() {
    if (d->fd < 0 || d->current < 0 || d->current + 1 >= int(d->entries.size())) return false;
    return d->Decode(d->current + 1);
}

bool SrfReader::SeekTo(std::int64_t timeMs, const std::function<bool()>& interrupted) {
    if (d->fd < 0 || d->entries.empty()) return false;
    const auto it =
        std::upper_bound(d->entries.begin(), d->entries.end(), timeMs,
                         [](std::int64_t t, const Entry& e) { return t < std::int64_t(e.timeMs); });
    const int target = std::max(0, int(it - d->entries.begin()) - 1);
    int key = target;
    while (key > 0 && !d->entries[std::size_t(key)].key) --key;
    int from = key;
    if (d->current >= key && d->current <= target) from = d->current + 1;
    if (from > target && d->current == target) return true;
    for (int i = from; i <= target; ++i)
        if ((interrupted && interrupted()) || !d->Decode(i)) return false;
    return true;
}

const QImage& SrfReader::Screen() const {
    return d->screen;
}
const QImage& SrfReader::CursorShape() const {
    return d->cursorShape;
}
QPoint SrfReader::CursorHotSpot() const {
    return d->cursorHot;
}
QPoint SrfReader::CursorPosition() const {
    return d->cursorPos;
}
bool SrfReader::CursorVisible() const {
    return d->cursorVisible;
}

}  // namespace pelio::components
