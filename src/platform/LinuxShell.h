#pragma once

#include "platform/Shell.h"

namespace pelio::platform {

// "open" through the freedesktop defaults (xdg-open and the registered handlers): addresses with a
// scheme go to their handler, existing paths open as documents or folders, and an executable file
// is started as a program.
class LinuxShell : public Shell {
  public:
    bool Open(const QString& target) override;
};

}  // namespace pelio::platform
