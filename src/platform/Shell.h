#pragma once

#include <QString>

namespace pelio::platform {

// The desktop shell's "open": an address in the default web browser, a document in the program that
// handles it, a folder in the file manager.
class Shell {
  public:
    virtual ~Shell() = default;

    // Opens `target` (an address with a scheme, or a path of this computer) in a normal window.
    // Returns false when nothing could be started for it.
    virtual bool Open(const QString& target) = 0;
};

}  // namespace pelio::platform
