#pragma once

#include <QFrame>
#include <QString>

class QLabel;
class QWidget;

// The look every window of the program shares: the NanumGothic font, the product's colours, push
// buttons in the accent colour, and a header band across the top of a window that bears its caption.
// Windows lay themselves out with layouts and point sizes only, so that nothing is cut off at
// 1024x768 or at 200 % scaling.
namespace pelio::util {

// The product's colours.
inline constexpr unsigned kHeaderColor = 0x1F4E79;   // deep blue of the header band
inline constexpr unsigned kAccentColor = 0x2E75B6;   // buttons, links, highlights
inline constexpr unsigned kSurfaceColor = 0xF4F7FB;  // window background
inline constexpr unsigned kTextColor = 0x222222;

// The font the program writes Korean in ("굴림" and other Windows faces fall back to it).
inline const QString kProductFont = QStringLiteral("NanumGothic");

// Gives the window (and all it contains) the program's font, colours and button style.
void ApplyWindowLook(QWidget* window);

// A band in the header colour with the window's caption in large white letters, for the top of a
// window's layout. A mouse press on it moves the window, as on a title bar.
class HeaderBand : public QFrame {
    Q_OBJECT
  public:
    explicit HeaderBand(const QString& caption, QWidget* parent = nullptr);
    void SetCaption(const QString& caption);
    QLabel* Caption() const { return m_caption; }

  protected:
    void mousePressEvent(QMouseEvent* event) override;

  private:
    QLabel* m_caption;
};

}  // namespace pelio::util
