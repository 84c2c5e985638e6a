#include "recording/SrfFormat.h"

#include <zlib.h>

#include <algorithm>

namespace pelio::components {

namespace srf {

namespace {

// Continues a CRC-32 over data of any size (zlib takes at most 4 GiB a call).
uLong ExtendCrc(uLong crc, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const uInt n = uInt(std::min<std::size_t>(size, 1u << 30));
        crc = crc32(crc, data, n);
        data += n;
        size -= n;
    }
    return crc;
}

}  // namespace

std::uint32_t Crc32(const std::uint8_t* data, std::size_t size) {
    return std::uint32_t(ExtendCrc(crc32(0L, Z_NULL, 0), data, size));
}

std::uint32_t ChunkCrc(const std::uint8_t* header12, const std::uint8_t* payload, std::size_t size) {
    return std::uint32_t(ExtendCrc(crc32(0L, header12, 12), payload, size));
}

}  // namespace srf

}  // namespace pelio::components
