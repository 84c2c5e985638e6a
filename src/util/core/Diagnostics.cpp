#include "util/core/Diagnostics.h"

namespace pelio::util {

Q_LOGGING_CATEGORY(lcUtil, "pelio.util", QtCriticalMsg)

namespace {

void DropMessage(QtMsgType, const QMessageLogContext&, const QString&) {}

}  // namespace

bool DiagnosticsRequested() {
    return !qEnvironmentVariableIsEmpty("QT_LOGGING_RULES");
}

void KeepConsoleQuiet() {
    if (!DiagnosticsRequested()) qInstallMessageHandler(DropMessage);
}

}  // namespace pelio::util
