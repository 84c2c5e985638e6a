// Helpers of the server component tests: the reference agent as a child process, drawing on and
// reading an Xvfb display.
#pragma once

#include <QImage>
#include <QProcess>
#include <QRect>
#include <QStringList>

namespace pelio::test {

// pelio-agent listen 0 on 127.0.0.1, its output collected line by line.
class AgentProcess {
  public:
    explicit AgentProcess(const QStringList& extraArguments = {});
    ~AgentProcess();
    int port() const { return m_port; }
    // Takes the first line not taken yet that starts with `prefix`, waiting for it; empty on time-out.
    // Lines with other prefixes stay for later calls.
    QString WaitLine(const QString& prefix, int ms = 10000);
    QStringList lines() const { return m_lines; }
    void Command(const QString& line);
    bool WaitExit(int ms = 10000);
    QProcess& process() { return m_process; }

  private:
    void Read();
    QProcess m_process;
    QByteArray m_buffer;
    QStringList m_lines;
    QStringList m_pending;
    int m_port = 0;
};

// Fills a rectangle of the display's root window with a pattern of a few colours (lossless through
// any encoding) and waits until the server has drawn it.
void DrawPattern(void* display, const QRect& rect, int seed);
// The display's root window contents in `rect`, as 0xffRRGGBB.
QImage GrabScreen(void* display, const QRect& rect);
// True when the two images hold the same pixels (RGB only).
bool SamePixels(const QImage& a, const QImage& b);

}  // namespace pelio::test
