#pragma once

#include "platform/InputMode.h"

namespace pelio::platform {

// fcitx5 through its D-Bus controller on the session bus: Hangul is its active state, alphanumeric its
// inactive one (with fcitx5-hangul). ibus offers no way to set a mode from outside, and without an
// input method there is nothing to set: then nothing happens.
class LinuxInputMode : public InputMode {
  public:
    void SetHangul(bool hangul) override;
};

}  // namespace pelio::platform
