// Injects the agent's pointer and key events into an X display through XTest, on a thread of its
// own with its own X connection. Events are queued by any thread and played in order; pointer motion
// that the thread has not played yet is merged into the newest position. Under a flood the queue
// stays bounded: key events beyond it are dropped, and the pointer still ends at the last position.
//
// Keysyms that no key of the keyboard map produces (accented letters, Unicode keysyms, the Hangul
// key on a map without it) are put on a spare keycode for as long as needed; the spare keycodes are
// cleared again when the input stops. ReleaseAll lifts every key and button still held, so that a
// departing agent leaves nothing pressed.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace pelio::components {

class X11Input {
  public:
    X11Input();
    ~X11Input();  // stops
    X11Input(const X11Input&) = delete;
    X11Input& operator=(const X11Input&) = delete;

    bool Start(const std::string& displayName);
    void Stop();

    // buttonMask bit b is button b + 1; coordinates are clamped to the screen.
    void Pointer(int buttonMask, int x, int y);
    void Key(bool down, std::uint32_t keysym);
    void ReleaseAll();

  private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

}  // namespace pelio::components
