#pragma once

#include <QLoggingCategory>

namespace pelio::transfer {

// "pelio.transfer": the file transfers' failures as the FTP client records them. Silent unless
// QT_LOGGING_RULES turns it on (see util/core/Diagnostics.h).
Q_DECLARE_LOGGING_CATEGORY(lcTransfer)

}  // namespace pelio::transfer
