#include "session/SessionLog.h"

namespace pelio::session {

Q_LOGGING_CATEGORY(lcSession, "pelio.session", QtCriticalMsg)

}  // namespace pelio::session
