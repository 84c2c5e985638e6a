#pragma once

#include "platform/SystemIdentity.h"

namespace pelio::platform {

// Identity from the running Linux system, without root:
// - adapter: the first adapter under <sysfs>/class/net that is not a loopback and has a non-zero
//   address, adapters backed by a device (physical ones) first, each group sorted by name;
// - volume serial: the first 32 bits of the UUID of the device mounted at "/" (from
//   /dev/disk/by-uuid), or else the file system id that statvfs reports for "/";
// - version: the kernel release (major, minor), platform id 2; all zero when the system cannot be
//   asked.
// The roots are parameters so tests can point them at a prepared folder.
class LinuxSystemIdentity : public SystemIdentity {
  public:
    explicit LinuxSystemIdentity(QString sysfsRoot = QStringLiteral("/sys"),
                                 QString procRoot = QStringLiteral("/proc"),
                                 QString byUuidFolder = QStringLiteral("/dev/disk/by-uuid"));

    std::array<std::uint8_t, 6> AdapterAddress() override;
    std::int32_t VolumeSerial(const QString& root) override;
    SystemVersion Version() override;

    // Reads the first 32 bits of a file system UUID ("1234-ABCD", "0f3c...-..."); 0 when there are
    // fewer than 8 hexadecimal digits.
    static std::uint32_t SerialFromUuid(const QString& uuid);

    // Parses a kernel release such as "6.1.0-18-amd64".
    static SystemVersion VersionFromRelease(const QString& release);

  private:
    QString m_sysfs;
    QString m_proc;
    QString m_byUuid;
};

}  // namespace pelio::platform
