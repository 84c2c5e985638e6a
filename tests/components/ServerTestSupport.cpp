#include "ServerTestSupport.h"

#include "support/XvfbDisplay.h"

#include <QDir>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <arpa/inet.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

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

int ListenOnLoopback(int& port, int receiveBuffer) {
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (receiveBuffer > 0) setsockopt(listener, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(listener, 1);
    socklen_t len = sizeof a;
    getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    return listener;
}

ScriptedPeer::ScriptedPeer(int receiveBuffer) {
    m_listener = ListenOnLoopback(m_port, receiveBuffer);
}

ScriptedPeer::~ScriptedPeer() {
    if (m_fd >= 0) close(m_fd);
    close(m_listener);
}

bool ScriptedPeer::Accept(int ms) {
    pollfd p{m_listener, POLLIN, 0};
    if (poll(&p, 1, ms) <= 0) return false;
    m_fd = accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
    return m_fd >= 0;
}

bool ScriptedPeer::Send(const QByteArray& bytes, int ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    qsizetype done = 0;
    while (done < bytes.size() && std::chrono::steady_clock::now() < deadline) {
        pollfd p{m_fd, POLLOUT, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        const ssize_t n = ::send(m_fd, bytes.constData() + done, std::size_t(bytes.size() - done),
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
        if (n > 0) done += n;
    }
    return done == bytes.size();
}

QByteArray ScriptedPeer::Read(int n, int ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    QByteArray out(n, '\0');
    int done = 0;
    while (done < n && std::chrono::steady_clock::now() < deadline) {
        pollfd p{m_fd, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        const ssize_t got = ::recv(m_fd, out.data() + done, std::size_t(n - done), MSG_DONTWAIT);
        if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) return {};
        if (got > 0) done += int(got);
    }
    return done == n ? out : QByteArray();
}

bool ScriptedPeer::WaitClosed(int ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    char buffer[4096];
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{m_fd, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        const ssize_t got = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) return true;
    }
    return false;
}

QSize ScriptedPeer::ReadHandshakeReplies(int ms) {
    const QByteArray count = Read(1, ms);
    if (count.isEmpty() || Read(quint8(count[0]), ms).isEmpty()) return {};
    const QByteArray result = Read(4, ms);
    const QByteArray init = Read(24, ms);
    if (result != QByteArray(4, '\0') || init.isEmpty()) return {};
    const auto u16 = [&](int i) { return int(quint8(init[i])) << 8 | quint8(init[i + 1]); };
    const quint32 nameLength = quint32(quint8(init[20])) << 24 | quint32(quint8(init[21])) << 16 |
                               quint32(quint8(init[22])) << 8 | quint8(init[23]);
    if (nameLength > 0 && Read(int(nameLength), ms).isEmpty()) return {};
    return QSize(u16(0), u16(2));
}

bool ScriptedPeer::ServerQueues(int& unread, int& unsent) const {
    sockaddr_in remote{};
    socklen_t len = sizeof remote;
    if (getpeername(m_fd, reinterpret_cast<sockaddr*>(&remote), &len) != 0) return false;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString& name : fds.entryList(QDir::NoDotAndDotDot | QDir::System | QDir::AllEntries)) {
        const int fd = name.toInt();
        sockaddr_in local{};
        len = sizeof local;
        if (fd == m_fd || getsockname(fd, reinterpret_cast<sockaddr*>(&local), &len) != 0 ||
            local.sin_family != AF_INET || local.sin_port != remote.sin_port)
            continue;
        return ioctl(fd, SIOCINQ, &unread) == 0 && ioctl(fd, SIOCOUTQ, &unsent) == 0;
    }
    return false;
}

bool ScriptedPeer::WaitCursorShape(int ms) {
    const auto u16 = [](const QByteArray& b, int i) { return int(quint8(b[i])) << 8 | quint8(b[i + 1]); };
    while (true) {
        const QByteArray header = Read(4, ms);
        if (header.isEmpty() || header[0] != 0) return false;
        bool shape = false;
        for (int rect = u16(header, 2); rect > 0; --rect) {
            const QByteArray r = Read(12, ms);
            if (r.isEmpty()) return false;
            const int w = u16(r, 4), h = u16(r, 6);
            const qint32 encoding = qint32(quint32(u16(r, 8)) << 16 | quint32(u16(r, 10)));
            if (encoding != 0 && encoding != -239) return false;
            const int size = w * h * 4 + (encoding == -239 ? (w + 7) / 8 * h : 0);
            if (size > 0 && Read(size, ms).isEmpty()) return false;
            shape = shape || encoding == -239;
        }
        if (shape) return true;
    }
}

QByteArray ScriptedPeer::SetEncodings(const QList<qint32>& encodings) {
    QByteArray m("\x02\x00", 2);
    m += char(encodings.size() >> 8);
    m += char(encodings.size());
    for (qint32 e : encodings)
        for (int shift : {24, 16, 8, 0}) m += char(quint32(e) >> shift);
    return m;
}

QByteArray ScriptedPeer::ChatMessage(const QByteArray& text) {
    const auto n = quint32(text.size());
    const char header[8] = {11, 0, 0, 0, char(n >> 24), char(n >> 16), char(n >> 8), char(n)};
    return QByteArray(header, 8) + text;
}

QByteArray ScriptedPeer::Greeting() {
    return QByteArray("RFB 003.008\n") + char(1) + char(1);
}

QByteArray ScriptedPeer::PointerEvent(int mask, int x, int y) {
    const char m[6] = {5, char(mask), char(x >> 8), char(x), char(y >> 8), char(y)};
    return QByteArray(m, 6);
}

QByteArray ScriptedPeer::KeyEvent(bool down, quint32 keysym) {
    const char m[8] = {
        4, char(down), 0, 0, char(keysym >> 24), char(keysym >> 16), char(keysym >> 8), char(keysym)};
    return QByteArray(m, 8);
}

QByteArray ScriptedPeer::UpdateRequest(bool incremental, QSize size) {
    const int w = size.width(), h = size.height();
    const char m[10] = {3, char(incremental), 0, 0, 0, 0, char(w >> 8), char(w), char(h >> 8), char(h)};
    return QByteArray(m, 10);
}

MutePeer::MutePeer() {
    m_listener = ListenOnLoopback(m_port);
    m_thread = std::thread([this] {
        const int fd = accept(m_listener, nullptr, nullptr);
        if (fd < 0) return;
        (void)!write(fd, "RF", 2);
        std::unique_lock lock(m_mutex);
        m_stopped.wait(lock, [&] { return m_stop; });
        close(fd);
    });
}

MutePeer::~MutePeer() {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_stopped.notify_all();
    shutdown(m_listener, SHUT_RDWR);
    m_thread.join();
    close(m_listener);
}

Deadline::Deadline(int ms, const char* what) {
    m_thread = std::thread([this, ms, what] {
        std::unique_lock lock(m_mutex);
        if (!m_done.wait_for(lock, std::chrono::milliseconds(ms), [&] { return m_finished; })) {
            std::fprintf(stderr, "%s did not end within %d ms\n", what, ms);
            std::_Exit(3);
        }
    });
}

Deadline::~Deadline() {
    {
        std::lock_guard lock(m_mutex);
        m_finished = true;
    }
    m_done.notify_all();
    m_thread.join();
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

QPoint PointerPosition(void* display) {
    auto* d = static_cast<Display*>(display);
    Window root = 0, child = 0;
    int x = 0, y = 0, wx = 0, wy = 0;
    unsigned mask = 0;
    XQueryPointer(d, DefaultRootWindow(d), &root, &child, &x, &y, &wx, &wy, &mask);
    return QPoint(x, y);
}

bool SamePixels(const QImage& a, const QImage& b) {
    if (a.size() != b.size() || a.isNull()) return false;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if ((a.pixel(x, y) & 0xffffff) != (b.pixel(x, y) & 0xffffff)) return false;
    return true;
}

int StartListeningVncViewer(QProcess& viewer, const QString& display, const QStringList& arguments,
                            QByteArray& output) {
    int port = 0;
    close(ListenOnLoopback(port));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    viewer.setProcessEnvironment(env);
    viewer.setProcessChannelMode(QProcess::MergedChannels);
    viewer.start(QStringLiteral("vncviewer"),
                 QStringList{QStringLiteral("-listen"), QString::number(port)} + arguments);
    if (!viewer.waitForStarted(10000)) return 0;
    WaitFor(
        [&] {
            viewer.waitForReadyRead(5);
            output += viewer.readAll();
            return output.contains("Listening") || viewer.state() != QProcess::Running;
        },
        10000);
    return viewer.state() == QProcess::Running ? port : 0;
}

}  // namespace pelio::test
