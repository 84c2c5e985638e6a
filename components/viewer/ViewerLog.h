// Diagnostics of the viewer component: the logging category "pelio.viewer". It is silent unless
// turned on with QT_LOGGING_RULES (for example QT_LOGGING_RULES="pelio.viewer*=true"): the customer
// sees nothing and no file is written.
#pragma once

#include <QLoggingCategory>

namespace pelio::components {

Q_DECLARE_LOGGING_CATEGORY(lcViewer)

// Sends the VNC client library's own log (rfbClientLog as info, rfbClientErr as warnings) to the
// category. Process-wide; calling it again changes nothing.
void RouteClientLibraryLog();

}  // namespace pelio::components
