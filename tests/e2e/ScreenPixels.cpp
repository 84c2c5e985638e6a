#include "ScreenPixels.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace pelio::test {

void FillScreen(XvfbDisplay& screen, unsigned long colour) {
    auto* d = static_cast<Display*>(screen.display());
    GC gc = XCreateGC(d, DefaultRootWindow(d), 0, nullptr);
    XSetForeground(d, gc, colour);
    XFillRectangle(d, DefaultRootWindow(d), gc, 0, 0, 640, 480);
    XFreeGC(d, gc);
    XSync(d, False);
}

int PointsOf(const XvfbDisplay& screen, unsigned long colour) {
    auto* d = static_cast<Display*>(screen.display());
    XImage* image = XGetImage(d, DefaultRootWindow(d), 0, 0, 1280, 800, AllPlanes, ZPixmap);
    if (!image) return 0;
    int count = 0;
    for (int y = 0; y < 800; y += 32)
        for (int x = 0; x < 1280; x += 32) count += (XGetPixel(image, x, y) & 0xffffff) == colour ? 1 : 0;
    XDestroyImage(image);
    return count;
}

}  // namespace pelio::test
