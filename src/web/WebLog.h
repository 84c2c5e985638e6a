#pragma once

#include <QLoggingCategory>

// The diagnostics of the web folder: category "pelio.web", silent unless QT_LOGGING_RULES turns it on
// (for example QT_LOGGING_RULES="pelio.web.debug=true").
namespace pelio::web {
Q_DECLARE_LOGGING_CATEGORY(lcWeb)
}
