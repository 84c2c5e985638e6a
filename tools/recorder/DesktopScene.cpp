#include "DesktopScene.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPolygon>

#include <algorithm>
#include <cmath>
#include <vector>

namespace pelio::recorder {

namespace {

constexpr int LineHeight = 18;
constexpr int DocumentLines = 400;

QImage MakeWindow(QSize size, const QString& title) {
    QImage image(size, QImage::Format_RGB32);
    QPainter p(&image);
    p.fillRect(image.rect(), QColor(240, 240, 240));
    p.fillRect(QRect(0, 0, size.width(), 26), QColor(40, 90, 170));
    p.setPen(Qt::white);
    p.drawText(QRect(8, 0, size.width() - 16, 26), Qt::AlignVCenter, title);
    p.setPen(QColor(120, 120, 120));
    p.drawRect(image.rect().adjusted(0, 0, -1, -1));
    return image;
}

}  // namespace

DesktopScene::DesktopScene(QSize size) : m_size(size) {
    m_screen = QImage(size, QImage::Format_RGB32);
    m_wallpaper = QImage(size, QImage::Format_RGB32);
    {
        QPainter p(&m_wallpaper);
        QLinearGradient g(0, 0, size.width(), size.height());
        g.setColorAt(0, QColor(20, 60, 110));
        g.setColorAt(1, QColor(70, 130, 160));
        p.fillRect(m_wallpaper.rect(), g);
        p.fillRect(QRect(0, size.height() - 32, size.width(), 32), QColor(30, 30, 36));
        for (int i = 0; i < 6; ++i)
            p.fillRect(QRect(12 + i * 44, size.height() - 28, 36, 24), QColor(70, 70, 90));
        p.setPen(Qt::white);
        for (int i = 0; i < 5; ++i) {
            p.fillRect(QRect(20, 20 + i * 80, 48, 48), QColor(200, 180, 60));
            p.drawText(QRect(4, 70 + i * 80, 80, 16), Qt::AlignCenter, QStringLiteral("문서 %1").arg(i + 1));
        }
    }
    const int w = size.width(), h = size.height();
    m_editor = QRect(w / 16, h / 14, w / 2, h * 6 / 10);
    m_editorText = m_editor.adjusted(10, 34, -10, -10);
    m_videoWindow = QRect(w * 9 / 16, h / 10, w * 5 / 16, w * 5 / 16 * 9 / 16 + 40);
    m_videoArea = m_videoWindow.adjusted(10, 30, -10, -10);
    m_clock = QRect(w - 90, h - 28, 80, 24);

    m_document = QImage(m_editorText.width(), DocumentLines * LineHeight, QImage::Format_RGB32);
    {
        QPainter p(&m_document);
        p.fillRect(m_document.rect(), Qt::white);
        p.setPen(Qt::black);
        static const char* const words[] = {"remote", "support", "session",  "원격지원", "화면",
                                            "녹화",   "file",    "transfer", "agent",    "customer",
                                            "상담",   "설정",    "network",  "update"};
        std::uint32_t seed = 7;
        for (int line = 0; line < DocumentLines; ++line) {
            QString text = QStringLiteral("%1  ").arg(line + 1, 4);
            const int count = 3 + int(seed % 9);
            for (int i = 0; i < count; ++i) {
                seed = seed * 1103515245u + 12345u;
                text += QString::fromUtf8(words[(seed >> 16) % 14]) + QLatin1Char(' ');
            }
            p.drawText(QRect(4, line * LineHeight, m_document.width() - 8, LineHeight), Qt::AlignVCenter,
                       text);
        }
    }
    m_video = QImage(m_videoArea.size(), QImage::Format_RGB32);
    m_editorFrame = MakeWindow(m_editor.size(), QStringLiteral("메모장 - 상담 기록.txt"));
    m_videoFrame = MakeWindow(m_videoWindow.size(), QStringLiteral("동영상"));
    m_movingWindow = MakeWindow(QSize(w * 15 / 64, h / 4), QStringLiteral("파일 받기"));
    {
        QPainter p(&m_movingWindow);
        p.setPen(Qt::black);
        for (int i = 0; i < 6; ++i)
            p.drawText(QRect(10, 34 + i * 20, m_movingWindow.width() - 20, 18), Qt::AlignVCenter,
                       QStringLiteral("받은 파일 %1.zip   %2 KB").arg(i + 1).arg((i + 3) * 137));
    }
    m_cursor = QImage(12, 19, QImage::Format_ARGB32);
    m_cursor.fill(Qt::transparent);
    {
        QPainter p(&m_cursor);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::black);
        p.setBrush(Qt::white);
        p.drawPolygon(QPolygon({QPoint(0, 0), QPoint(0, 16), QPoint(4, 12), QPoint(7, 18), QPoint(9, 17),
                                QPoint(6, 11), QPoint(11, 11)}));
    }
}

QRect DesktopScene::MovingWindowRect(std::int64_t frame, int fps) const {
    // Dragged for 3 seconds out of every 20, along an arc; it stays where it was left otherwise.
    const std::int64_t period = std::int64_t(20) * fps;
    const std::int64_t drag = std::int64_t(3) * fps;
    const std::int64_t cycle = frame / period;
    const std::int64_t inCycle = frame % period;
    const double phase = (double(cycle) + double(std::min(inCycle, drag)) / double(drag)) * 1.3;
    const int x = int((m_size.width() - m_movingWindow.width()) * (0.5 + 0.45 * std::sin(phase)));
    const int y =
        int((m_size.height() - 32 - m_movingWindow.height()) * (0.5 + 0.45 * std::cos(phase * 0.7)));
    return QRect(QPoint(x, y), m_movingWindow.size());
}

void DesktopScene::RenderVideo(std::int64_t frame) {
    // A moving plasma: three waves summed from tables, so that a frame costs no trigonometry per pixel.
    const double t = double(frame) * 0.08;
    const int w = m_video.width(), h = m_video.height();
    std::vector<int> wx(static_cast<std::size_t>(w)), wy(static_cast<std::size_t>(h)),
        wd(static_cast<std::size_t>(w + h));
    for (int x = 0; x < w; ++x) wx[std::size_t(x)] = int(40 * std::sin(x * 0.023 + t));
    for (int y = 0; y < h; ++y) wy[std::size_t(y)] = int(40 * std::sin(y * 0.031 + t * 1.3));
    for (int i = 0; i < w + h; ++i) wd[std::size_t(i)] = int(40 * std::sin(i * 0.017 - t * 0.7));
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(m_video.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const int v = wx[std::size_t(x)] + wy[std::size_t(y)] + wd[std::size_t(x + y)];  // -120..120
            const int r = 128 + v, g = 100 + v * v / 160, b = 150 - v * 3 / 4;
            row[x] = 0xff000000u | std::uint32_t(std::clamp(r, 0, 255)) << 16 |
                     std::uint32_t(std::clamp(g, 0, 255)) << 8 | std::uint32_t(std::clamp(b, 0, 255));
        }
    }
}

void DesktopScene::Compose(const QRegion& region) {
    QPainter p(&m_screen);
    p.setClipRegion(region);
    for (const QRect& r : region) p.drawImage(r.topLeft(), m_wallpaper, r);
    p.drawImage(m_editor.topLeft(), m_editorFrame);
    const int docHeight = m_document.height();
    const int top = m_scroll % docHeight;
    const int first = std::min(m_editorText.height(), docHeight - top);
    p.drawImage(m_editorText.topLeft(), m_document, QRect(0, top, m_editorText.width(), first));
    if (first < m_editorText.height())
        p.drawImage(m_editorText.topLeft() + QPoint(0, first), m_document,
                    QRect(0, 0, m_editorText.width(), m_editorText.height() - first));
    p.drawImage(m_videoWindow.topLeft(), m_videoFrame);
    p.drawImage(m_videoArea.topLeft(), m_video);
    p.fillRect(m_clock, QColor(30, 30, 36));
    p.setPen(Qt::white);
    p.drawText(m_clock, Qt::AlignCenter,
               QStringLiteral("%1:%2")
                   .arg(m_clockSecond / 60 % 60, 2, 10, QLatin1Char('0'))
                   .arg(m_clockSecond % 60, 2, 10, QLatin1Char('0')));
    p.drawImage(m_moving.topLeft(), m_movingWindow);
}

QRegion DesktopScene::Step(std::int64_t frame, int fps) {
    QRegion dirty;
    if (!m_started) dirty += m_screen.rect();

    // Text scrolls a line every third frame for 12 seconds out of 30.
    if (frame % (30 * fps) < 12 * fps && frame % 3 == 0) {
        m_scroll += LineHeight;
        dirty += m_editorText;
    }
    RenderVideo(frame);
    dirty += m_videoArea;
    const int second = int(frame / fps);
    if (second != m_clockSecond) {
        m_clockSecond = second;
        dirty += m_clock;
    }
    const QRect moving = MovingWindowRect(frame, fps);
    if (moving != m_moving || !m_started) {
        dirty += m_moving;
        dirty += moving;
        m_moving = moving;
    }
    const double t = double(frame) / fps;
    m_cursorPos = QPoint(int(m_size.width() * (0.5 + 0.4 * std::sin(t * 0.9))),
                         int(m_size.height() * (0.5 + 0.4 * std::sin(t * 1.3 + 1))));
    m_started = true;
    dirty &= m_screen.rect();
    Compose(dirty);
    return dirty;
}

}  // namespace pelio::recorder
