#pragma once

#include "platform/FileManager.h"

namespace pelio::platform {

// The freedesktop file-manager interface (org.freedesktop.FileManager1 on the session bus); when no
// file manager answers there, the folder is opened with the desktop's default handler (xdg-open), a
// file's folder without the selection.
class LinuxFileManager : public FileManager {
  public:
    void ShowDefault() override;
    void ShowFolder(const QString& folder) override;
    void ShowItem(const QString& file) override;
};

}  // namespace pelio::platform
