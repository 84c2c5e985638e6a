// The on-support indicator: the word 원격지원중 in red lettering, with nothing else of the window shown,
// topmost at the right edge of the screen just above the bottom of the work area, for as long as a
// session runs. It takes no focus and no input.
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

    // The picture: red lettering on magenta; the magenta pixels are cut out of the window.
    static QPixmap Picture();
    // Where the window stands on a screen with this geometry and work area.
    static QPoint Placement(const QRect& screen, const QRect& workArea);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    void MakeTopmost();

    QPixmap m_picture;
    QTimer m_timer;
};

}  // namespace pelio::session
