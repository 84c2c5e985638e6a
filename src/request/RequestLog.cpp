#include "request/RequestLog.h"

namespace pelio::request {

Q_LOGGING_CATEGORY(lcRequest, "pelio.request", QtCriticalMsg)

}  // namespace pelio::request
