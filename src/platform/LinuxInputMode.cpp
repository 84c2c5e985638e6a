#include "platform/LinuxInputMode.h"

#include "platform/PlatformLog.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>

namespace pelio::platform {

void LinuxInputMode::SetHangul(bool hangul) {
    static const QString service = QStringLiteral("org.fcitx.Fcitx5");
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface()) return;
    const auto registered = bus.interface()->isServiceRegistered(service);
    if (!registered.isValid() || !registered.value()) return;
    // The controller acts on the input context that had the focus last: the box that asked.
    const QDBusMessage call = QDBusMessage::createMethodCall(
        service, QStringLiteral("/controller"), QStringLiteral("org.fcitx.Fcitx.Controller1"),
        hangul ? QStringLiteral("Activate") : QStringLiteral("Deactivate"));
    if (!bus.send(call)) qCDebug(lcPlatform) << "the input method did not take the mode" << hangul;
}

}  // namespace pelio::platform
