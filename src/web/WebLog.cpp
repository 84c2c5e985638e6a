#include "web/WebLog.h"

namespace pelio::web {
// Only critical messages pass by default; the folder writes none, so it prints nothing without rules.
Q_LOGGING_CATEGORY(lcWeb, "pelio.web", QtCriticalMsg)
}  // namespace pelio::web
