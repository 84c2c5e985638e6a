#include "app/MachineCode.h"

#include "app/Scramble.h"
#include "app/UserSettings.h"
#include "platform/SystemIdentity.h"
#include "util/core/SettingsKeys.h"

#include <algorithm>

namespace pelio::app {

namespace {

QString Reversed(QString s) {
    std::reverse(s.begin(), s.end());
    return s;
}

}  // namespace

QString AdapterAddressText(platform::SystemIdentity& identity) {
    const auto mac = identity.AdapterAddress();
    QStringList bytes;
    for (std::uint8_t b : mac) bytes << QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0')).toUpper();
    return bytes.join(u' ');
}

QString VolumeCodeOfSerial(qint32 serial) {
    constexpr qint32 kLimit = 2142216165;  // above this, adding the offset would overflow
    constexpr qint32 kOffset = 5267482;    // 0x50601A
    qint32 adjusted = serial <= kLimit ? serial + kOffset : serial;
    return QString::number(static_cast<quint32>(adjusted), 16).toUpper();
}

QString VolumeCode(platform::SystemIdentity& identity, const QString& drive) {
    QString root = drive;
    if (root.size() == 1)
        root += QStringLiteral(":\\");
    else if (root.size() == 2 && root.endsWith(u':'))
        root += u'\\';
    return VolumeCodeOfSerial(identity.VolumeSerial(root));
}

QString AdapterCode(platform::SystemIdentity& identity) {
    QString text = AdapterAddressText(identity);
    if (text.isEmpty()) text = VolumeCode(identity, QStringLiteral("C"));
    text.remove(u' ');
    if (text == QLatin1String("000000000000")) text = VolumeCode(identity, QStringLiteral("C"));
    text = Reversed(text);
    static const std::pair<QChar, QChar> kTable[] = {{u'A', u'W'}, {u'B', u'G'}, {u'C', u'U'},
                                                     {u'D', u'K'}, {u'0', u'R'}, {u'1', u'Q'},
                                                     {u'2', u'P'}, {u'3', u'N'}, {u'5', u'X'}};
    for (const auto& [from, to] : kTable) text.replace(from, to);
    return text.left(5);
}

QString GetMachineCode(platform::SystemIdentity& identity, const UserSettings& userSettings) {
    const QString stored =
        userSettings.Get(util::settings::kUserApplication, util::settings::MachineCodeStore.section,
                         util::settings::MachineCodeStore.key);
    if (stored.size() > 10) return UnscrambleHex(stored, ValueKey);
    const QString code =
        AdapterCode(identity) + Reversed(VolumeCode(identity, QStringLiteral("C:")).mid(1, 6));
    userSettings.Save(util::settings::kUserApplication, util::settings::MachineCodeStore.section,
                      util::settings::MachineCodeStore.key, ScrambleHex(code, ValueKey));
    return code;
}

}  // namespace pelio::app
