#pragma once

#include "platform/UserFolders.h"

namespace pelio::platform {

class LinuxUserFolders : public UserFolders {
  public:
    QString DocumentsFolder() override;
};

}  // namespace pelio::platform
