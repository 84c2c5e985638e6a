// The agent's screen shown straight in a native X window of its own, past Qt's backing store: the
// link decodes the screen into a shared-memory segment (ViewerLink::Settings::sharedMemory), the X
// server attaches the same segment (MIT-SHM), and each update is one ShmPutImage per changed
// rectangle from the segment to the window. Nothing is copied in this process.
//
// The viewer places this widget over the picture's area when the picture is shown one screen pixel
// per widget pixel; it takes no keys, lets the pointer's events through to the viewer (it ignores
// them) and paints nothing itself: what the window system wants repainted goes to `paint`, and so
// does rendering into another device (QWidget::grab), with a painter then.
//
// Supported() says whether the application's display can be used this way: the xcb platform, the X
// server on this machine (a Unix-domain connection, so that it can attach this machine's memory),
// MIT-SHM, and 32-bit pixels in the host's byte order for depth 24. QT_XCB_NO_MITSHM turns it off as
// it does Qt's own use of shared memory. Show also refuses a window that is not depth 24 TrueColor
// 0x00RRGGBB and any segment the X server cannot attach (another IPC namespace); the viewer then
// paints with QPainter, as everywhere else (offscreen, Wayland, remote X, a scaled picture).
//
// The X resources (the attachment and a graphics context) live on the application's own X connection
// and are freed by Release and the destructor, before the window and the connection go.
#pragma once

#include <QWidget>

#include <cstdint>
#include <functional>

struct xcb_connection_t;

namespace pelio::components {

class ScreenSurface : public QWidget {
    Q_OBJECT
  public:
    static bool Supported();

    explicit ScreenSurface(QWidget* parent);
    ~ScreenSurface() override;

    // Copies `region` (in screen pixels, which are this widget's) of a screen of `size` held in the
    // shared-memory segment `segment` to the window, and returns once the X server has read it, so
    // that the segment may change again. `serial` names the segment's memory (ViewerLink::
    // ScreenSerial): a new one is attached, the one before let go. Nothing happens while the widget
    // is not shown. False when the X server refused the window, the segment or the copy; the
    // surface is then of no more use.
    bool Show(int segment, std::uint64_t serial, QSize size, const QRegion& region);
    // Lets go of the segment attached.
    void Release();

    // Called for each area to repaint, in this widget's pixels: with a null painter for this
    // window (call Show), else with the painter of the device this widget is rendered into.
    std::function<void(const QRegion& region, QPainter* painter)> paint;

  protected:
    QPaintEngine* paintEngine() const override { return nullptr; }
    void paintEvent(QPaintEvent* event) override;

  private:
    bool Fail(const char* why);
    bool WindowFits(quintptr window);

    xcb_connection_t* m_connection = nullptr;
    bool m_failed = false;
    quintptr m_window = 0;        // the native window checked last
    std::uint32_t m_gc = 0;       // for m_window's depth
    std::uint32_t m_segment = 0;  // the X server's attachment of the screen
    std::uint64_t m_serial = 0;   // and the screen memory it is of
};

}  // namespace pelio::components
