// The windows shown while a session runs: the on-support indicator shows only its lettering and stands
// at the right edge just above the bottom of the work area.
#include "session/frmOnSupport.h"

#include <gtest/gtest.h>
#include <QBitmap>
#include <QImage>

using pelio::session::frmOnSupport;

TEST(frmOnSupport, OnlyTheLetteringIsInsideTheWindowShape) {
    const QImage picture = frmOnSupport::Picture().toImage();
    ASSERT_EQ(picture.size(), QSize(frmOnSupport::kWidth, frmOnSupport::kHeight));
    frmOnSupport window;
    const QRegion shape = window.mask();
    int lettering = 0;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) {
            const bool magenta = picture.pixelColor(x, y) == QColor(255, 0, 255);
            EXPECT_EQ(shape.contains(QPoint(x, y)), !magenta) << x << "," << y;
            lettering += magenta ? 0 : 1;
        }
    // Something is drawn, and it is far from filling the picture.
    EXPECT_GT(lettering, 100);
    EXPECT_LT(lettering, picture.width() * picture.height() / 2);
    EXPECT_TRUE(window.windowFlags() & Qt::WindowStaysOnTopHint);
}

TEST(frmOnSupport, StandsAtTheRightEdgeAboveTheWorkAreasBottom) {
    // A 1024x768 screen with a 40-pixel panel at the bottom.
    EXPECT_EQ(frmOnSupport::Placement(QRect(0, 0, 1024, 768), QRect(0, 0, 1024, 728)),
              QPoint(1024 - frmOnSupport::kWidth, 728 - int(1.1 * frmOnSupport::kHeight)));
    // A second screen to the right; an empty work area counts as the whole screen.
    EXPECT_EQ(frmOnSupport::Placement(QRect(1024, 0, 1280, 800), QRect()),
              QPoint(1024 + 1280 - frmOnSupport::kWidth, 800 - int(1.1 * frmOnSupport::kHeight)));
}
