#include "XCapture.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstring>

namespace pelio::recorder {

struct XCapture::Impl {
    Display* display = nullptr;
    Window root = 0;
};

XCapture::XCapture() : d(std::make_unique<Impl>()) {}

XCapture::~XCapture() {
    if (d->display) XCloseDisplay(d->display);
}

bool XCapture::Open(const char* displayName) {
    d->display = XOpenDisplay(displayName);
    if (!d->display) return false;
    d->root = DefaultRootWindow(d->display);
    XWindowAttributes attributes{};
    XGetWindowAttributes(d->display, d->root, &attributes);
    m_size = QSize(attributes.width, attributes.height);
    m_pixels.assign(std::size_t(m_size.width()) * std::size_t(m_size.height()), 0);
    return attributes.depth >= 24;
}

QRegion XCapture::Grab() {
    XImage* image = XGetImage(d->display, d->root, 0, 0, unsigned(m_size.width()), unsigned(m_size.height()),
                              AllPlanes, ZPixmap);
    if (!image) return {};
    constexpr int Tile = 64;
    QRegion changed;
    const int w = m_size.width(), h = m_size.height();
    for (int ty = 0; ty < h; ty += Tile) {
        const int th = std::min(Tile, h - ty);
        for (int tx = 0; tx < w; tx += Tile) {
            const int tw = std::min(Tile, w - tx);
            bool differs = m_first;
            for (int y = ty; y < ty + th; ++y) {
                const auto* src = reinterpret_cast<const std::uint32_t*>(
                                      image->data + std::ptrdiff_t(y) * image->bytes_per_line) +
                                  tx;
                std::uint32_t* dst = m_pixels.data() + std::size_t(y) * std::size_t(w) + tx;
                if (differs || std::memcmp(src, dst, std::size_t(tw) * 4) != 0) {
                    differs = true;
                    std::memcpy(dst, src, std::size_t(tw) * 4);
                }
            }
            if (differs) changed += QRect(tx, ty, tw, th);
        }
    }
    XDestroyImage(image);
    m_first = false;
    return changed;
}

QPoint XCapture::Pointer() const {
    Window rootReturn = 0, child = 0;
    int x = 0, y = 0, wx = 0, wy = 0;
    unsigned mask = 0;
    XQueryPointer(d->display, d->root, &rootReturn, &child, &x, &y, &wx, &wy, &mask);
    return {x, y};
}

}  // namespace pelio::recorder
