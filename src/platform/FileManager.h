#pragma once

#include <QString>

namespace pelio::platform {

// The desktop's file manager, opened in a new window with normal focus.
class FileManager {
  public:
    virtual ~FileManager() = default;

    // Opens the file manager at its default place (the user's home folder).
    virtual void ShowDefault() = 0;

    // Opens the folder.
    virtual void ShowFolder(const QString& folder) = 0;

    // Opens the folder that holds the file, with the file selected.
    virtual void ShowItem(const QString& file) = 0;
};

}  // namespace pelio::platform
