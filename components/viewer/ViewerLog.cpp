#include "viewer/ViewerLog.h"

#include <rfb/rfbclient.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace pelio::components {

// The threshold is "critical" and the component writes no critical messages: without rules, none of
// its debug, info or warning messages prints.
Q_LOGGING_CATEGORY(lcViewer, "pelio.viewer", QtCriticalMsg)

namespace {

void Forward(bool error, const char* format, va_list args) {
    char text[1024];
    std::vsnprintf(text, sizeof text, format, args);
    std::size_t length = std::strlen(text);
    while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r')) text[--length] = '\0';
    if (error)
        qCWarning(lcViewer, "library: %s", text);
    else
        qCInfo(lcViewer, "library: %s", text);
}

void LibraryLog(const char* format, ...) {
    if (!lcViewer().isInfoEnabled()) return;
    va_list args;
    va_start(args, format);
    Forward(false, format, args);
    va_end(args);
}

void LibraryError(const char* format, ...) {
    if (!lcViewer().isWarningEnabled()) return;
    va_list args;
    va_start(args, format);
    Forward(true, format, args);
    va_end(args);
}

}  // namespace

void RouteClientLibraryLog() {
    rfbClientLog = LibraryLog;
    rfbClientErr = LibraryError;
}

}  // namespace pelio::components
