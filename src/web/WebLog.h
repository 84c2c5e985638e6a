#pragma once

#include <QLoggingCategory>

namespace pelio::web {

// "pelio.web": why HTTP requests failed or fell short, and how pages were opened. Silent unless
// QT_LOGGING_RULES turns it on (see util/core/Diagnostics.h).
Q_DECLARE_LOGGING_CATEGORY(lcWeb)

}  // namespace pelio::web
