#include "platform/LinuxSystemIdentity.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <sys/utsname.h>

#include <algorithm>
#include <vector>

namespace pelio::platform {

namespace {

QByteArray ReadSmallFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.read(4096).trimmed();
}

bool ParseMac(const QByteArray& text, std::array<std::uint8_t, 6>& out) {
    QList<QByteArray> parts = text.split(':');
    if (parts.size() != 6) return false;
    for (int i = 0; i < 6; ++i) {
        bool ok = false;
        uint v = parts[i].toUInt(&ok, 16);
        if (!ok || v > 0xFF || parts[i].isEmpty()) return false;
        out[static_cast<size_t>(i)] = static_cast<std::uint8_t>(v);
    }
    return true;
}

}  // namespace

LinuxSystemIdentity::LinuxSystemIdentity(QString sysfsRoot, QString procRoot, QString byUuidFolder)
    : m_sysfs(std::move(sysfsRoot)), m_proc(std::move(procRoot)), m_byUuid(std::move(byUuidFolder)) {}

std::array<std::uint8_t, 6> LinuxSystemIdentity::AdapterAddress() {
    struct Candidate {
        bool physical;
        QString name;
        std::array<std::uint8_t, 6> mac;
    };
    std::vector<Candidate> found;
    QDir net(m_sysfs + QStringLiteral("/class/net"));
    const QStringList names = net.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System);
    for (const QString& name : names) {
        const QString base = net.filePath(name);
        if (ReadSmallFile(base + QStringLiteral("/type")) == "772") continue;  // loopback
        std::array<std::uint8_t, 6> mac{};
        if (!ParseMac(ReadSmallFile(base + QStringLiteral("/address")), mac)) continue;
        if (std::all_of(mac.begin(), mac.end(), [](std::uint8_t b) { return b == 0; })) continue;
        bool physical = QFileInfo::exists(base + QStringLiteral("/device"));
        found.push_back({physical, name, mac});
    }
    if (found.empty()) return {};
    std::sort(found.begin(), found.end(), [](const Candidate& a, const Candidate& b) {
        if (a.physical != b.physical) return a.physical;
        return a.name < b.name;
    });
    return found.front().mac;
}

std::uint32_t LinuxSystemIdentity::SerialFromUuid(const QString& uuid) {
    std::uint32_t value = 0;
    int digits = 0;
    for (QChar c : uuid) {
        if (c == u'-') continue;
        int d;
        if (c >= u'0' && c <= u'9')
            d = c.unicode() - '0';
        else if (c >= u'a' && c <= u'f')
            d = c.unicode() - 'a' + 10;
        else if (c >= u'A' && c <= u'F')
            d = c.unicode() - 'A' + 10;
        else
            return 0;
        value = (value << 4) | static_cast<std::uint32_t>(d);
        if (++digits == 8) return value;
    }
    return 0;
}

std::int32_t LinuxSystemIdentity::VolumeSerial(const QString& root) {
    Q_UNUSED(root);  // every drive name stands for the system volume, mounted at "/"
    // The device of "/" from mountinfo: "id parent major:minor root mountpoint ...".
    QFile mountinfo(m_proc + QStringLiteral("/self/mountinfo"));
    dev_t device = 0;
    bool haveDevice = false;
    if (mountinfo.open(QIODevice::ReadOnly)) {
        while (!mountinfo.atEnd()) {
            QList<QByteArray> fields = mountinfo.readLine().split(' ');
            if (fields.size() < 5 || fields[4] != "/") continue;
            QList<QByteArray> mm = fields[2].split(':');
            if (mm.size() != 2) continue;
            device = makedev(mm[0].toUInt(), mm[1].toUInt());
            haveDevice = true;  // the last "/" line is the one in effect
        }
    }
    if (haveDevice) {
        QDir byUuid(m_byUuid);
        const QStringList uuids = byUuid.entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot);
        for (const QString& uuid : uuids) {
            struct stat st {};
            if (stat(QFile::encodeName(byUuid.filePath(uuid)).constData(), &st) != 0) continue;
            if (!S_ISBLK(st.st_mode) || st.st_rdev != device) continue;
            std::uint32_t serial = SerialFromUuid(uuid);
            if (serial != 0) return static_cast<std::int32_t>(serial);
        }
    }
    struct statvfs vfs {};
    if (statvfs("/", &vfs) != 0) return 0;
    auto fsid = static_cast<std::uint64_t>(vfs.f_fsid);
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(fsid ^ (fsid >> 32)));
}

SystemVersion LinuxSystemIdentity::VersionFromRelease(const QString& release) {
    static const QRegularExpression re(QStringLiteral("^(\\d+)\\.(\\d+)"));
    SystemVersion v;
    v.platformId = 2;
    QRegularExpressionMatch m = re.match(release);
    if (m.hasMatch()) {
        v.major = m.captured(1).toInt();
        v.minor = m.captured(2).toInt();
    }
    return v;
}

SystemVersion LinuxSystemIdentity::Version() {
    struct utsname u {};
    if (uname(&u) != 0) return SystemVersion{};  // no record: nothing is known of the system
    return VersionFromRelease(QString::fromLocal8Bit(u.release));
}

}  // namespace pelio::platform
