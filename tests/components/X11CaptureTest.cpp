// Screen capture under a private Xvfb: damage reports and the tiles that really changed; the tile
// comparison in every position, and the JPEG quality the update flow chooses for a link.
#include "server/TileCompare.h"
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

// The comparison that finds changed tiles: one changed pixel is found in every position of a row of
// every length, and a row copies exactly the tiles it finds changed, on and off the 32-pixel grid.
TEST(TileCompare, OnePixelIsFoundInEveryPosition) {
    namespace tiles = pelio::components::tiles;
    std::vector<std::uint32_t> a(200), b(200);
    for (std::size_t i = 0; i < a.size(); ++i) a[i] = b[i] = 0x00102030u + std::uint32_t(i) * 0x010101u;
    for (int count = 0; count <= 100; ++count) {
        for (int offset = 0; offset < 4; ++offset) {
            EXPECT_FALSE(tiles::Differ(a.data() + offset, b.data() + offset, count));
            for (int at = 0; at < count; ++at) {
                for (const std::uint32_t flip : {0x00000001u, 0x00800000u, 0x01000000u}) {
                    b[std::size_t(offset + at)] ^= flip;
                    EXPECT_TRUE(tiles::Differ(a.data() + offset, b.data() + offset, count))
                        << "count " << count << " offset " << offset << " at " << at;
                    b[std::size_t(offset + at)] ^= flip;
                }
            }
        }
    }
}

TEST(TileCompare, RowsMarkAndCopyOnlyChangedTiles) {
    namespace tiles = pelio::components::tiles;
    constexpr int Width = 200;
    for (const int x : {0, 5, 31, 32, 40}) {
        for (const int width : {1, 27, 32, 64, 100, Width - 40}) {
            if (x + width > Width) continue;
            const int tilesCrossed = (x + width - 1) / tiles::Size - x / tiles::Size + 1;
            for (int at = 0; at < width; ++at) {
                std::vector<std::uint32_t> screen(Width, 7), grab(std::size_t(width), 7);
                grab[std::size_t(at)] = 9;
                std::vector<char> marks(std::size_t(tilesCrossed), 0);
                tiles::MergeRow(grab.data(), screen.data(), x, width, marks.data());
                const int changedTile = (x + at) / tiles::Size - x / tiles::Size;
                for (int t = 0; t < tilesCrossed; ++t)
                    EXPECT_EQ(marks[std::size_t(t)], t == changedTile ? 1 : 0);
                for (int i = 0; i < Width; ++i) EXPECT_EQ(screen[std::size_t(i)], i == x + at ? 9u : 7u);
                // A later row copies what differs in it and keeps the marks set before.
                std::vector<std::uint32_t> next(std::size_t(width), 7);
                std::vector<std::uint32_t> row2(Width, 1);
                tiles::MergeRow(next.data(), row2.data(), x, width, marks.data());
                for (int i = x; i < x + width; ++i) EXPECT_EQ(row2[std::size_t(i)], 7u);
                for (int t = 0; t < tilesCrossed; ++t) EXPECT_EQ(marks[std::size_t(t)], 1);
            }
        }
    }
}

// The JPEG quality for a change on a link: the viewer's own levels unless the link is slow and the
// change big, never higher than the viewer's and never JPEG where the viewer asked for none.
