#pragma once

#include <QString>

#include <array>
#include <cstdint>

namespace pelio::platform {

// The system's version record: what the classic Windows version query reports.
struct SystemVersion {
    int major = 0;
    int minor = 0;
    int platformId = 0;  // 2 for the NT family, 1 for the old family
};

// Identity of this computer, used to make the customer's machine code.
class SystemIdentity {
  public:
    virtual ~SystemIdentity() = default;

    // Hardware address of the first network adapter; six zero bytes when no adapter answers.
    virtual std::array<std::uint8_t, 6> AdapterAddress() = 0;

    // The serial number of the volume that holds `root` (a drive such as "C:\" names the system
    // volume); 0 when the query fails.
    virtual std::int32_t VolumeSerial(const QString& root) = 0;

    virtual SystemVersion Version() = 0;
};

}  // namespace pelio::platform
