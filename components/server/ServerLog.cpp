#include "server/ServerLog.h"

#include "vnclog/LibraryLog.h"

#include <rfb/rfb.h>

namespace pelio::components {

// The threshold is "critical" and the component writes no critical messages: without rules, none of
// its debug, info or warning messages prints.
Q_LOGGING_CATEGORY(lcServer, "pelio.server", QtCriticalMsg)

void RouteLibraryLog() {
    rfbLogEnable(1);
    rfbLog = LibraryInfo<lcServer>;
    rfbErr = LibraryWarning<lcServer>;
}

}  // namespace pelio::components
