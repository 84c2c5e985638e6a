// A generated desktop for recordings without a real screen: a wallpaper and taskbar with a clock, an
// editor whose text scrolls in bursts, a playing video, a window dragged around every little while,
// and a moving cursor. Each Step returns what changed, as a capture thread would report it.
#pragma once

#include <QImage>
#include <QPoint>
#include <QRegion>
#include <QSize>

#include <cstdint>

namespace pelio::recorder {

class DesktopScene {
  public:
    explicit DesktopScene(QSize size);

    // Advances to the given frame (at fps frames per second) and returns the changed region; the first
    // call returns the whole screen.
    QRegion Step(std::int64_t frame, int fps);

    const QImage& Screen() const { return m_screen; }  // RGB32
    const QImage& CursorShape() const { return m_cursor; }
    QPoint CursorHotSpot() const { return {0, 0}; }
    QPoint CursorPosition() const { return m_cursorPos; }

  private:
    void Compose(const QRegion& region);
    void RenderVideo(std::int64_t frame);
    QRect MovingWindowRect(std::int64_t frame, int fps) const;

    QSize m_size;
    QImage m_screen;
    QImage m_wallpaper;
    QImage m_document;
    QImage m_video;
    QImage m_movingWindow;
    QImage m_editorFrame;
    QImage m_videoFrame;
    QImage m_cursor;
    QRect m_editor, m_editorText, m_videoWindow, m_videoArea, m_clock;
    QRect m_moving;
    int m_scroll = 0;
    int m_clockSecond = -1;
    QPoint m_cursorPos;
    bool m_started = false;
};

}  // namespace pelio::recorder
