#pragma once

#include <QLoggingCategory>

// The diagnostics of the web folder: category "pelio.web", silent unless QT_LOGGING_RULES turns it on
// (QT_LOGGING_RULES="pelio.web=true" turns on every level).
namespace pelio::web {
Q_DECLARE_LOGGING_CATEGORY(lcWeb)
}
