#include "platform/LinuxFileManager.h"

#include "platform/PlatformLog.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

namespace pelio::platform {

namespace {

const QString kService = QStringLiteral("org.freedesktop.FileManager1");

// Asks the freedesktop file manager to show the URIs; false when none is registered or it refuses.
bool CallFileManager(const QString& method, const QString& path) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface()) return false;
    // Only call a file manager that is running or can be started, so a desktop without one falls
    // back at once instead of waiting for the call to time out.
    const auto registered = bus.interface()->isServiceRegistered(kService);
    const auto activatable = bus.interface()->activatableServiceNames();
    if (!(registered.isValid() && registered.value()) &&
        !(activatable.isValid() && activatable.value().contains(kService)))
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(
        kService, QStringLiteral("/org/freedesktop/FileManager1"), kService, method);
    call << QStringList{QUrl::fromLocalFile(path).toString()} << QString();
    const QDBusMessage reply = bus.call(call, QDBus::Block, 5000);
    if (reply.type() == QDBusMessage::ReplyMessage) return true;
    qCDebug(lcPlatform) << "the file manager refused" << method << path << reply.errorMessage();
    return false;
}

void OpenWithDefault(const QString& folder) {
    qCDebug(lcPlatform) << "opening the folder with the desktop's default program" << folder;
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(folder)))
        qCDebug(lcPlatform) << "no program opened" << folder;
}

}  // namespace

void LinuxFileManager::ShowDefault() {
    ShowFolder(QDir::homePath());
}

void LinuxFileManager::ShowFolder(const QString& folder) {
    if (!CallFileManager(QStringLiteral("ShowFolders"), folder)) OpenWithDefault(folder);
}

void LinuxFileManager::ShowItem(const QString& file) {
    if (!CallFileManager(QStringLiteral("ShowItems"), file)) OpenWithDefault(QFileInfo(file).absolutePath());
}

}  // namespace pelio::platform
