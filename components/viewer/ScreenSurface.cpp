#include "viewer/ScreenSurface.h"

#include "viewer/ViewerLog.h"

#include <QGuiApplication>
#include <QPaintEvent>
#include <QPainter>

#include <sys/socket.h>

#include <cstdlib>
#include <memory>
#include <vector>

#include <xcb/shm.h>
#include <xcb/xcb.h>

namespace pelio::components {

namespace {

// The depth and the pixel layout of the screen as the link holds it: 0x00RRGGBB in 32 bits.
constexpr std::uint8_t kDepth = 24;

xcb_connection_t* AppConnection() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    return connection && !xcb_connection_has_error(connection) ? connection : nullptr;
}

struct FreeReply {
    void operator()(void* reply) const { std::free(reply); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeReply>;

}  // namespace

bool ScreenSurface::Supported() {
    if (QGuiApplication::platformName() != QLatin1String("xcb") ||
        qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM"))
        return false;
    xcb_connection_t* c = AppConnection();
    if (!c) return false;
    // Only an X server on this machine can attach this machine's memory.
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (getsockname(xcb_get_file_descriptor(c), reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        address.ss_family != AF_UNIX)
        return false;
    const xcb_query_extension_reply_t* shm = xcb_get_extension_data(c, &xcb_shm_id);
    if (!shm || !shm->present) return false;
    if (!Reply<xcb_shm_query_version_reply_t>(
            xcb_shm_query_version_reply(c, xcb_shm_query_version(c), nullptr)))
        return false;
    const xcb_setup_t* setup = xcb_get_setup(c);
    const int hostOrder =
        Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? XCB_IMAGE_ORDER_LSB_FIRST : XCB_IMAGE_ORDER_MSB_FIRST;
    if (setup->image_byte_order != hostOrder) return false;
    for (auto it = xcb_setup_pixmap_formats_iterator(setup); it.rem; xcb_format_next(&it))
        if (it.data->depth == kDepth)
            return it.data->bits_per_pixel == 32 && it.data->scanline_pad <= 32 &&
                   32 % it.data->scanline_pad == 0;
    return false;
}

ScreenSurface::ScreenSurface(QWidget* parent) : QWidget(parent), m_connection(AppConnection()) {
    // A window of its own, without making the viewer and its ancestors native too.
    setAttribute(Qt::WA_DontCreateNativeAncestors);
    setAttribute(Qt::WA_NativeWindow);
    setAttribute(Qt::WA_PaintOnScreen);
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_OpaquePaintEvent);
    // The pointer's moves reach this widget and, ignored, the viewer beneath.
    setMouseTracking(true);
    setFocusPolicy(Qt::NoFocus);
}

ScreenSurface::~ScreenSurface() {
    // The application's X connection outlives its widgets; without an application it is gone.
    if (!QCoreApplication::instance()) return;
    Release();
    if (m_gc && m_connection) xcb_free_gc(m_connection, m_gc);
    if (m_connection) xcb_flush(m_connection);
}

void ScreenSurface::Release() {
    if (m_segment && m_connection) xcb_shm_detach(m_connection, m_segment);
    m_segment = 0;
    m_serial = 0;
}

bool ScreenSurface::Fail(const char* why) {
    qCWarning(lcViewer, "the screen is painted through Qt from now on: %s", why);
    Release();
    m_failed = true;
    return false;
}

// Whether the window takes the screen's pixels as they are; makes the graphics context for it.
bool ScreenSurface::WindowFits(quintptr window) {
    xcb_connection_t* c = m_connection;
    const auto xid = xcb_window_t(window);
    Reply<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, xid), nullptr));
    if (!attributes) return false;
    bool fits = false;
    for (auto screen = xcb_setup_roots_iterator(xcb_get_setup(c)); screen.rem; xcb_screen_next(&screen))
        for (auto depth = xcb_screen_allowed_depths_iterator(screen.data); depth.rem; xcb_depth_next(&depth))
            for (auto visual = xcb_depth_visuals_iterator(depth.data); visual.rem;
                 xcb_visualtype_next(&visual))
                if (visual.data->visual_id == attributes->visual)
                    fits = depth.data->depth == kDepth &&
                           visual.data->_class == XCB_VISUAL_CLASS_TRUE_COLOR &&
                           visual.data->red_mask == 0xff0000 && visual.data->green_mask == 0xff00 &&
                           visual.data->blue_mask == 0xff;
    if (!fits) return false;
    if (!m_gc) {
        m_gc = xcb_generate_id(c);
        const std::uint32_t noExposures = 0;
        if (Reply<xcb_generic_error_t>(xcb_request_check(
                c, xcb_create_gc_checked(c, m_gc, xid, XCB_GC_GRAPHICS_EXPOSURES, &noExposures)))) {
            m_gc = 0;
            return false;
        }
    }
    return true;
}

bool ScreenSurface::Show(int segment, std::uint64_t serial, QSize size, const QRegion& region) {
    if (m_failed || !m_connection) return false;
    const quintptr window = internalWinId();
    if (!isVisible() || !window) return true;
    xcb_connection_t* c = m_connection;
    if (segment < 0) return Fail("the screen is not in shared memory");
    if (devicePixelRatio() != 1.0) return Fail("the widget's pixels are not the display's");
    if (window != m_window) {
        if (!WindowFits(window)) return Fail("the window does not take 32-bit 0x00RRGGBB pixels");
        m_window = window;
    }
    if (serial != m_serial) {
        Release();
        const std::uint32_t attachment = xcb_generate_id(c);
        if (Reply<xcb_generic_error_t>(
                xcb_request_check(c, xcb_shm_attach_checked(c, attachment, std::uint32_t(segment), 1))))
            return Fail("the X server cannot attach the shared memory");
        m_segment = attachment;
        m_serial = serial;
    }
    const QRegion wanted = region & QRect(QPoint(), size);
    std::vector<xcb_void_cookie_t> copies;
    for (const QRect& r : wanted)
        copies.push_back(xcb_shm_put_image_checked(
            c, xcb_window_t(window), m_gc, std::uint16_t(size.width()), std::uint16_t(size.height()),
            std::uint16_t(r.x()), std::uint16_t(r.y()), std::uint16_t(r.width()), std::uint16_t(r.height()),
            std::int16_t(r.x()), std::int16_t(r.y()), kDepth, XCB_IMAGE_FORMAT_Z_PIXMAP, 0, m_segment, 0));
    // The last answer waits for the X server to have done them all (one round trip); then the link
    // may write into the segment again.
    bool ok = true;
    for (auto it = copies.rbegin(); it != copies.rend(); ++it)
        if (Reply<xcb_generic_error_t>(xcb_request_check(c, *it))) ok = false;
    return ok || Fail("the X server refused a copy to the window");
}

void ScreenSurface::paintEvent(QPaintEvent* event) {
    if (!paint) return;
    if (redirected(nullptr) || sharedPainter()) {
        QPainter painter(this);
        paint(event->region(), &painter);
    } else {
        paint(event->region(), nullptr);
    }
}

}  // namespace pelio::components
