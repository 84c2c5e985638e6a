#include "platform/FakeServices.h"

namespace pelio::platform {

FakeServices::FakeServices() {
    auto id = std::make_unique<FakeSystemIdentity>();
    auto wm = std::make_unique<FakeWindowManager>();
    auto inst = std::make_unique<FakeInstanceRegistry>();
    auto fm = std::make_unique<FakeFileManager>();
    auto sh = std::make_unique<FakeShell>();
    auto ck = std::make_unique<ManualClock>();
    auto im = std::make_unique<FakeInputMode>();
    auto uf = std::make_unique<FakeUserFolders>();
    auto dt = std::make_unique<FakeDesktop>();
    identity = id.get();
    windows = wm.get();
    instances = inst.get();
    files = fm.get();
    shell = sh.get();
    clock = ck.get();
    inputMode = im.get();
    folders = uf.get();
    desktop = dt.get();
    services.identity = std::move(id);
    services.windows = std::move(wm);
    services.instances = std::move(inst);
    services.files = std::move(fm);
    services.shell = std::move(sh);
    services.clock = std::move(ck);
    services.inputMode = std::move(im);
    services.folders = std::move(uf);
    services.desktop = std::move(dt);
}

}  // namespace pelio::platform
