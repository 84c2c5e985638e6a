#pragma once

#include "platform/WindowManager.h"

class QWindow;

// Bringing windows to the front, as the agent list and screen view windows do.
namespace pelio::app {

// The first top-level window of any program whose title contains `text` (any case); 0 when none.
platform::WindowHandle FindWindowByTitle(platform::WindowManager& windows, const QString& text);

// Restores the window when minimised and makes it the foreground window; errors are ignored.
void RestoreAndActivate(platform::WindowManager& windows, platform::WindowHandle window);

// Makes the window the foreground window; errors are ignored.
void ActivateWindow(platform::WindowManager& windows, platform::WindowHandle window);

// True when the form's window (a widget's windowHandle()) is the foreground window now.
bool IsForegroundForm(platform::WindowManager& windows, const QWindow* form);

}  // namespace pelio::app
