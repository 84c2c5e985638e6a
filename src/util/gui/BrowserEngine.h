#pragma once

// What the browser engine behind the browser controls needs from the process environment. Call
// before the application object exists; values the user set already are kept.
namespace pelio::util {

// - Run as root (the program runs with administrator rights by design: it shows and hands over control
//   of the whole screen), the engine refuses to start its sandbox and ends the program, so the sandbox
//   is turned off (QTWEBENGINE_DISABLE_SANDBOX=1).
// - Without a GPU the engine can use (no render node under /dev/dri, as on a virtual machine or a
//   server, or the offscreen platform), it would still try one, log errors and misplace scroll
//   positions, so it is told to draw without one (--disable-gpu).
// - Unless diagnostics were asked for (QT_LOGGING_RULES), the engine's own log stays off the console.
void PrepareBrowserEngine();

}  // namespace pelio::util
