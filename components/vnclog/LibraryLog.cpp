#include "vnclog/LibraryLog.h"

#include <cstdio>
#include <cstring>

namespace pelio::components {

void ForwardLibraryLine(LogCategory category, bool error, const char* format, va_list args) {
    char text[1024];
    std::vsnprintf(text, sizeof text, format, args);
    std::size_t length = std::strlen(text);
    while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r')) text[--length] = '\0';
    if (error)
        qCWarning(category, "library: %s", text);
    else
        qCInfo(category, "library: %s", text);
}

}  // namespace pelio::components
