#pragma once

#include <QString>

namespace pelio::app {

// The per-user settings area: values by application, section and key, kept per user in
// <base>/<application>/settings.ini (base is $XDG_CONFIG_HOME, or ~/.config). The file follows the
// settings-file rules of IniFile.h.
class UserSettings {
  public:
    explicit UserSettings(QString baseFolder);

    // The base folder from the environment: $XDG_CONFIG_HOME, else ~/.config.
    static QString DefaultBaseFolder();

    QString Get(const QString& application, const QString& section, const QString& key,
                const QString& defaultValue = QString()) const;
    // Creates the application's folder when needed. Returns false when nothing was stored.
    bool Save(const QString& application, const QString& section, const QString& key,
              const QString& value) const;

    QString FileOf(const QString& application) const;

  private:
    QString m_base;
};

}  // namespace pelio::app
