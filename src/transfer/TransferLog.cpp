#include "transfer/TransferLog.h"

namespace pelio::transfer {

Q_LOGGING_CATEGORY(lcTransfer, "pelio.transfer", QtCriticalMsg)

}  // namespace pelio::transfer
