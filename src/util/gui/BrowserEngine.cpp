#include "util/gui/BrowserEngine.h"

#include "util/core/Diagnostics.h"

#include <QByteArrayList>
#include <QDir>

#include <unistd.h>

namespace pelio::util {

namespace {

bool GpuAvailable() {
    if (qEnvironmentVariable("QT_QPA_PLATFORM") == QLatin1String("offscreen")) return false;
    return !QDir(QStringLiteral("/dev/dri")).entryList({QStringLiteral("renderD*")}, QDir::System).isEmpty();
}

// Adds a switch to the engine's command line unless the user's own flags name it already.
void AddEngineFlag(const QByteArray& flag) {
    QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    const QByteArray name = flag.left(flag.indexOf('=') < 0 ? flag.size() : flag.indexOf('='));
    if (flags.contains(name)) return;
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags.isEmpty() ? flag : flags + ' ' + flag);
}

}  // namespace

void PrepareBrowserEngine() {
    if (geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    if (!GpuAvailable()) AddEngineFlag("--disable-gpu");
    if (!DiagnosticsRequested()) AddEngineFlag("--log-level=3");  // fatal messages only
}

}  // namespace pelio::util
