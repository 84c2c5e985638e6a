// Opening the X display a benchmark drives. Include after Qt's headers: Xlib's macros (None, Bool)
// clash with Qt's names.
#pragma once

#include <X11/Xlib.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

namespace pelio::bench {

// The display `name`, tried for up to two seconds: right after a server on it ended, the X server may
// still be closing that client and refuse a new one for a moment. Null, said on stderr, when it
// never opens; the caller must not go on with it.
inline Display* OpenDisplay(const std::string& name) {
    for (int attempt = 0; attempt < 40; ++attempt) {
        if (Display* d = XOpenDisplay(name.c_str())) return d;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::fprintf(stderr, "cannot open the X display %s\n", name.c_str());
    return nullptr;
}

// One step of the "scroll" scene the server and viewer benchmarks share: a text-like area of the root
// window scrolls up by one line and gets a new line numbered `frame`.
inline void ScrollStep(Display* d, Window root, GC gc, unsigned frame) {
    XCopyArea(d, root, root, gc, 0, 116, 1000, 600, 0, 100);
    XSetForeground(d, gc, 0xffffff);
    XFillRectangle(d, root, gc, 0, 700, 1000, 16);
    XSetForeground(d, gc, 0);
    const std::string line = "line " + std::to_string(frame) + " the quick brown fox jumps over the lazy dog";
    XDrawString(d, root, gc, 4, 712, line.c_str(), int(line.size()));
}

}  // namespace pelio::bench
