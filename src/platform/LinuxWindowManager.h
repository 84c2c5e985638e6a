#pragma once

#include "platform/WindowManager.h"

namespace pelio::platform {

// Windows of the desktop. Under X11 (Qt's "xcb" platform) the search covers every top-level window of
// the display, of every program, from the top of the stacking order: the window manager's client list
// when it keeps one, else the children of the root window (and their children, for window-manager
// frames). On any other Qt platform (offscreen, Wayland) only this program's own windows can be seen.
class LinuxWindowManager : public WindowManager {
  public:
    LinuxWindowManager();
    ~LinuxWindowManager() override;
    LinuxWindowManager(const LinuxWindowManager&) = delete;
    LinuxWindowManager& operator=(const LinuxWindowManager&) = delete;

    WindowHandle FindWindowByTitle(const QString& text) override;
    void RestoreAndActivate(WindowHandle window) override;
    void ActivateWindow(WindowHandle window) override;
    WindowHandle ForegroundWindow() override;
    WindowHandle HandleOf(const QWindow* window) override;

  private:
    struct X11;
    X11* m_x = nullptr;  // null when the display is not X11
};

}  // namespace pelio::platform
