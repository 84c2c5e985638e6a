// Feeds arbitrary bytes to the recording reader as a file: open, play every frame, seek around.
// Nothing may crash, leak or hang.
#include "recording/SrfReader.h"

#include <QString>

#include <sys/mman.h>
#include <unistd.h>
#include <cstddef>
#include <cstdint>

namespace {

int File() {
    static const int fd = memfd_create("srf-fuzz", 0);
    return fd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const int fd = File();
    if (fd < 0 || ::ftruncate(fd, 0) != 0) return 0;
    if (size > 0 && ::pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) return 0;

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
