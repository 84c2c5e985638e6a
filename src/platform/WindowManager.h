#pragma once

#include <QString>
#include <QtGlobal>

class QWindow;

namespace pelio::platform {

// A top-level window of any program; 0 is no window.
using WindowHandle = quintptr;

// Top-level windows of the desktop: title search and bringing a window to the front.
class WindowManager {
  public:
    virtual ~WindowManager() = default;

    // The first top-level window, from the top of the stacking order, visible or hidden, of any
    // process, whose title (its first 255 characters) contains `text` without regard to case; 0 when
    // none does.
    virtual WindowHandle FindWindowByTitle(const QString& text) = 0;

    // Restores the window when it is minimised, then makes it the foreground window. Errors are
    // ignored.
    virtual void RestoreAndActivate(WindowHandle window) = 0;

    // Makes the window the foreground window. Errors are ignored.
    virtual void ActivateWindow(WindowHandle window) = 0;

    // The window that has the keyboard focus of the desktop now; 0 when none is known.
    virtual WindowHandle ForegroundWindow() = 0;

    // The handle by which this manager knows one of our own windows (its top-level window); 0 for
    // none or a window not created yet.
    virtual WindowHandle HandleOf(const QWindow* window) = 0;
};

}  // namespace pelio::platform
