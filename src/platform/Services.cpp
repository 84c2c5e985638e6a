#include "platform/Services.h"

#include "platform/LinuxDesktop.h"
#include "platform/LinuxFileManager.h"
#include "platform/LinuxInputMode.h"
#include "platform/LinuxInstanceRegistry.h"
#include "platform/LinuxShell.h"
#include "platform/LinuxSystemIdentity.h"
#include "platform/LinuxUserFolders.h"
#include "platform/LinuxWindowManager.h"
#include "platform/PlatformLog.h"

namespace pelio::platform {

Q_LOGGING_CATEGORY(lcPlatform, "pelio.platform", QtCriticalMsg)

std::unique_ptr<Services> CreateLinuxServices() {
    auto services = std::make_unique<Services>();
    services->identity = std::make_unique<LinuxSystemIdentity>();
    services->windows = std::make_unique<LinuxWindowManager>();
    services->instances = std::make_unique<LinuxInstanceRegistry>();
    services->shell = std::make_unique<LinuxShell>();
    services->files = std::make_unique<LinuxFileManager>();
    services->clock = std::make_unique<SteadyClock>();
    services->inputMode = std::make_unique<LinuxInputMode>();
    services->folders = std::make_unique<LinuxUserFolders>();
    services->desktop = std::make_unique<LinuxDesktop>();
    return services;
}

}  // namespace pelio::platform
