#include "platform/LinuxFileManager.h"

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
    return reply.type() == QDBusMessage::ReplyMessage;
}

void OpenWithDefault(const QString& folder) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
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
