#pragma once

#include <QLoggingCategory>

namespace pelio::session {

// The session's diagnostics ("pelio.session"), silent unless QT_LOGGING_RULES turns them on.
Q_DECLARE_LOGGING_CATEGORY(lcSession)

}  // namespace pelio::session
