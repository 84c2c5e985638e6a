#include "util/gui/WindowLook.h"

#include "util/gui/WindowRoutines.h"

#include <QColor>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QWidget>

namespace pelio::util {

namespace {

QString Hex(unsigned rgb) {
    return QColor::fromRgb(rgb).name();
}

}  // namespace

void ApplyWindowLook(QWidget* window) {
    if (!window) return;
    QFont font(kProductFont);
    font.setPointSizeF(10);
    window->setFont(font);
    window->setStyleSheet(
        QStringLiteral("QWidget#%1 { background: %2; }"
                       "QPushButton { background: %3; color: white; border: none; border-radius: 4px;"
                       "  padding: 6px 16px; min-height: 1.4em; }"
                       "QPushButton:hover { background: %4; }"
                       "QPushButton:disabled { background: #A9BCD0; color: #EEF2F7; }"
                       "QPushButton:focus { outline: none; border: 2px solid %5; }")
            .arg(window->objectName(), Hex(kSurfaceColor), Hex(kAccentColor),
                 QColor::fromRgb(kAccentColor).lighter(115).name(), Hex(kHeaderColor)));
}

HeaderBand::HeaderBand(const QString& caption, QWidget* parent)
    : QFrame(parent), m_caption(new QLabel(caption, this)) {
    setObjectName(QStringLiteral("HeaderBand"));
    setStyleSheet(QStringLiteral("QFrame#HeaderBand { background: %1; }").arg(Hex(kHeaderColor)));
    QFont font(kProductFont);
    font.setPointSizeF(13);
    font.setBold(true);
    m_caption->setFont(font);
    m_caption->setStyleSheet(QStringLiteral("color: white; background: transparent;"));
    m_caption->setWordWrap(true);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(14, 10, 14, 10);
    layout->addWidget(m_caption, 1);
}

void HeaderBand::SetCaption(const QString& caption) {
    m_caption->setText(caption);
}

void HeaderBand::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) DragWindow(window());
    QFrame::mousePressEvent(event);
}

}  // namespace pelio::util
