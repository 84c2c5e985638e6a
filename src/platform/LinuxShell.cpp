#include "platform/LinuxShell.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>

namespace pelio::platform {

bool LinuxShell::Open(const QString& target) {
    if (target.trimmed().isEmpty()) return false;
    const QFileInfo file(target);
    if (file.isAbsolute() && file.exists()) {
        if (file.isFile() && file.isExecutable())
            return QProcess::startDetached(file.absoluteFilePath(), {}, file.absolutePath());
        return QDesktopServices::openUrl(QUrl::fromLocalFile(file.absoluteFilePath()));
    }
    const QUrl url(target, QUrl::TolerantMode);
    if (!url.isValid() || url.scheme().size() < 2) return false;  // "C:..." is no scheme either
    return QDesktopServices::openUrl(url);
}

}  // namespace pelio::platform
