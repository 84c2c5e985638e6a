// Diagnostics of the server component: the logging category "pelio.server". It is silent unless
// turned on with QT_LOGGING_RULES (for example QT_LOGGING_RULES="pelio.server*=true"): the customer
// sees nothing and no file is written.
#pragma once

#include <QLoggingCategory>

namespace pelio::components {

Q_DECLARE_LOGGING_CATEGORY(lcServer)

// Sends the VNC library's own log (rfbLog as info, rfbErr as warnings) to the category. Process-wide;
// calling it again changes nothing.
void RouteLibraryLog();

}  // namespace pelio::components
