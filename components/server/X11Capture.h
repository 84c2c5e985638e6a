// Reads an X display's root window for the server component, on the capture thread that owns it.
//
// Changes come from XDamage reports (when enabled) and from a full comparison of the screen with
// the caller's copy (the safety net, and the only detection without damage reports). Pixels are
// copied as 32-bit 0x00RRGGBB words, which the display must use (24 or 32-bit TrueColor, the
// server's byte order); Open fails otherwise. XShm is used when the display offers it.
#pragma once

#include <QImage>
#include <QPoint>
#include <QRegion>
#include <QSize>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace pelio::components {

class X11Capture {
  public:
    X11Capture();
    ~X11Capture();
    X11Capture(const X11Capture&) = delete;
    X11Capture& operator=(const X11Capture&) = delete;

    // displayName empty: $DISPLAY.
    bool Open(const std::string& displayName, bool useDamage);
    QSize Size() const;
    // The X connection's file descriptor, for waiting on events.
    int Fd() const;

    struct Events {
        QRegion damage;        // reported changes (screen coordinates)
        bool resized = false;  // the screen size changed: Size() has the new one
        bool cursorChanged = false;
        bool monitorsChanged = false;  // the monitors may have changed: read Monitors() again
    };
    // Reads every pending event and adds its news to `events`; true when damage was among them.
    bool ProcessEvents(Events& events);
    // Empties the X server's record of damage. Damage is reported as it grows: call this before
    // grabbing all damage reported so far, so that drawing after the grab is reported again.
    void ResetDamage();

    // Copies the current contents of each rectangle of `region` into `dest` (a whole-screen buffer,
    // strideBytes per row). Rectangles are clipped to the screen.
    bool Grab(const QRegion& region, std::uint32_t* dest, int strideBytes);
    // Grabs the rectangles of `region` and copies into `dest` only the parts of 32 x 32 screen tiles
    // that differ from what `dest` holds; returns those parts. Drawing that leaves pixels as they
    // were (repainting, scrolling uniform areas) costs no update.
    QRegion GrabChanged(const QRegion& region, std::uint32_t* dest, int strideBytes);
    // Grabs the whole screen and copies the 32 x 32 tiles that differ from `dest` into it; returns
    // those tiles.
    QRegion Sweep(std::uint32_t* dest, int strideBytes);

    // The display's monitors (RandR 1.5), each clipped to the screen: the primary first, then the
    // others in the display's order. Empty when the display has no RandR 1.5.
    std::vector<QRect> Monitors();

    // The cursor's shape as ARGB32 (not premultiplied) and its hot spot; false when unavailable.
    bool CursorImage(QImage& shape, QPoint& hotSpot);
    QPoint Pointer();

  private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

}  // namespace pelio::components
