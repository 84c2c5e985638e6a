#include "platform/FakeServices.h"

namespace pelio::platform {

FakeServices::FakeServices() {
    auto id = std::make_unique<FakeSystemIdentity>();
    auto wm = std::make_unique<FakeWindowManager>();
    auto inst = std::make_unique<FakeInstanceRegistry>();
    auto sh = std::make_unique<FakeShell>();
    identity = id.get();
    windows = wm.get();
    instances = inst.get();
    shell = sh.get();
    services.identity = std::move(id);
    services.windows = std::move(wm);
    services.instances = std::move(inst);
    services.shell = std::move(sh);
}

}  // namespace pelio::platform
