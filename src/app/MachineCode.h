#pragma once

#include <QString>

namespace pelio::platform {
class SystemIdentity;
}

// The customer's machine code: a short stable identifier made once from the first network adapter's
// address and the system volume's serial number, then kept (scrambled) in the per-user settings.
namespace pelio::app {

class UserSettings;

// The stored code when the per-user value "MyC" holds more than 10 characters; otherwise a new code
// (AdapterCode followed by characters 2 to 7 of VolumeCode("C:") reversed), which is stored.
QString GetMachineCode(platform::SystemIdentity& identity, const UserSettings& userSettings);

// The first adapter's address as six upper-case hexadecimal bytes separated by blanks
// ("00 1A 2B 3C 4D 5E"); six zero bytes when no adapter answers.
QString AdapterAddressText(platform::SystemIdentity& identity);

// Five characters derived from the adapter address (or from the volume code without an adapter).
QString AdapterCode(platform::SystemIdentity& identity);

// The volume serial number of `drive` ("C", "C:" or "C:\"), plus 0x50601A unless that would overflow
// a signed 32-bit value, in upper-case hexadecimal without leading zeros.
QString VolumeCode(platform::SystemIdentity& identity, const QString& drive);

// The rule of VolumeCode on a serial number.
QString VolumeCodeOfSerial(qint32 serial);

}  // namespace pelio::app
