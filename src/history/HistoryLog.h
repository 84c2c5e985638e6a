#pragma once

#include <QLoggingCategory>

namespace pelio::history {

// The history viewer's diagnostics, "pelio.history": silent unless QT_LOGGING_RULES turns them on
// (QT_LOGGING_RULES="pelio.history=true"). The customer never sees them.
Q_DECLARE_LOGGING_CATEGORY(lcHistory)

}  // namespace pelio::history
