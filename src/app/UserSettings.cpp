#include "app/UserSettings.h"

#include "util/core/IniFile.h"

#include <QDir>
#include <QStandardPaths>

namespace pelio::app {

UserSettings::UserSettings(QString baseFolder) : m_base(std::move(baseFolder)) {}

QString UserSettings::DefaultBaseFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
}

QString UserSettings::FileOf(const QString& application) const {
    return m_base + u'/' + application + QStringLiteral("/settings.ini");
}

QString UserSettings::Get(const QString& application, const QString& section, const QString& key,
                          const QString& defaultValue) const {
    if (m_base.isEmpty() || application.isEmpty()) return defaultValue;
    return util::IniRead(FileOf(application), section, key, defaultValue);
}

bool UserSettings::Save(const QString& application, const QString& section, const QString& key,
                        const QString& value) const {
    if (m_base.isEmpty() || application.isEmpty() || application.contains(u'/') || application == u".." ||
        application == u".")
        return false;
    if (!QDir().mkpath(m_base + u'/' + application)) return false;
    QString stored = value;
    stored.replace(QStringLiteral("\r\n"), QStringLiteral("\\n\\r"));
    return util::ProfileWrite(FileOf(application), section, key, stored);
}

}  // namespace pelio::app
