// Feeds arbitrary bytes to the recording reader as a file: open, play every frame, seek around.
// Nothing may crash, leak or hang. Most inputs get their checksums repaired first, so that mutations
// reach the frame decoder instead of stopping at the checksum test.
//
// Beyond memory safety, every frame the reader shows is checked against what the file itself declares
// for it: its screen size (a delta frame declares the size of the key frame before it), its time, and
// the format's bounds (screen size, delta frames since the key frame). Times never go back from one
// frame to the next, and a seek lands on the last frame at or before its time.
//
//   CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DPELIO_FUZZ=ON -DPELIO_TESTS=OFF
//   -DPELIO_BENCH=OFF cmake --build build-fuzz --target fuzz_srf_reader build-fuzz/tests/fuzz/fuzz_srf_reader
//   CORPUS -dict=tests/fuzz/srf.dict -max_len=65536 -max_total_time=600
// with CORPUS a folder outside the repository seeded with small recordings (pelio-recgen --seconds 2
// --size 320x200, also with --abandon).
#include "recording/SrfFormat.h"
#include "recording/SrfReader.h"

#include <QString>

#include <sys/mman.h>
#include <unistd.h>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

int File() {
    static const int fd = memfd_create("srf-fuzz", 0);
    return fd;
}

namespace srf = pelio::components::srf;
using pelio::components::SrfReader;

void RepairChecksums(std::vector<std::uint8_t>& bytes) {
    if (bytes.size() < srf::FileHeaderSize) return;
    srf::PutU32(bytes.data() + 60, srf::Crc32(bytes.data(), 60));
    std::size_t offset = srf::FileHeaderSize;
    while (bytes.size() - offset >= srf::ChunkHeaderSize) {
        std::uint8_t* h = bytes.data() + offset;
        const std::size_t size = srf::GetU32(h + 4);
        if (size > bytes.size() - offset - srf::ChunkHeaderSize) break;
        srf::PutU32(h + 12, srf::ChunkCrc(h, h + srf::ChunkHeaderSize, size));
        offset += srf::ChunkHeaderSize + size;
    }
}

// A broken property aborts, naming its line.
#define Require(condition) RequireAt((condition), __LINE__)
void RequireAt(bool condition, int line) {
    if (condition) return;
    std::fprintf(stderr, "property broken at line %d\n", line);
    std::abort();
}

// What the file says about one frame.
struct Declared {
    std::uint32_t timeMs = 0;
    bool key = false;
    int width = 0, height = 0;  // 0 when the chunk is too short to say
};

// Reads the frame chunk at offset as the file declares it; false when there is no whole chunk.
bool DeclaredAt(const std::vector<std::uint8_t>& bytes, std::uint64_t offset, Declared* frame,
                std::uint64_t* next) {
    if (offset > bytes.size() || bytes.size() - offset < srf::ChunkHeaderSize) return false;
    const std::uint8_t* h = bytes.data() + offset;
    const std::uint32_t size = srf::GetU32(h + 4);
    if (size > srf::MaxChunkPayload || size > bytes.size() - offset - srf::ChunkHeaderSize) return false;
    if (srf::ChunkCrc(h, h + srf::ChunkHeaderSize, size) != srf::GetU32(h + 12)) return false;
    frame->timeMs = srf::GetU32(h + 8);
    frame->key = srf::GetU32(h) == srf::TagKeyFrame;
    if (size >= 4) {
        frame->width = srf::GetU16(h + srf::ChunkHeaderSize);
        frame->height = srf::GetU16(h + srf::ChunkHeaderSize + 2);
    }
    *next = offset + srf::ChunkHeaderSize + size;
    return true;
}

// The frames of the file: from its index when the reader found the recording complete, else every
// frame chunk from the start up to the first that is not whole (the reader keeps a prefix of them).
std::vector<Declared> DeclaredFrames(const std::vector<std::uint8_t>& bytes, bool complete) {
    std::vector<Declared> frames;
    Declared frame;
    std::uint64_t next = 0;
    if (complete) {
        const std::uint64_t index = srf::GetU64(bytes.data() + 24);
        const std::uint8_t* p = bytes.data() + index + srf::ChunkHeaderSize;
        const std::uint32_t count = srf::GetU32(p);
        for (std::uint32_t i = 0; i < count; ++i) {
            frame = {};
            DeclaredAt(bytes, srf::GetU64(p + 8 + std::size_t(i) * srf::IndexEntrySize), &frame, &next);
            frames.push_back(frame);
        }
        return frames;
    }
    for (std::uint64_t offset = srf::FileHeaderSize; DeclaredAt(bytes, offset, &frame, &next);
         offset = next) {
        const std::uint32_t tag = srf::GetU32(bytes.data() + offset);
        if (tag == srf::TagKeyFrame || tag == srf::TagDeltaFrame)
            frames.push_back(frame);
        else if (tag != srf::TagIndex)
            break;
        frame = {};
    }
    return frames;
}

// The frame on screen agrees with what the file declares for it and with the format's bounds.
void CheckShown(const SrfReader& reader, const std::vector<Declared>& declared) {
    const int i = reader.CurrentFrame();
    Require(i >= 0 && i < int(declared.size()));
    const Declared& frame = declared[std::size_t(i)];
    const QImage& screen = reader.Screen();
    Require(!screen.isNull() && srf::ValidScreenSize(screen.width(), screen.height()));
    Require(screen.width() == frame.width && screen.height() == frame.height);
    Require(reader.CurrentTimeMs() == frame.timeMs);
    int key = i;
    while (key > 0 && !declared[std::size_t(key)].key) --key;
    Require(declared[std::size_t(key)].key && i - key <= srf::MaxDeltaFrames);
    const QImage& shape = reader.CursorShape();
    Require(shape.width() <= srf::MaxCursorSide && shape.height() <= srf::MaxCursorSide);
}

// After a seek to timeMs that decoded to the end: the last frame at or before it (the first before all).
void CheckSeek(const SrfReader& reader, std::int64_t timeMs) {
    const int i = reader.CurrentFrame();
    Require(i == 0 || reader.FrameTimeMs(i) <= timeMs);
    Require(i == reader.FrameCount() - 1 || reader.FrameTimeMs(i + 1) > timeMs);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const int fd = File();
    if (fd < 0 || ::ftruncate(fd, 0) != 0) return 0;
    std::vector<std::uint8_t> bytes(data, data + size);
    if (size > 0 && data[size - 1] % 2 == 0) RepairChecksums(bytes);
    if (size > 0 && ::pwrite(fd, bytes.data(), size, 0) != static_cast<ssize_t>(size)) return 0;

    SrfReader reader;
    if (reader.Open(QStringLiteral("/proc/self/fd/%1").arg(fd)) != pelio::components::SrfOpenStatus::Ok)
        return 0;
    const std::vector<Declared> declared = DeclaredFrames(bytes, reader.IsComplete());
    const std::int64_t length = reader.LengthMs();
    const int count = reader.FrameCount();
    Require(count >= 1 && count <= int(declared.size()));
    Require(!reader.IsComplete() || count == int(declared.size()));
    for (int i = 0; i < count; ++i) {
        // A scan lists the chunks themselves; an index may name chunks that turn out damaged when decoded.
        Require(reader.IsComplete() || reader.FrameTimeMs(i) == declared[std::size_t(i)].timeMs);
        Require(reader.FrameTimeMs(i) <= length);
        Require(i == 0 || reader.FrameTimeMs(i) >= reader.FrameTimeMs(i - 1));
    }
    Require(reader.CurrentFrame() == 0 && declared[0].key);
    CheckShown(reader, declared);

    for (int i = 0; i < 10000; ++i) {
        const int before = reader.CurrentFrame();
        const std::int64_t time = reader.CurrentTimeMs();
        if (!reader.NextFrame()) {
            Require(reader.CurrentFrame() == before);
            break;
        }
        Require(reader.CurrentFrame() == before + 1 && reader.CurrentTimeMs() >= time);
        CheckShown(reader, declared);
    }
    for (const std::int64_t t : {length / 2, std::int64_t(0), length + 1, length / 3}) {
        if (reader.SeekTo(t)) CheckSeek(reader, t);
        CheckShown(reader, declared);
    }
    return 0;
}
