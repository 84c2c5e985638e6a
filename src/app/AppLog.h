#pragma once

#include <QLoggingCategory>

namespace pelio::app {

// "pelio.app": the decisions of start-up (folders, another copy, machine code). Silent unless
// QT_LOGGING_RULES turns it on (see util/core/Diagnostics.h).
Q_DECLARE_LOGGING_CATEGORY(lcApp)

}  // namespace pelio::app
