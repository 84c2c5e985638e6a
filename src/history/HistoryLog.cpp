#include "history/HistoryLog.h"

namespace pelio::history {

Q_LOGGING_CATEGORY(lcHistory, "pelio.history", QtCriticalMsg)

}  // namespace pelio::history
