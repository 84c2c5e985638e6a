#pragma once

namespace pelio::platform {

// The keyboard input mode of the text box that has the focus: Hangul (the input method composes Korean
// syllables) or alphanumeric. Acts through the desktop's input method where it allows it (fcitx5
// through its D-Bus controller; ibus as far as it lets a program choose); elsewhere it does nothing.
// Never fails to the caller.
class InputMode {
  public:
    virtual ~InputMode() = default;
    virtual void SetHangul(bool hangul) = 0;
};

}  // namespace pelio::platform
