// Diagnostics of the secure link: the logging category "pelio.secure", silent unless turned on with
// QT_LOGGING_RULES (for example QT_LOGGING_RULES="pelio.secure*=true").
#pragma once

#include <QLoggingCategory>

namespace pelio::components::secure {

Q_DECLARE_LOGGING_CATEGORY(lcSecure)

}  // namespace pelio::components::secure
