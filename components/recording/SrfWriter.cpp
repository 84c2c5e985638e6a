#include "recording/SrfWriter.h"

#include "recording/SrfDeltaPlan.h"
#include "recording/SrfFormat.h"
#include "recording/SrfPictures.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QRegion>

#include <zstd.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <mutex>
#include <vector>

namespace pelio::components {

namespace {

// Rectangles beyond this many in one frame are replaced by their bounding rectangle.
constexpr int MaxRectsPerFrame = 256;

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= std::size_t(n);
    }
    return true;
}

bool PWriteAll(int fd, const std::uint8_t* data, std::size_t size, off_t offset) {
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, data, size, offset);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= std::size_t(n);
        offset += n;
    }
    return true;
}

struct IndexEntry {
    std::uint64_t offset;
    std::uint32_t timeMs;
    bool key;
};

}  // namespace

struct SrfWriter::Impl {
    Options options;
    mutable std::mutex mutex;
    int fd = -1;
    QString path;
    std::int64_t createdMs = 0;
    QElapsedTimer clock;

    // Screens of 3 bytes B, G, R per pixel: the screen now, and the screen as the last frame left it
    // (what a reader holds before the next frame, against which moves are found and a delta frame's
    // pixels are compressed).
    QSize size;
    std::vector<std::uint8_t> screen;
    std::vector<std::uint8_t> committed;
    QRegion dirty;

    QImage cursorShape;  // ARGB32, null when there is none
    QPoint cursorHot;
    QPoint cursorPos;
    bool cursorVisible = false;
    bool cursorChanged = false;
    bool shapeChanged = false;

    bool keyDue = true;
    std::int64_t lastTime = -1;
    std::int64_t lastKeyTime = 0;
    // The delta frames written since the last key frame, and the pixels they changed.
    int runFrames = 0;
    std::int64_t runPixels = 0;
    std::uint64_t offset = 0;
    std::vector<IndexEntry> index;

    ZSTD_CCtx* cctx = nullptr;
    std::vector<std::uint8_t> raw;
    std::vector<std::uint8_t> prefix;
    std::vector<std::vector<std::uint8_t>> jpegs;
    std::vector<std::uint8_t> decoded;
    std::vector<std::uint8_t> chunk;

    ~Impl() {
        if (cctx) ZSTD_freeCCtx(cctx);
    }

    void WriteHeader(std::uint8_t* h, bool finished, std::uint64_t indexOffset,
                     std::uint32_t lengthMs) const {
        std::memset(h, 0, srf::FileHeaderSize);
        std::memcpy(h, srf::Magic, 8);
        srf::PutU16(h + 8, srf::Version);
        srf::PutU16(h + 10, srf::FileHeaderSize);
        srf::PutU32(h + 12, finished ? srf::FlagFinished : 0);
        srf::PutU64(h + 16, std::uint64_t(createdMs));
        srf::PutU64(h + 24, indexOffset);
        srf::PutU32(h + 32, lengthMs);
        srf::PutU32(h + 36, std::uint32_t(index.size()));
        srf::PutU32(h + 60, srf::Crc32(h, 60));
    }

    // Appends one chunk whose payload is already in chunk[16..]. On failure the file is cut back to
    // where it was, so that a later frame can still follow a whole chunk.
    bool AppendChunk(std::uint32_t tag, std::uint32_t timeMs) {
        std::uint8_t* h = chunk.data();
        const std::size_t payloadSize = chunk.size() - srf::ChunkHeaderSize;
        srf::PutU32(h, tag);
        srf::PutU32(h + 4, std::uint32_t(payloadSize));
        srf::PutU32(h + 8, timeMs);
        srf::PutU32(h + 12, srf::ChunkCrc(h, h + srf::ChunkHeaderSize, payloadSize));
        if (!WriteAll(fd, chunk.data(), chunk.size())) {
            if (::ftruncate(fd, off_t(offset)) == 0) ::lseek(fd, off_t(offset), SEEK_SET);
            return false;
        }
        return true;
    }

    // Compresses raw[0..rawSize) into out, against prefix[0..prefixSize) when that is not empty. The
    // window covers the prefix and the data, so that a match may reach back to the prefix's start.
    std::size_t Compress(std::uint8_t* out, std::size_t capacity, std::size_t rawSize,
                         std::size_t prefixSize) {
        ZSTD_CCtx_reset(cctx, ZSTD_reset_session_and_parameters);
        int windowLog = 19;
        while (windowLog < srf::MaxWindowLog && (std::size_t(1) << windowLog) < prefixSize + rawSize)
            ++windowLog;
        ZSTD_CCtx_setParameter(cctx, ZSTD_c_compressionLevel,
                               prefixSize > 0 ? options.compressionLevel : options.keyFrameLevel);
        // Long-distance matching finds rows that moved sideways or far, at little cost.
        ZSTD_CCtx_setParameter(cctx, ZSTD_c_enableLongDistanceMatching, 1);
        ZSTD_CCtx_setParameter(cctx, ZSTD_c_windowLog, windowLog);
        ZSTD_CCtx_setParameter(cctx, ZSTD_c_contentSizeFlag, 1);
        if (prefixSize > 0) {
            const std::size_t r = ZSTD_CCtx_refPrefix(cctx, prefix.data(), prefixSize);
            if (ZSTD_isError(r)) return r;
        }
        return ZSTD_compress2(cctx, out, capacity, raw.data(), rawSize);
    }

    bool CommitLocked(std::int64_t timeMs) {
        if (fd < 0) return false;
        const std::int64_t t = std::clamp<std::int64_t>(std::max(timeMs, lastTime), 0, 0x7fffffff);
        bool key = keyDue || lastTime < 0 || t - lastKeyTime >= options.keyFrameIntervalMs;
        if (!key && dirty.isEmpty() && !cursorChanged && !shapeChanged) return true;

        const std::size_t lineBytes = std::size_t(size.width()) * 3;
        const srf::PixelRows now{screen.data(), lineBytes, 3};
        const srf::PixelRows before{committed.data(), lineBytes, 3};
        std::vector<QRect> rects;
        std::vector<srf::Move> moves;
        std::vector<QRect> pictures;
        std::int64_t deltaPixels = 0;
        if (!key) {
            srf::DeltaPlan plan =
                srf::PlanDelta(committed.data(), now, dirty, MaxRectsPerFrame, options.pictures);
            moves = std::move(plan.moves);
            rects = std::move(plan.rects);
            pictures = std::move(plan.pictures);
            for (const QRect& r : rects) deltaPixels += std::int64_t(r.width()) * r.height();
            for (const QRect& r : pictures) deltaPixels += std::int64_t(r.width()) * r.height();
            for (const srf::Move& m : moves) deltaPixels += std::int64_t(m.dest.width()) * m.dest.height();
            if (shapeChanged && !cursorShape.isNull())
                deltaPixels += std::int64_t(cursorShape.width()) * cursorShape.height();
            // Seeking decodes everything from the last key frame on: keep that within the format's bounds.
            if (runFrames >= srf::MaxDeltaFrames || runPixels + deltaPixels > srf::MaxDeltaPixels) key = true;
        }
        if (key) {
            rects.assign(1, QRect(QPoint(0, 0), size));
            moves.clear();
            pictures.clear();
        }
        // The pictures' JPEG data; one that cannot be made is stored exact instead.
        jpegs.resize(pictures.size());
        std::size_t jpegBytes = 0;
        for (std::size_t i = 0; i < pictures.size();) {
            if (srf::EncodePicture(now, pictures[i], jpegs[i])) {
                jpegBytes += jpegs[i].size();
                ++i;
            } else {
                rects.push_back(pictures[i]);
                pictures.erase(pictures.begin() + std::ptrdiff_t(i));
                jpegs.erase(jpegs.begin() + std::ptrdiff_t(i));
            }
        }
        const bool withShape = !cursorShape.isNull() && (key || shapeChanged);

        std::size_t rawSize = 0;
        for (const QRect& r : rects) rawSize += std::size_t(r.width()) * std::size_t(r.height()) * 3;
        if (withShape) rawSize += std::size_t(cursorShape.width()) * std::size_t(cursorShape.height()) * 4;
        raw.resize(rawSize);
        std::uint8_t* out = raw.data();
        for (const QRect& r : rects) {
            const std::size_t n = std::size_t(r.width()) * 3;
            const std::size_t x = std::size_t(r.left()) * 3;
            for (int y = r.top(); y <= r.bottom(); ++y, out += n)
                std::memcpy(out, screen.data() + std::size_t(y) * lineBytes + x, n);
        }
        prefix.clear();
        if (!key) srf::AppendPrefix(before, moves, rects, prefix);
        if (withShape) {
            for (int y = 0; y < cursorShape.height(); ++y) {
                const auto* row = reinterpret_cast<const std::uint32_t*>(cursorShape.constScanLine(y));
                for (int x = 0; x < cursorShape.width(); ++x) {
                    const std::uint32_t p = row[x];
                    out[0] = std::uint8_t(p);
                    out[1] = std::uint8_t(p >> 8);
                    out[2] = std::uint8_t(p >> 16);
                    out[3] = std::uint8_t(p >> 24);
                    out += 4;
                }
            }
        }

        std::size_t fixed = 4 + 5 + (withShape ? 8 : 0) + 2 + 10 * moves.size() + 2 + 8 * rects.size() + 2 +
                            12 * pictures.size() + 8;
        const std::size_t bound = ZSTD_compressBound(rawSize);
        chunk.resize(srf::ChunkHeaderSize + fixed + bound + jpegBytes);
        std::uint8_t* p = chunk.data() + srf::ChunkHeaderSize;
        srf::PutU16(p, std::uint16_t(size.width()));
        srf::PutU16(p + 2, std::uint16_t(size.height()));
        p += 4;
        const bool visible = cursorVisible && !cursorShape.isNull();
        *p++ = std::uint8_t((visible ? srf::CursorVisible : 0) | (withShape ? srf::CursorShapeFollows : 0));
        srf::PutU16(p, std::uint16_t(std::int16_t(std::clamp(cursorPos.x(), -32768, 32767))));
        srf::PutU16(p + 2, std::uint16_t(std::int16_t(std::clamp(cursorPos.y(), -32768, 32767))));
        p += 4;
        if (withShape) {
            srf::PutU16(p, std::uint16_t(cursorShape.width()));
            srf::PutU16(p + 2, std::uint16_t(cursorShape.height()));
            srf::PutU16(p + 4, std::uint16_t(cursorHot.x()));
            srf::PutU16(p + 6, std::uint16_t(cursorHot.y()));
            p += 8;
        }
        srf::PutU16(p, std::uint16_t(moves.size()));
        p += 2;
        for (const srf::Move& m : moves) {
            for (const int v : {m.dest.x(), m.dest.y(), m.dest.width(), m.dest.height(), m.sourceY}) {
                srf::PutU16(p, std::uint16_t(v));
                p += 2;
            }
        }
        srf::PutU16(p, std::uint16_t(rects.size()));
        p += 2;
        for (const QRect& r : rects) {
            srf::PutU16(p, std::uint16_t(r.x()));
            srf::PutU16(p + 2, std::uint16_t(r.y()));
            srf::PutU16(p + 4, std::uint16_t(r.width()));
            srf::PutU16(p + 6, std::uint16_t(r.height()));
            p += 8;
        }
        srf::PutU16(p, std::uint16_t(pictures.size()));
        p += 2;
        for (std::size_t i = 0; i < pictures.size(); ++i) {
            const QRect& r = pictures[i];
            for (const int v : {r.x(), r.y(), r.width(), r.height()}) {
                srf::PutU16(p, std::uint16_t(v));
                p += 2;
            }
            srf::PutU32(p, std::uint32_t(jpegs[i].size()));
            p += 4;
        }
        srf::PutU32(p, std::uint32_t(rawSize));
        std::uint8_t* packedSizeField = p + 4;
        p += 8;
        // A delta frame is compressed against what its rectangles show before it (after its moves):
        // a repainted but unchanged area, or content that moved sideways, then costs a few bytes.
        const std::size_t prefixSize = prefix.size();
        const std::size_t packed = Compress(p, bound, rawSize, prefixSize);
        // The moves are on `committed` already: after a failure only a key frame is sure to follow.
        if (ZSTD_isError(packed)) {
            keyDue = true;
            return false;
        }
        srf::PutU32(packedSizeField, std::uint32_t(packed));
        p += packed;
        for (const auto& jpeg : jpegs) {
            std::memcpy(p, jpeg.data(), jpeg.size());
            p += jpeg.size();
        }
        chunk.resize(std::size_t(p - chunk.data()));
        if (!AppendChunk(key ? srf::TagKeyFrame : srf::TagDeltaFrame, std::uint32_t(t))) {
            keyDue = true;
            return false;
        }
        const std::uint8_t* in = raw.data();
        for (const QRect& r : rects) {
            const std::size_t n = std::size_t(r.width()) * 3;
            for (int y = r.top(); y <= r.bottom(); ++y, in += n)
                std::memcpy(committed.data() + std::size_t(y) * lineBytes + std::size_t(r.left()) * 3, in, n);
        }
        // What a reader shows for the pictures is their decoded JPEG, not the screen.
        for (std::size_t i = 0; i < pictures.size(); ++i) {
            if (srf::DecodePicture(jpegs[i].data(), jpegs[i].size(), pictures[i].size(), 3, decoded))
                srf::PutPicture(decoded, committed.data(), lineBytes, 3, pictures[i]);
            else
                keyDue = true;
        }
        index.push_back({offset, std::uint32_t(t), key});
        offset += chunk.size();
        lastTime = t;
        if (key) lastKeyTime = t;
        runFrames = key ? 0 : runFrames + 1;
        runPixels = key ? 0 : runPixels + deltaPixels;
        keyDue = keyDue && !key;
        dirty = QRegion();
        cursorChanged = shapeChanged = false;
        return true;
    }

    bool FinishLocked(std::int64_t lengthMs) {
        if (fd < 0) return false;
        bool ok = true;
        if (lastTime < 0 || !dirty.isEmpty() || cursorChanged || shapeChanged)
            ok = CommitLocked(std::max<std::int64_t>(lastTime, 0));
        const std::uint32_t length =
            std::uint32_t(std::clamp<std::int64_t>(std::max(lengthMs, lastTime), 0, 0x7fffffff));
        if (ok && !index.empty()) {
            chunk.resize(srf::ChunkHeaderSize + 8 + index.size() * srf::IndexEntrySize);
            std::uint8_t* p = chunk.data() + srf::ChunkHeaderSize;
            srf::PutU32(p, std::uint32_t(index.size()));
            srf::PutU32(p + 4, length);
            p += 8;
            for (const IndexEntry& e : index) {
                srf::PutU64(p, e.offset);
                srf::PutU32(p + 8, e.timeMs);
                srf::PutU32(p + 12, e.key ? 1 : 0);
                p += srf::IndexEntrySize;
            }
            const std::uint64_t indexOffset = offset;
            ok = AppendChunk(srf::TagIndex, 0) && ::fdatasync(fd) == 0;
            if (ok) {
                std::uint8_t h[srf::FileHeaderSize];
                WriteHeader(h, true, indexOffset, length);
                ok = PWriteAll(fd, h, sizeof h, 0) && ::fdatasync(fd) == 0;
            }
        }
        CloseLocked();
        return ok;
    }

    void CloseLocked() {
        if (fd >= 0) {
            ::flock(fd, LOCK_UN);
            ::close(fd);
        }
        fd = -1;
        index.clear();
        screen.clear();
        dirty = QRegion();
        std::vector<std::uint8_t>().swap(committed);
        std::vector<std::uint8_t>().swap(raw);
        std::vector<std::uint8_t>().swap(prefix);
        std::vector<std::uint8_t>().swap(chunk);
    }

    void ResetScreen(QSize s) {
        size = s;
        screen.assign(std::size_t(s.width()) * std::size_t(s.height()) * 3, 0);
        committed.assign(screen.size(), 0);
        dirty = QRegion();
        keyDue = true;
    }
};

SrfWriter::SrfWriter() : SrfWriter(Options{}) {}

SrfWriter::SrfWriter(Options options) : d(std::make_unique<Impl>()) {
    d->options = options;
    d->options.keyFrameIntervalMs = std::clamp(options.keyFrameIntervalMs, 100, srf::MaxKeyFrameIntervalMs);
    d->cctx = ZSTD_createCCtx();
}

SrfWriter::~SrfWriter() {
    std::lock_guard lock(d->mutex);
    if (d->fd >= 0) d->FinishLocked(d->clock.isValid() ? d->clock.elapsed() : 0);
}

static bool ValidScreenSize(QSize s) {
    return srf::ValidScreenSize(s.width(), s.height());
}

bool SrfWriter::Open(const QString& path, QSize screenSize) {
    std::lock_guard lock(d->mutex);
    if (d->fd >= 0 || !ValidScreenSize(screenSize) || !d->cctx) return false;
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    // Another writer holding the file keeps it: never truncate a recording that is being written.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::ftruncate(fd, 0) != 0) {
        ::close(fd);
        return false;
    }
    d->fd = fd;
    d->path = path;
    d->createdMs = QDateTime::currentMSecsSinceEpoch();
    d->index.clear();
    d->lastTime = -1;
    d->lastKeyTime = 0;
    d->cursorShape = QImage();
    d->cursorVisible = false;
    d->cursorChanged = d->shapeChanged = false;
    d->ResetScreen(screenSize);
    std::uint8_t h[srf::FileHeaderSize];
    d->WriteHeader(h, false, 0, 0);
    if (!WriteAll(fd, h, sizeof h)) {
        d->CloseLocked();
        ::unlink(name.constData());
        return false;
    }
    d->offset = srf::FileHeaderSize;
    d->clock.start();
    return true;
}

bool SrfWriter::IsOpen() const {
    std::lock_guard lock(d->mutex);
    return d->fd >= 0;
}

QString SrfWriter::Path() const {
    std::lock_guard lock(d->mutex);
    return d->path;
}

bool SrfWriter::SetScreenSize(QSize screenSize) {
    std::lock_guard lock(d->mutex);
    if (d->fd < 0 || !ValidScreenSize(screenSize)) return false;
    if (screenSize != d->size) d->ResetScreen(screenSize);
    return true;
}

QSize SrfWriter::ScreenSize() const {
    std::lock_guard lock(d->mutex);
    return d->size;
}

void SrfWriter::UpdateRect(const QRect& rect, const std::uint32_t* pixels, int strideBytes) {
    std::lock_guard lock(d->mutex);
    if (d->fd < 0 || !pixels) return;
    const QRect r = rect.intersected(QRect(QPoint(0, 0), d->size));
    if (r.isEmpty()) return;
    const auto* base = reinterpret_cast<const std::uint8_t*>(pixels);
    for (int y = r.top(); y <= r.bottom(); ++y) {
        const auto* src =
            reinterpret_cast<const std::uint32_t*>(base + std::ptrdiff_t(y - rect.top()) * strideBytes) +
            (r.left() - rect.left());
        std::uint8_t* dst = d->screen.data() + (std::size_t(y) * std::size_t(d->size.width()) + r.left()) * 3;
        for (int x = 0; x < r.width(); ++x, dst += 3) {
            const std::uint32_t p = src[x];
            dst[0] = std::uint8_t(p);
            dst[1] = std::uint8_t(p >> 8);
            dst[2] = std::uint8_t(p >> 16);
        }
    }
    d->dirty += r;
}

void SrfWriter::UpdateRectFromScreen(const QImage& screen, const QRect& rect) {
    const QRect r = rect.intersected(screen.rect());
    if (r.isEmpty()) return;
    if (screen.format() == QImage::Format_RGB32 || screen.format() == QImage::Format_ARGB32) {
        UpdateRect(r, reinterpret_cast<const std::uint32_t*>(screen.constScanLine(r.top())) + r.left(),
                   int(screen.bytesPerLine()));
    } else {
        const QImage part = screen.copy(r).convertToFormat(QImage::Format_RGB32);
        UpdateRect(r, reinterpret_cast<const std::uint32_t*>(part.constBits()), int(part.bytesPerLine()));
    }
}

void SrfWriter::SetCursorShape(const QImage& shape, QPoint hotSpot) {
    std::lock_guard lock(d->mutex);
    if (shape.isNull() || shape.width() > srf::MaxCursorSide || shape.height() > srf::MaxCursorSide) {
        d->cursorShape = QImage();
    } else {
        d->cursorShape = shape.convertToFormat(QImage::Format_ARGB32);
        d->cursorHot = QPoint(std::clamp(hotSpot.x(), 0, shape.width() - 1),
                              std::clamp(hotSpot.y(), 0, shape.height() - 1));
    }
    d->shapeChanged = true;
}

void SrfWriter::SetCursorPosition(QPoint position, bool visible) {
    std::lock_guard lock(d->mutex);
    if (position == d->cursorPos && visible == d->cursorVisible) return;
    d->cursorPos = position;
    d->cursorVisible = visible;
    d->cursorChanged = true;
}

bool SrfWriter::CommitFrame(std::int64_t timeMs) {
    std::lock_guard lock(d->mutex);
    return d->CommitLocked(timeMs);
}

bool SrfWriter::Finish(std::int64_t lengthMs) {
    std::lock_guard lock(d->mutex);
    return d->FinishLocked(lengthMs);
}

std::int64_t SrfWriter::ElapsedMs() const {
    std::lock_guard lock(d->mutex);
    return d->clock.isValid() ? d->clock.elapsed() : 0;
}

void SrfWriter::Abandon() {
    std::lock_guard lock(d->mutex);
    d->CloseLocked();
}

std::int64_t SrfWriter::BytesWritten() const {
    std::lock_guard lock(d->mutex);
    return std::int64_t(d->offset);
}

int SrfWriter::FrameCount() const {
    std::lock_guard lock(d->mutex);
    return int(d->index.size());
}

}  // namespace pelio::components
