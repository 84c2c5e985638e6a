#include "viewer/ViewerLog.h"

#include "vnclog/LibraryLog.h"

#include <rfb/rfbclient.h>

namespace pelio::components {

// The threshold is "critical" and the component writes no critical messages: without rules, none of
// its debug, info or warning messages prints.
Q_LOGGING_CATEGORY(lcViewer, "pelio.viewer", QtCriticalMsg)

void RouteClientLibraryLog() {
    rfbClientLog = LibraryInfo<lcViewer>;
    rfbClientErr = LibraryWarning<lcViewer>;
}

}  // namespace pelio::components
