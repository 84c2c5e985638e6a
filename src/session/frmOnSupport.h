// The on-support indicator: the word 원격지원중 in red lettering, with nothing else of the window shown,
// topmost at the right edge of the screen just above the bottom of the work area, for as long as a
// session runs. It takes no focus and no input. While a lost link is dialled again it says so instead
// ("연결이 끊어져 다시 연결하는 중...", wider, in the same place at the right edge).
#pragma once

#include <QPixmap>
#include <QTimer>
#include <QWidget>

namespace pelio::session {

class frmOnSupport : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kWidth = 141, kHeight = 35;

    explicit frmOnSupport(QWidget* parent = nullptr);

    // The picture: red lettering on magenta; the magenta pixels are cut out of the window. While
    // redialling, the redial text in dark orange, as wide as it needs.
    static QPixmap Picture(bool redialling = false);
    // Where a window `width` wide stands on a screen with this geometry and work area.
    static QPoint Placement(const QRect& screen, const QRect& workArea, int width = kWidth);

    // Switches between the two pictures (and the accessible name with them).
    void SetRedialling(bool redialling);
    bool Redialling() const { return m_redialling; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    void MakeTopmost();
    // Takes the picture of the current state: size, shape, name and place.
    void ApplyPicture();

    QPixmap m_picture;
    bool m_redialling = false;
    QTimer m_timer;
};

}  // namespace pelio::session
