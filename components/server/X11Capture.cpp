#include "server/X11Capture.h"

#include "server/TileCompare.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xdamage.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/Xrandr.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <cstring>

namespace pelio::components {

namespace {

int IgnoreXErrors(Display*, XErrorEvent*) {
    return 0;
}

}  // namespace

struct X11Capture::Impl {
    Display* display = nullptr;
    Window root = 0;
    Visual* visual = nullptr;
    int depth = 0;
    QSize size;
    bool shm = false;
    XImage* image = nullptr;  // whole-screen shared-memory image
    XShmSegmentInfo segment{};
    bool damageOn = false;
    int damageEvent = 0;
    Damage damage = 0;
    XserverRegion scratch = 0;
    bool fixes = false;
    int fixesEvent = 0;
    bool randr = false;  // RandR 1.5 or later: monitors
    int randrEvent = 0;

    void FreeImage() {
        if (!image) return;
        XShmDetach(display, &segment);
        XSync(display, False);
        image->data = nullptr;
        XDestroyImage(image);
        shmdt(segment.shmaddr);
        image = nullptr;
    }

    bool MakeImage() {
        FreeImage();
        if (!shm) return true;
        image = XShmCreateImage(display, visual, unsigned(depth), ZPixmap, nullptr, &segment,
                                unsigned(size.width()), unsigned(size.height()));
        if (!image) return false;
        segment.shmid = shmget(IPC_PRIVATE, std::size_t(image->bytes_per_line) * std::size_t(image->height),
                               IPC_CREAT | 0600);
        if (segment.shmid < 0) {
            XDestroyImage(image);
            image = nullptr;
            shm = false;
            return true;
        }
        segment.shmaddr = image->data = static_cast<char*>(shmat(segment.shmid, nullptr, 0));
        segment.readOnly = False;
        const bool attached = XShmAttach(display, &segment);
        XSync(display, False);
        shmctl(segment.shmid, IPC_RMID, nullptr);
        if (!attached) {
            image->data = nullptr;
            XDestroyImage(image);
            shmdt(segment.shmaddr);
            image = nullptr;
            shm = false;
        }
        return true;
    }

    // Grabs one rectangle (inside the screen); calls copy(row pointer, row index) for each row.
    template <typename F>
    bool GrabRect(const QRect& r, F&& copy) {
        if (shm && image) {
            // The server writes the rectangle into the shared segment as an image of the
            // rectangle's own width: rows are that width (padded to the scanline unit) apart, not the
            // full image's bytes_per_line.
            const int fullW = image->width, fullH = image->height;
            image->width = r.width();
            image->height = r.height();
            const bool ok = XShmGetImage(display, root, image, r.x(), r.y(), AllPlanes);
            image->width = fullW;
            image->height = fullH;
            if (!ok) return false;
            const int pad = image->bitmap_pad > 0 ? image->bitmap_pad : 32;
            const std::ptrdiff_t pitch =
                ((std::ptrdiff_t(r.width()) * image->bits_per_pixel + pad - 1) / pad) * (pad / 8);
            for (int y = 0; y < r.height(); ++y)
                copy(reinterpret_cast<const std::uint32_t*>(image->data + std::ptrdiff_t(y) * pitch), y);
            return true;
        }
        XImage* img = XGetImage(display, root, r.x(), r.y(), unsigned(r.width()), unsigned(r.height()),
                                AllPlanes, ZPixmap);
        if (!img) return false;
        for (int y = 0; y < r.height(); ++y)
            copy(reinterpret_cast<const std::uint32_t*>(img->data + std::ptrdiff_t(y) * img->bytes_per_line),
                 y);
        XDestroyImage(img);
        return true;
    }
};

X11Capture::X11Capture() : d(std::make_unique<Impl>()) {}

X11Capture::~X11Capture() {
    if (!d->display) return;
    d->FreeImage();
    if (d->damage) XDamageDestroy(d->display, d->damage);
    if (d->scratch) XFixesDestroyRegion(d->display, d->scratch);
    XCloseDisplay(d->display);
}

bool X11Capture::Open(const std::string& displayName, bool useDamage) {
    XSetErrorHandler(IgnoreXErrors);
    d->display = XOpenDisplay(displayName.empty() ? nullptr : displayName.c_str());
    if (!d->display) return false;
    d->root = DefaultRootWindow(d->display);
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(d->display, d->root, &attributes)) return false;
    d->visual = attributes.visual;
    d->depth = attributes.depth;
    d->size = QSize(attributes.width, attributes.height);
    if (d->depth < 24 || d->visual->red_mask != 0xff0000 || d->visual->green_mask != 0xff00 ||
        d->visual->blue_mask != 0xff || ImageByteOrder(d->display) != LSBFirst)
        return false;
    int major = 0, minor = 0;
    Bool pixmaps = False;
    d->shm = XShmQueryVersion(d->display, &major, &minor, &pixmaps);
    if (!d->MakeImage()) return false;
    XSelectInput(d->display, d->root, StructureNotifyMask);
    int error = 0;
    int randrMajor = 0, randrMinor = 0;
    if (XRRQueryExtension(d->display, &d->randrEvent, &error) &&
        XRRQueryVersion(d->display, &randrMajor, &randrMinor) &&
        (randrMajor > 1 || (randrMajor == 1 && randrMinor >= 5))) {
        d->randr = true;
        XRRSelectInput(d->display, d->root, RRScreenChangeNotifyMask);
    }

    d->fixes = XFixesQueryExtension(d->display, &d->fixesEvent, &error);
    if (d->fixes) XFixesSelectCursorInput(d->display, d->root, XFixesDisplayCursorNotifyMask);
    if (useDamage && d->fixes && XDamageQueryExtension(d->display, &d->damageEvent, &error)) {
        d->damage = XDamageCreate(d->display, d->root, XDamageReportDeltaRectangles);
        d->scratch = XFixesCreateRegion(d->display, nullptr, 0);
        d->damageOn = d->damage != 0;
    }
    XSync(d->display, False);
    return true;
}

QSize X11Capture::Size() const {
    return d->size;
}

int X11Capture::Fd() const {
    return d->display ? ConnectionNumber(d->display) : -1;
}

bool X11Capture::ProcessEvents(Events& events) {
    bool damaged = false;
    while (XPending(d->display)) {
        XEvent event;
        XNextEvent(d->display, &event);
        if (d->damageOn && event.type == d->damageEvent + XDamageNotify) {
            // Delta rectangles: each report carries what a drawing added to the damage, so no round
            // trip to fetch the region is needed, and drawing over damage already reported costs no
            // report until ResetDamage.
            const auto& notify = reinterpret_cast<const XDamageNotifyEvent&>(event);
            events.damage += QRect(notify.area.x, notify.area.y, notify.area.width, notify.area.height);
            damaged = true;
        } else if (d->fixes && event.type == d->fixesEvent + XFixesCursorNotify) {
            events.cursorChanged = true;
        } else if (d->randr && event.type == d->randrEvent + RRScreenChangeNotify) {
            XRRUpdateConfiguration(&event);
            events.monitorsChanged = true;
        } else if (event.type == ConfigureNotify && event.xconfigure.window == d->root) {
            // A monitor set or deleted by a client is told as a configuration of the root window of
            // the same size, without a RandR event.
            events.monitorsChanged = true;
            const QSize size(event.xconfigure.width, event.xconfigure.height);
            if (size != d->size && size.width() > 0 && size.height() > 0) {
                d->size = size;
                d->MakeImage();
                events.resized = true;
            }
        }
    }
    return damaged;
}

void X11Capture::ResetDamage() {
    // Asynchronous, and sent before the grab that follows: drawing after it is reported anew.
    if (d->damageOn) XDamageSubtract(d->display, d->damage, None, None);
}

bool X11Capture::Grab(const QRegion& region, std::uint32_t* dest, int strideBytes) {
    const QRect screen(QPoint(0, 0), d->size);
    bool ok = true;
    for (const QRect& rect : region) {
        const QRect r = rect & screen;
        if (r.isEmpty()) continue;
        ok = d->GrabRect(r, [&](const std::uint32_t* row, int y) {
            auto* out = reinterpret_cast<std::uint32_t*>(reinterpret_cast<char*>(dest) +
                                                         std::ptrdiff_t(r.y() + y) * strideBytes) +
                        r.x();
            std::memcpy(out, row, std::size_t(r.width()) * 4);
        }) && ok;
    }
    return ok;
}

QRegion X11Capture::GrabChanged(const QRegion& region, std::uint32_t* dest, int strideBytes) {
    constexpr int Tile = tiles::Size;
    const QRect screen(QPoint(0, 0), d->size);
    QRegion changed;
    for (const QRect& rect : region) {
        const QRect r = rect & screen;
        if (r.isEmpty()) continue;
        // Tiles on the screen's 32-pixel grid, clipped to the rectangle.
        const int tx0 = r.left() / Tile, tx1 = r.right() / Tile;
        const int ty0 = r.top() / Tile, ty1 = r.bottom() / Tile;
        const int columns = tx1 - tx0 + 1;
        std::vector<char> marks(std::size_t(columns) * std::size_t(ty1 - ty0 + 1), 0);
        const bool ok = d->GrabRect(r, [&](const std::uint32_t* row, int y) {
            const int sy = r.y() + y;
            auto* out = reinterpret_cast<std::uint32_t*>(reinterpret_cast<char*>(dest) +
                                                         std::ptrdiff_t(sy) * strideBytes);
            tiles::MergeRow(row, out, r.x(), r.width(),
                            marks.data() + std::size_t(sy / Tile - ty0) * std::size_t(columns));
        });
        if (!ok) continue;
        // Runs of changed tiles in each row of tiles, in the banded order QRegion keeps: adding tile by
        // tile would cost a region operation each.
        // A row with the same runs as the row above it extends that row's rectangles, as QRegion's
        // own form has it.
        std::vector<QRect> runs;
        std::size_t band = 0, bandEnd = 0;  // the rectangles of the last row of tiles
        for (int ty = ty0; ty <= ty1; ++ty) {
            const char* row = marks.data() + std::size_t(ty - ty0) * std::size_t(columns);
            const std::size_t start = runs.size();
            for (int i = 0; i < columns;) {
                if (!row[i]) {
                    ++i;
                    continue;
                }
                int j = i;
                while (j < columns && row[j]) ++j;
                runs.push_back(QRect(QPoint((tx0 + i) * Tile, ty * Tile),
                                     QPoint((tx0 + j) * Tile - 1, ty * Tile + Tile - 1)) &
                               r);
                i = j;
            }
            const std::size_t count = runs.size() - start;
            bool same = count > 0 && count == bandEnd - band && runs[band].bottom() + 1 == runs[start].top();
            for (std::size_t k = 0; same && k < count; ++k)
                same = runs[band + k].left() == runs[start + k].left() &&
                       runs[band + k].right() == runs[start + k].right();
            if (same) {
                for (std::size_t k = 0; k < count; ++k) runs[band + k].setBottom(runs[start + k].bottom());
                runs.resize(start);
            } else if (count > 0) {
                band = start;
                bandEnd = runs.size();
            }
        }
        if (runs.empty()) continue;
        QRegion part;
        part.setRects(runs.data(), int(runs.size()));
        changed += part;
    }
    return changed;
}

QRegion X11Capture::Sweep(std::uint32_t* dest, int strideBytes) {
    return GrabChanged(QRect(QPoint(0, 0), d->size), dest, strideBytes);
}

std::vector<QRect> X11Capture::Monitors() {
    std::vector<QRect> monitors;
    if (!d->randr) return monitors;
    int count = 0;
    XRRMonitorInfo* info = XRRGetMonitors(d->display, d->root, True, &count);
    if (!info) return monitors;
    const QRect screen(QPoint(0, 0), d->size);
    for (int primary = 1; primary >= 0; --primary)
        for (int i = 0; i < count; ++i) {
            if (bool(info[i].primary) != bool(primary)) continue;
            const QRect r = QRect(info[i].x, info[i].y, info[i].width, info[i].height) & screen;
            if (!r.isEmpty()) monitors.push_back(r);
        }
    XRRFreeMonitors(info);
    return monitors;
}

bool X11Capture::CursorImage(QImage& shape, QPoint& hotSpot) {
    if (!d->fixes) return false;
    XFixesCursorImage* cursor = XFixesGetCursorImage(d->display);
    if (!cursor) return false;
    const int w = std::min<int>(cursor->width, 256), h = std::min<int>(cursor->height, 256);
    shape = QImage(w, h, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < h; ++y) {
        auto* line = reinterpret_cast<QRgb*>(shape.scanLine(y));
        for (int x = 0; x < w; ++x)
            line[x] = QRgb(cursor->pixels[std::size_t(y) * cursor->width + std::size_t(x)]);
    }
    shape = shape.convertToFormat(QImage::Format_ARGB32);
    hotSpot = QPoint(std::min<int>(cursor->xhot, w - 1), std::min<int>(cursor->yhot, h - 1));
    XFree(cursor);
    return w > 0 && h > 0;
}

QPoint X11Capture::Pointer() {
    Window rootReturn = 0, child = 0;
    int x = 0, y = 0, wx = 0, wy = 0;
    unsigned mask = 0;
    XQueryPointer(d->display, d->root, &rootReturn, &child, &x, &y, &wx, &wy, &mask);
    return {x, y};
}

}  // namespace pelio::components
