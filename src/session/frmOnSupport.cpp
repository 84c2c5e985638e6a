#include "session/frmOnSupport.h"

#include "util/gui/WindowLook.h"

#include <QBitmap>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>

namespace pelio::session {

namespace {

const QColor kCutColour(255, 0, 255);

}  // namespace

frmOnSupport::frmOnSupport(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("frmOnSupport"));
    setWindowTitle(QStringLiteral("원격지원중"));
    setAccessibleName(QStringLiteral("원격지원중"));
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                   Qt::WindowDoesNotAcceptFocus);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFixedSize(kWidth, kHeight);
    m_picture = Picture();
    // Only the lettering shows: the magenta pixels are outside the window's shape.
    setMask(m_picture.createMaskFromColor(kCutColour, Qt::MaskInColor));
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(Placement(screen->geometry(), screen->availableGeometry()));
    m_timer.setInterval(100);
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &frmOnSupport::MakeTopmost);
}

QPixmap frmOnSupport::Picture() {
    QPixmap picture(kWidth, kHeight);
    picture.fill(kCutColour);
    QPainter p(&picture);
    // Lettering without smoothing, so that no pixel is a blend of red and magenta.
    p.setRenderHint(QPainter::TextAntialiasing, false);
    QFont font(util::kProductFont);
    font.setPixelSize(24);
    font.setBold(true);
    font.setStyleStrategy(QFont::NoAntialias);
    p.setFont(font);
    p.setPen(QColor(220, 0, 0));
    p.drawText(picture.rect(), Qt::AlignCenter, QStringLiteral("원격지원중"));
    return picture;
}

QPoint frmOnSupport::Placement(const QRect& screen, const QRect& workArea) {
    const int bottom = workArea.height() > 0 ? workArea.y() + workArea.height() : screen.height();
    return {screen.x() + screen.width() - kWidth, bottom - int(1.1 * kHeight)};
}

void frmOnSupport::paintEvent(QPaintEvent*) {
    QPainter(this).drawPixmap(0, 0, m_picture);
}

void frmOnSupport::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    MakeTopmost();
    // Once more after the window manager has placed it, in case another window came above.
    m_timer.start();
}

void frmOnSupport::MakeTopmost() {
    raise();
}

}  // namespace pelio::session
