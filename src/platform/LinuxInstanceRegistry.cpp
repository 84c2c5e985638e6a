#include "platform/LinuxInstanceRegistry.h"

#include <QDir>
#include <QFileInfo>

#include <unistd.h>

namespace pelio::platform {

namespace {

QString ExeOf(const QString& procEntry) {
    QString target = QFileInfo(procEntry + QStringLiteral("/exe")).symLinkTarget();
    const QString deleted = QStringLiteral(" (deleted)");
    if (target.endsWith(deleted)) target.chop(deleted.size());
    return target;
}

}  // namespace

LinuxInstanceRegistry::LinuxInstanceRegistry(QString procRoot) : m_proc(std::move(procRoot)) {}

bool LinuxInstanceRegistry::PreviousInstanceExists() {
    const QString self = ExeOf(m_proc + QStringLiteral("/self"));
    if (self.isEmpty()) return false;
    const QString ownPid = QString::number(getpid());
    QDir proc(m_proc);
    const QStringList entries = proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        if (entry == ownPid || entry.isEmpty() || !entry[0].isDigit()) continue;
        bool numeric = false;
        entry.toLongLong(&numeric);
        if (!numeric) continue;
        if (ExeOf(proc.filePath(entry)) == self) return true;
    }
    return false;
}

}  // namespace pelio::platform
