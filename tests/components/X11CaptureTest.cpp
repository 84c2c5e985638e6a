// Screen capture under a private Xvfb: damage reports and the tiles that really changed.
#include "server/X11Capture.h"
#include "support/XvfbDisplay.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>

#include <vector>

using pelio::components::X11Capture;
using pelio::test::WaitFor;
using pelio::test::XvfbDisplay;

namespace {

void Fill(Display* d, unsigned long colour, const QRect& r) {
    GC gc = XCreateGC(d, DefaultRootWindow(d), 0, nullptr);
    XSetForeground(d, gc, colour);
    XFillRectangle(d, DefaultRootWindow(d), gc, r.x(), r.y(), unsigned(r.width()), unsigned(r.height()));
    XFreeGC(d, gc);
    XSync(d, False);
}

}  // namespace

TEST(X11Capture, DamageIsReportedAndOnlyChangedTilesAreTaken) {
    XvfbDisplay x(QSize(640, 480));
    ASSERT_TRUE(x.ok());
    X11Capture capture;
    ASSERT_TRUE(capture.Open(x.name().toStdString(), true));
    std::vector<std::uint32_t> fb(640 * 480, 0);
    const int stride = 640 * 4;
    capture.Sweep(fb.data(), stride);  // the screen as it is now

    Display* d = XOpenDisplay(x.name().toLatin1().constData());
    ASSERT_NE(d, nullptr);
    const QRect drawn(100, 100, 50, 20);
    Fill(d, 0xff0000, drawn);
    X11Capture::Events events;
    ASSERT_TRUE(WaitFor(
        [&] {
            capture.ProcessEvents(events);
            return events.damage.boundingRect().contains(drawn);
        },
        10000));

    // The whole screen is offered; only the two 32x32 tiles under the drawing differ.
    capture.ResetDamage();
    const QRegion changed = capture.GrabChanged(QRect(0, 0, 640, 480), fb.data(), stride);
    EXPECT_EQ(changed, QRegion(QRect(96, 96, 64, 32)));
    EXPECT_EQ(fb[110 * 640 + 120] & 0xffffff, 0xff0000u);
    EXPECT_NE(fb[90 * 640 + 120] & 0xffffff, 0xff0000u);

    // Painting the same pixels again is damage, but no change.
    Fill(d, 0xff0000, drawn);
    events = {};
    ASSERT_TRUE(WaitFor(
        [&] {
            capture.ProcessEvents(events);
            return !events.damage.isEmpty();
        },
        10000));
    capture.ResetDamage();
    EXPECT_TRUE(capture.GrabChanged(events.damage, fb.data(), stride).isEmpty());

    // A change at the screen's edge is clipped to the screen.
    Fill(d, 0x00ff00, QRect(630, 470, 10, 10));
    EXPECT_EQ(capture.GrabChanged(QRect(600, 440, 100, 100), fb.data(), stride),
              QRegion(QRect(608, 448, 32, 32)));
    XCloseDisplay(d);
}
