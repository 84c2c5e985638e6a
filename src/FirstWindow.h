#pragma once

#include "app/AppContext.h"
#include "app/Startup.h"

#include <QWidget>

#include <memory>

namespace pelio {

// Makes the program's first window for the start-up's choice. The caller shows it and keeps it for
// the program's run.
std::unique_ptr<QWidget> CreateFirstWindow(app::AppContext& context, app::FirstWindow kind);

}  // namespace pelio
