#include "secure/SecureLog.h"

namespace pelio::components::secure {

// As the server component's: nothing prints without rules.
Q_LOGGING_CATEGORY(lcSecure, "pelio.secure", QtCriticalMsg)

}  // namespace pelio::components::secure
