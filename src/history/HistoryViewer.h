#pragma once

#include <QtGlobal>

#include <memory>

class QWidget;

namespace pelio::app {
struct AppContext;
}
namespace pelio::platform {
struct Services;
}

namespace pelio::history {

class frmPlay;

// The history viewer as the program opens it, wherever from: frmPlay with the ".srf" player, whose
// positions run on the services' clock (the program's steady clock, a test's manual one), and the
// services' file manager. The caller keeps the context and the services for the window's life, and
// shows it modeless or runs it with util::RunModal.
std::unique_ptr<frmPlay> CreateHistoryViewer(app::AppContext& context, platform::Services& services,
                                             QWidget* parent = nullptr);

}  // namespace pelio::history
