#pragma once

#include <QString>

namespace pelio::platform {

// The user's own folders as the desktop names them.
class UserFolders {
  public:
    virtual ~UserFolders() = default;
    // The user's documents folder (the freedesktop "DOCUMENTS" folder, else the home folder's
    // "Documents"), without a trailing "/".
    virtual QString DocumentsFolder() = 0;
};

}  // namespace pelio::platform
