#include "session/frmOnSupport.h"

#include "util/gui/WindowLook.h"

#include <QBitmap>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>

namespace pelio::session {

namespace {

const QColor kCutColour(255, 0, 255);
const QString kOnSupport = QStringLiteral("원격지원중");
const QString kRedialling = QStringLiteral("연결이 끊어져 다시 연결하는 중...");

}  // namespace

frmOnSupport::frmOnSupport(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("frmOnSupport"));
    setWindowTitle(kOnSupport);
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                   Qt::WindowDoesNotAcceptFocus);
    setAttribute(Qt::WA_ShowWithoutActivating);
    ApplyPicture();
    m_timer.setInterval(100);
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &frmOnSupport::MakeTopmost);
}

QPixmap frmOnSupport::Picture(bool redialling) {
    QFont font(util::kProductFont);
    font.setPixelSize(redialling ? 18 : 24);
    font.setBold(true);
    font.setStyleStrategy(QFont::NoAntialias);
    const QString text = redialling ? kRedialling : kOnSupport;
    const int width = redialling ? QFontMetrics(font).horizontalAdvance(text) + 12 : kWidth;
    QPixmap picture(width, kHeight);
    picture.fill(kCutColour);
    QPainter p(&picture);
    // Lettering without smoothing, so that no pixel is a blend of the lettering and magenta.
    p.setRenderHint(QPainter::TextAntialiasing, false);
    p.setFont(font);
    p.setPen(redialling ? QColor(200, 90, 0) : QColor(220, 0, 0));
    p.drawText(picture.rect(), Qt::AlignCenter, text);
    return picture;
}

QPoint frmOnSupport::Placement(const QRect& screen, const QRect& workArea, int width) {
    const int bottom = workArea.height() > 0 ? workArea.y() + workArea.height() : screen.height();
    return {screen.x() + screen.width() - width, bottom - int(1.1 * kHeight)};
}

void frmOnSupport::SetRedialling(bool redialling) {
    if (redialling == m_redialling) return;
    m_redialling = redialling;
    ApplyPicture();
    update();
}

void frmOnSupport::ApplyPicture() {
    m_picture = Picture(m_redialling);
    setAccessibleName(m_redialling ? kRedialling : kOnSupport);
    setFixedSize(m_picture.size());
    // Only the lettering shows: the magenta pixels are outside the window's shape.
    setMask(m_picture.createMaskFromColor(kCutColour, Qt::MaskInColor));
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(Placement(screen->geometry(), screen->availableGeometry(), m_picture.width()));
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
