#pragma once

#include <QLoggingCategory>

namespace pelio::platform {

// "pelio.platform": what the platform services could not do and what they fell back to. Silent unless
// QT_LOGGING_RULES turns it on (see util/core/Diagnostics.h).
Q_DECLARE_LOGGING_CATEGORY(lcPlatform)

}  // namespace pelio::platform
