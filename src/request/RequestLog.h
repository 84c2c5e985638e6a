#pragma once

#include <QLoggingCategory>

namespace pelio::request {

// "pelio.request": what the customer's windows did (code checks, agent lists, requests for a session).
// Silent unless QT_LOGGING_RULES turns it on (see util/core/Diagnostics.h).
Q_DECLARE_LOGGING_CATEGORY(lcRequest)

}  // namespace pelio::request
