#include "ServerTestSupport.h"

#include "support/XvfbDisplay.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace pelio::test {

AgentProcess::AgentProcess(const QStringList& extraArguments) {
    m_process.setProgram(QStringLiteral(PELIO_AGENT_EXECUTABLE));
    m_process.setArguments(QStringList{"listen", "0", "--bind", "127.0.0.1"} + extraArguments);
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    m_process.start();
    const QString line = WaitLine(QStringLiteral("listening "));
    m_port = line.section(' ', 1).toInt();
}

AgentProcess::~AgentProcess() {
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

void AgentProcess::Read() {
    m_buffer += m_process.readAllStandardOutput();
    qsizetype end;
    while ((end = m_buffer.indexOf('\n')) >= 0) {
        m_lines << QString::fromUtf8(m_buffer.left(end));
        m_pending << m_lines.last();
        m_buffer.remove(0, end + 1);
    }
}

QString AgentProcess::WaitLine(const QString& prefix, int ms) {
    QString found;
    WaitFor(
        [&] {
            m_process.waitForReadyRead(5);
            Read();
            for (qsizetype i = 0; i < m_pending.size(); ++i)
                if (m_pending[i].startsWith(prefix)) {
                    found = m_pending.takeAt(i);
                    return true;
                }
            return m_process.state() == QProcess::NotRunning && m_process.bytesAvailable() == 0;
        },
        ms);
    return found;
}

void AgentProcess::Command(const QString& line) {
    m_process.write(line.toUtf8() + '\n');
    m_process.waitForBytesWritten(5000);
}

bool AgentProcess::WaitExit(int ms) {
    return WaitFor(
        [&] {
            m_process.waitForFinished(5);
            return m_process.state() == QProcess::NotRunning;
        },
        ms);
}

void DrawPattern(void* display, const QRect& rect, int seed) {
    auto* d = static_cast<Display*>(display);
    const Window root = DefaultRootWindow(d);
    GC gc = XCreateGC(d, root, 0, nullptr);
    const unsigned long colours[4] = {0xff0000ul ^ unsigned(seed * 0x10203), 0x00ff00ul, 0x0000fful,
                                      0xfffffful ^ unsigned(seed * 0x30201)};
    constexpr int Cell = 8;
    for (int y = 0; y < rect.height(); y += Cell)
        for (int x = 0; x < rect.width(); x += Cell) {
            XSetForeground(d, gc, colours[(x / Cell * 3 + y / Cell + seed) % 4]);
            XFillRectangle(d, root, gc, rect.x() + x, rect.y() + y,
                           unsigned(std::min(Cell, rect.width() - x)),
                           unsigned(std::min(Cell, rect.height() - y)));
        }
    XFreeGC(d, gc);
    XSync(d, False);
}

QImage GrabScreen(void* display, const QRect& rect) {
    auto* d = static_cast<Display*>(display);
    XImage* image = XGetImage(d, DefaultRootWindow(d), rect.x(), rect.y(), unsigned(rect.width()),
                              unsigned(rect.height()), AllPlanes, ZPixmap);
    QImage out(rect.size(), QImage::Format_RGB32);
    if (!image) return {};
    for (int y = 0; y < rect.height(); ++y)
        for (int x = 0; x < rect.width(); ++x)
            out.setPixel(x, y, 0xff000000u | unsigned(XGetPixel(image, x, y)));
    XDestroyImage(image);
    return out;
}

bool SamePixels(const QImage& a, const QImage& b) {
    if (a.size() != b.size() || a.isNull()) return false;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if ((a.pixel(x, y) & 0xffffff) != (b.pixel(x, y) & 0xffffff)) return false;
    return true;
}

}  // namespace pelio::test
