// Feeds arbitrary bytes to the recording reader as a file: open, play every frame, seek around.
// Nothing may crash, leak or hang. Most inputs get their checksums repaired first, so that mutations
// reach the frame decoder instead of stopping at the checksum test.
#include "recording/SrfFormat.h"
#include "recording/SrfReader.h"

#include <QString>

#include <sys/mman.h>
#include <unistd.h>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

int File() {
    static const int fd = memfd_create("srf-fuzz", 0);
    return fd;
}

namespace srf = pelio::components::srf;

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const int fd = File();
    if (fd < 0 || ::ftruncate(fd, 0) != 0) return 0;
    std::vector<std::uint8_t> bytes(data, data + size);
    if (size > 0 && data[size - 1] % 2 == 0) RepairChecksums(bytes);
    if (size > 0 && ::pwrite(fd, bytes.data(), size, 0) != static_cast<ssize_t>(size)) return 0;

    pelio::components::SrfReader reader;
    if (reader.Open(QStringLiteral("/proc/self/fd/%1").arg(fd)) != pelio::components::SrfOpenStatus::Ok)
        return 0;
    const std::int64_t length = reader.LengthMs();
    for (int i = 0; i < 10000 && reader.NextFrame(); ++i) {
    }
    reader.SeekTo(length / 2);
    reader.SeekTo(0);
    reader.SeekTo(length + 1);
    return 0;
}
