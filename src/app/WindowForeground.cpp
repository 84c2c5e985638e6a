#include "app/WindowForeground.h"

namespace pelio::app {

platform::WindowHandle FindWindowByTitle(platform::WindowManager& windows, const QString& text) {
    return windows.FindWindowByTitle(text);
}

void RestoreAndActivate(platform::WindowManager& windows, platform::WindowHandle window) {
    if (window != 0) windows.RestoreAndActivate(window);
}

void ActivateWindow(platform::WindowManager& windows, platform::WindowHandle window) {
    if (window != 0) windows.ActivateWindow(window);
}

bool IsForegroundForm(platform::WindowManager& windows, const QWindow* form) {
    if (!form) return false;
    const platform::WindowHandle handle = windows.HandleOf(form);
    return handle != 0 && handle == windows.ForegroundWindow();
}

}  // namespace pelio::app
