#pragma once

#include "platform/Clock.h"
#include "platform/Desktop.h"
#include "platform/FileManager.h"
#include "platform/InputMode.h"
#include "platform/InstanceRegistry.h"
#include "platform/Shell.h"
#include "platform/SystemIdentity.h"
#include "platform/UserFolders.h"
#include "platform/WindowManager.h"

#include <memory>

namespace pelio::platform {

// The platform services the program uses, chosen once at start-up: the Linux implementation in the
// program, the recording doubles (FakeServices.h) in tests. The program keeps the object for its
// whole run; windows receive references to the single services they need.
struct Services {
    std::unique_ptr<SystemIdentity> identity;
    std::unique_ptr<WindowManager> windows;
    std::unique_ptr<InstanceRegistry> instances;
    std::unique_ptr<Shell> shell;
    std::unique_ptr<FileManager> files;
    std::unique_ptr<Clock> clock;
    std::unique_ptr<InputMode> inputMode;
    std::unique_ptr<UserFolders> folders;
    std::unique_ptr<Desktop> desktop;
};

// The real services of this system (X11 desktop, /proc, /sys).
std::unique_ptr<Services> CreateLinuxServices();

}  // namespace pelio::platform
