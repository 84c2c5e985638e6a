// The VNC libraries' own log lines (printf-style callbacks) sent to a logging category of ours: the
// line breaks at their end cut off, errors as warnings and the rest as info, each prefixed "library: ".
// Nothing is formatted when the category would not print the line.
#pragma once

#include <QLoggingCategory>

#include <cstdarg>

namespace pelio::components {

using LogCategory = const QLoggingCategory& (*)();

void ForwardLibraryLine(LogCategory category, bool error, const char* format, va_list args);

// The callbacks for one category, to hand to the library (rfbLog/rfbErr, rfbClientLog/rfbClientErr).
template <LogCategory Category>
void LibraryInfo(const char* format, ...) {
    if (!Category().isInfoEnabled()) return;
    va_list args;
    va_start(args, format);
    ForwardLibraryLine(Category, false, format, args);
    va_end(args);
}

template <LogCategory Category>
void LibraryWarning(const char* format, ...) {
    if (!Category().isWarningEnabled()) return;
    va_list args;
    va_start(args, format);
    ForwardLibraryLine(Category, true, format, args);
    va_end(args);
}

}  // namespace pelio::components
