// The viewer component against a real VNC server (x11vnc with the access code as its password) on a
// private X server that stands for the agent's screen, and against scripted hostile RFB servers.
#include "ServerTestSupport.h"
#include "support/XvfbDisplay.h"
#include "viewer/VncViewerComponent.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QKeyEvent>
#include <QPainter>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QtEndian>

namespace {

// (Before the X11 headers, whose macros clash with the names of Qt's key events.)
// A key pressed and released on the widget, as the window system delivers it.
void Type(QWidget* widget, int key, const QString& text = QString()) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QCoreApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QCoreApplication::sendEvent(widget, &release);
}

}  // namespace

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <functional>

using pelio::components::ViewerComponent;
using pelio::components::VncViewerComponent;
using pelio::test::WaitFor;
using pelio::test::XvfbDisplay;

namespace {

int FreePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// x11vnc serving a display on 127.0.0.1 with the access code as its password.
class ScreenServer {
  public:
    explicit ScreenServer(const QString& display) : port(FreePort()) {
        m_process.start(
            QStringLiteral("x11vnc"),
            {QStringLiteral("-display"), display, QStringLiteral("-localhost"), QStringLiteral("-rfbport"),
             QString::number(port), QStringLiteral("-passwd"), QStringLiteral("harborclinks"),
             QStringLiteral("-forever"), QStringLiteral("-shared"), QStringLiteral("-quiet"),
             QStringLiteral("-norc"), QStringLiteral("-noipv6")});
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        ok = m_process.waitForStarted(10000) && WaitFor([&] {
                 QTcpSocket probe;
                 probe.connectToHost(QHostAddress::LocalHost, quint16(port));
                 return probe.waitForConnected(200);
             });
    }
    ~ScreenServer() { Kill(); }
    void Kill() {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    int port;
    bool ok = false;

  private:
    QProcess m_process;
};

// An input-only window of the test on the agent's display that notes the pointer presses and keys it
// gets, with the keyboard focus.
class InputProbe {
  public:
    InputProbe(void* display, const QRect& area) : m_d(static_cast<Display*>(display)) {
        XSetWindowAttributes attributes{};
        attributes.event_mask = ButtonPressMask | KeyPressMask | StructureNotifyMask;
        m_w = XCreateWindow(m_d, DefaultRootWindow(m_d), area.x(), area.y(), unsigned(area.width()),
                            unsigned(area.height()), 0, CopyFromParent, InputOnly, CopyFromParent,
                            CWEventMask, &attributes);
        XMapWindow(m_d, m_w);
        XEvent ev;
        WaitFor([&] { return XCheckTypedWindowEvent(m_d, m_w, MapNotify, &ev); });
        XSetInputFocus(m_d, m_w, RevertToParent, CurrentTime);
        XSync(m_d, False);
    }
    ~InputProbe() { XDestroyWindow(m_d, m_w); }
    // Events so far: "press X,Y" (on the root) and "key KEYSYM" (hexadecimal).
    QStringList Events() {
        XEvent ev;
        while (XCheckWindowEvent(m_d, m_w, ButtonPressMask | KeyPressMask, &ev)) {
            if (ev.type == ButtonPress)
                m_events << QStringLiteral("press %1,%2").arg(ev.xbutton.x_root).arg(ev.xbutton.y_root);
            else
                m_events << QStringLiteral("key %1").arg(XLookupKeysym(&ev.xkey, 0), 0, 16);
        }
        return m_events;
    }

  private:
    Display* m_d;
    Window m_w;
    QStringList m_events;
};

class ViewerOnAgentScreen : public ::testing::Test {
  protected:
    void SetUp() override {
        if (QStandardPaths::findExecutable(QStringLiteral("x11vnc")).isEmpty())
            GTEST_SKIP() << "x11vnc is not installed (scripts/deps.sh)";
        ASSERT_TRUE(agent.ok());
        server = std::make_unique<ScreenServer>(agent.name());
        ASSERT_TRUE(server->ok);
        viewer.resize(agent.size);  // one screen pixel per view pixel
        viewer.SetAccessCode(QStringLiteral("harborclinks"));
        viewer.Connect(QStringLiteral("127.0.0.1"), server->port, QString());
        ASSERT_TRUE(WaitFor([&] { return viewer.IsConnected(); })) << "no picture from x11vnc";
    }

    struct Agent : XvfbDisplay {
        Agent() : XvfbDisplay(QSize(320, 240)) {}
        QSize size{320, 240};
    } agent;
    std::unique_ptr<ScreenServer> server;
    VncViewerComponent viewer;
    QSignalSpy connected{&viewer, &ViewerComponent::ViewConnected};
    QSignalSpy closed{&viewer, &ViewerComponent::ViewClosed};
};

TEST_F(ViewerOnAgentScreen, ShowsTheScreenAndPassesInputOnlyWhileControlIsAllowedAndTheWindowActive) {
    EXPECT_EQ(connected.size(), 1);
    EXPECT_EQ(viewer.RemoteSize(), agent.size);
    const QRect area(16, 16, 96, 64);
    for (int seed : {1, 2}) {
        pelio::test::DrawPattern(agent.display(), area, seed);
        const QImage expected = pelio::test::GrabScreen(agent.display(), area);
        EXPECT_TRUE(WaitFor([&] {
            return pelio::test::SamePixels(viewer.grab().toImage().copy(area), expected);
        })) << "pattern "
            << seed;
    }

    InputProbe probe(agent.display(), QRect(160, 120, 160, 120));
    // Not allowed: nothing passes.
    viewer.SetWindowActive(true);
    QTest::mouseClick(&viewer, Qt::LeftButton, {}, QPoint(170, 130));
    Type(&viewer, Qt::Key_A, QStringLiteral("a"));
    // Allowed, but the window is not the foreground window: the pointer passes, keys do not.
    viewer.SetAllowControl(true);
    viewer.SetWindowActive(false);
    QTest::mouseClick(&viewer, Qt::LeftButton, {}, QPoint(180, 140));
    Type(&viewer, Qt::Key_C, QStringLiteral("c"));
    viewer.SetWindowActive(true);
    Type(&viewer, Qt::Key_B, QStringLiteral("b"));
    Type(&viewer, Qt::Key_Hangul);
    QTest::mouseClick(&viewer, Qt::LeftButton, {}, QPoint(200, 150));
    // One link carries the input in order: what came before the last click has arrived with it.
    ASSERT_TRUE(WaitFor([&] { return probe.Events().contains(QStringLiteral("press 200,150")); }))
        << probe.Events().join(u'|').toStdString();
    EXPECT_EQ(probe.Events().join(u'|').toStdString(), "press 180,140|key 62|key ff31|press 200,150");
    EXPECT_TRUE(closed.isEmpty());
}

TEST_F(ViewerOnAgentScreen, TheServerGoingAwayClosesTheView) {
    server->Kill();
    ASSERT_TRUE(WaitFor([&] { return !closed.isEmpty(); }));
    EXPECT_FALSE(viewer.IsConnected());
    // Disconnect after the end, and a second Disconnect, are harmless and raise nothing.
    viewer.Shutdown();
    viewer.Disconnect();
    viewer.Disconnect();
    EXPECT_EQ(closed.size(), 1);
}

// An RFB server on 127.0.0.1 that plays a script against the viewer: the handshake up to ServerInit
// with the given screen size, then whatever bytes the case sends. Every read has a time limit.
class HostileServer {
  public:
    HostileServer() { m_listener.listen(QHostAddress::LocalHost, 0); }
    int port() const { return m_listener.serverPort(); }

    bool Accept() {
        if (!m_listener.waitForNewConnection(10000)) return false;
        m_peer.reset(m_listener.nextPendingConnection());
        return m_peer != nullptr;
    }
    void Send(const QByteArray& bytes) {
        m_peer->write(bytes);
        m_peer->waitForBytesWritten(5000);
    }
    bool Read(int n) {
        while (m_peer->bytesAvailable() < n)
            if (!m_peer->waitForReadyRead(10000)) return false;
        m_peer->read(n);
        return true;
    }
    // Reads until what came holds bytes.
    bool ReadUntil(const QByteArray& bytes) {
        QByteArray got;
        while (!got.contains(bytes)) {
            if (!m_peer->bytesAvailable() && !m_peer->waitForReadyRead(10000)) return false;
            got += m_peer->readAll();
        }
        return true;
    }
    // An RFB text-chat message.
    static QByteArray TextChat(const QByteArray& text) {
        QByteArray m(8, '\0');
        m[0] = 11;
        qToBigEndian(quint32(text.size()), m.data() + 4);
        return m + text;
    }
    // Version, security type None, ServerInit of width x height (32 bits a pixel) with a name of
    // nameLength bytes (when it is announced longer, only the announcement is sent).
    bool Handshake(quint16 width, quint16 height, quint32 nameLength = 4) {
        Send("RFB 003.008\n");
        if (!Read(12)) return false;
        Send(QByteArray::fromHex("0101"));  // one type: None
        if (!Read(1)) return false;
        Send(QByteArray(4, '\0'));   // security result: OK
        if (!Read(1)) return false;  // ClientInit
        QByteArray init(24, '\0');
        qToBigEndian(width, init.data());
        qToBigEndian(height, init.data() + 2);
        init[4] = 32, init[5] = 24, init[7] = 1;  // bits, depth, big endian no, true colour
        qToBigEndian(quint16(255), init.data() + 8);
        qToBigEndian(quint16(255), init.data() + 10);
        qToBigEndian(quint16(255), init.data() + 12);
        init[14] = 16, init[15] = 8, init[16] = 0;
        qToBigEndian(nameLength, init.data() + 20);
        Send(init + (nameLength <= 64 ? QByteArray(int(nameLength), 'x') : QByteArray()));
        return true;
    }
    // A screen update with one rectangle of the encoding and its data.
    static QByteArray Update(quint16 x, quint16 y, quint16 w, quint16 h, qint32 encoding,
                             const QByteArray& data) {
        QByteArray m(16, '\0');
        qToBigEndian(quint16(1), m.data() + 2);
        qToBigEndian(x, m.data() + 4);
        qToBigEndian(y, m.data() + 6);
        qToBigEndian(w, m.data() + 8);
        qToBigEndian(h, m.data() + 10);
        qToBigEndian(encoding, m.data() + 12);
        return m + data;
    }

  private:
    QTcpServer m_listener;
    std::unique_ptr<QTcpSocket> m_peer;
};

// The reverse connection: the server connects to the viewer's side, which runs the view on the socket
// it accepted; text-chat messages travel both ways and the open/close controls raise nothing.
TEST(ViewerOnAcceptedSocket, ShowsTheScreenAndCarriesTextsBothWays) {
    HostileServer server;
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(quint16(server.port()));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_TRUE(server.Accept());
    VncViewerComponent viewer;
    viewer.resize(200, 150);
    QSignalSpy texts(&viewer, &VncViewerComponent::ChatMessageReceived);
    viewer.Accept(fd, QStringLiteral("127.0.0.1"));
    ASSERT_TRUE(server.Handshake(64, 32));
    QByteArray open(8, '\0');
    open[0] = 11;
    qToBigEndian(quint32(0xFFFFFFFF), open.data() + 4);
    server.Send(open + HostileServer::TextChat("Fhello") +
                HostileServer::Update(0, 0, 1, 1, 0, QByteArray(4, '\1')));
    EXPECT_TRUE(WaitFor([&] { return viewer.IsConnected(); }, 10000));
    EXPECT_EQ(viewer.RemoteSize(), QSize(64, 32));
    ASSERT_TRUE(WaitFor([&] { return !texts.isEmpty(); }, 10000));
    EXPECT_EQ(texts.size(), 1);
    EXPECT_EQ(texts.at(0).at(0).toByteArray(), QByteArray("Fhello"));
    EXPECT_FALSE(viewer.SendChatMessage(QByteArray(4096, 'x')));
    EXPECT_TRUE(viewer.SendChatMessage("Fanswer"));
    EXPECT_TRUE(server.ReadUntil(HostileServer::TextChat("Fanswer")));
}

// A rectangle of a screen update (its header and data) and an update of such rectangles.
QByteArray Rect(const QRect& r, qint32 encoding, const QByteArray& data = {}) {
    return HostileServer::Update(quint16(r.x()), quint16(r.y()), quint16(r.width()), quint16(r.height()),
                                 encoding, data)
        .mid(4);
}
QByteArray UpdateOf(const QList<QByteArray>& rects) {
    QByteArray m(4, '\0');
    qToBigEndian(quint16(rects.size()), m.data() + 2);
    return m + rects.join();
}

// Raw pixels as the viewer asks for them: 32 bits, little endian, 0x00RRGGBB.
QByteArray Raw(const QImage& image) {
    QByteArray data(int(image.width() * image.height() * 4), '\0');
    char* out = data.data();
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x, out += 4) qToLittleEndian(image.pixel(x, y) & 0xffffffu, out);
    return data;
}

QImage Pattern(QSize size, quint32 seed) {
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            image.setPixel(
                x, y, 0xff000000u | ((quint32(x) * 0x010307u + quint32(y) * 0x070103u) ^ seed * 0x9e3779b9u));
    return image;
}

// The viewable windows inside the display's top-level windows, as placed in them.
QList<QRect> InnerWindows(void* display) {
    auto* d = static_cast<Display*>(display);
    QList<QRect> found;
    Window root = 0, parent = 0, *tops = nullptr;
    unsigned topCount = 0;
    if (!XQueryTree(d, DefaultRootWindow(d), &root, &parent, &tops, &topCount)) return found;
    for (unsigned i = 0; i < topCount; ++i) {
        Window* children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(d, tops[i], &root, &parent, &children, &count)) continue;
        for (unsigned j = 0; j < count; ++j) {
            XWindowAttributes a;
            if (XGetWindowAttributes(d, children[j], &a) && a.map_state == IsViewable)
                found << QRect(a.x, a.y, a.width, a.height);
        }
        if (children) XFree(children);
    }
    if (tops) XFree(tops);
    return found;
}

// On X11 the picture goes from shared memory straight into a window of its own over the picture's
// area: the display shows the server's pixels exactly, after rectangles anywhere on the screen, a
// copy and fills within it, and a new screen size (new shared memory, placed anew between black bars).
TEST(ViewerOnX11Display, ShowsTheServersPixelsInAWindowOfTheirOwn) {
    XvfbDisplay display(QSize(640, 480));
    ASSERT_TRUE(display.ok());
    HostileServer server;
    QProcess window;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display.name());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    window.setProcessEnvironment(env);
    window.start(QStringLiteral(PELIO_VIEWER_WINDOW),
                 {QString::number(server.port()), QStringLiteral("320"), QStringLiteral("240")});
    ASSERT_TRUE(server.Accept());
    ASSERT_TRUE(server.Handshake(320, 240));
    auto shows = [&](const QImage& picture) {
        return WaitFor([&] {
            return pelio::test::SamePixels(pelio::test::GrabScreen(display.display(), QRect(0, 0, 320, 240)),
                                           picture);
        });
    };

    QImage expected = Pattern(QSize(320, 240), 1);
    server.Send(UpdateOf({Rect(expected.rect(), 0, Raw(expected))}));
    EXPECT_TRUE(shows(expected)) << "the first screen";
    EXPECT_TRUE(InnerWindows(display.display()).contains(QRect(0, 0, 320, 240)));

    const QImage corner = Pattern(QSize(40, 30), 2);
    const QRect cornerArea(280, 210, 40, 30), copied(0, 0, 100, 50), tiled(200, 20, 40, 30);
    const QPoint copyTo(10, 100);
    QByteArray copyFrom(4, '\0');
    qToBigEndian(quint16(copied.x()), copyFrom.data());
    qToBigEndian(quint16(copied.y()), copyFrom.data() + 2);
    // Hextile tiles of one colour each: fills of the screen.
    QByteArray tiles;
    QList<QPair<QRect, quint32>> fills;
    for (int y = 0; y < tiled.height(); y += 16)
        for (int x = 0; x < tiled.width(); x += 16) {
            fills.append({QRect(tiled.topLeft() + QPoint(x, y), QSize(16, 16)) & tiled,
                          0x4080c0u + quint32(x * 0x10203 + y * 0x30201)});
            QByteArray tile(5, '\2');  // background specified, then the background
            qToLittleEndian(fills.last().second, tile.data() + 1);
            tiles += tile;
        }
    server.Send(UpdateOf({Rect(cornerArea, 0, Raw(corner)), Rect(QRect(copyTo, copied.size()), 1, copyFrom),
                          Rect(tiled, 5, tiles)}));
    {
        QPainter painter(&expected);
        painter.drawImage(cornerArea.topLeft(), corner);
        painter.drawImage(copyTo, expected.copy(copied));
        for (const auto& [area, colour] : fills) painter.fillRect(area, QColor::fromRgb(colour));
    }
    EXPECT_TRUE(shows(expected)) << "a rectangle in the corner, a copy and fills";

    const QImage wide = Pattern(QSize(320, 120), 3);
    constexpr qint32 kNewSize = -223;
    server.Send(UpdateOf({Rect(wide.rect(), kNewSize), Rect(wide.rect(), 0, Raw(wide))}));
    expected.fill(Qt::black);
    QPainter(&expected).drawImage(0, 60, wide);
    EXPECT_TRUE(shows(expected)) << "a new size";
    EXPECT_TRUE(InnerWindows(display.display()).contains(QRect(0, 60, 320, 120)));

    window.kill();
    window.waitForFinished(5000);
}

qint64 ResidentKb() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return 0;
}

TEST(ViewerAgainstHostileServer, EachRefusalClosesTheViewWithoutGrowingMemory) {
    struct Case {
        const char* name;
        std::function<void(HostileServer&)> play;
    };
    const Case cases[] = {
        {"a screen of 65535 x 65535", [](HostileServer& s) { s.Handshake(65535, 65535); }},
        {"a screen wider than 16384", [](HostileServer& s) { s.Handshake(16385, 8); }},
        {"a name of 2 MB announced", [](HostileServer& s) { s.Handshake(64, 64, 2u << 20); }},
        {"a rectangle beyond the screen's edge",
         [](HostileServer& s) {
             s.Handshake(64, 64);
             s.Send(HostileServer::Update(60, 0, 8, 8, 0, QByteArray(8 * 8 * 4, '\x7f')));
         }},
        {"a copy from outside the screen, then an unknown message",
         [](HostileServer& s) {
             s.Handshake(64, 64);
             s.Send(HostileServer::Update(0, 0, 8, 8, 1, QByteArray::fromHex("ff00ff00")));
             s.Send(QByteArray::fromHex("c8"));
         }},
        {"a stall in the middle of the handshake", [](HostileServer& s) { s.Send("RFB 003.008\n"); }},
        {"an extended clipboard message of 2 GB announced",
         [](HostileServer& s) {
             s.Handshake(64, 64);
             s.Send(QByteArray::fromHex("0300000080000001"));
         }},
        {"a classic clipboard text of 16 MB announced",
         [](HostileServer& s) {
             s.Handshake(64, 64);
             s.Send(QByteArray::fromHex("0300000001000000") + QByteArray(4096, 'a'));
         }},
    };
    const qint64 before = ResidentKb();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HostileServer server;
        VncViewerComponent viewer;
        viewer.resize(200, 150);
        viewer.SetReadTimeoutSeconds(1);
        QSignalSpy closed(&viewer, &ViewerComponent::ViewClosed);
        viewer.SetAccessCode(QStringLiteral("harborclinks"));
        viewer.Connect(QStringLiteral("127.0.0.1"), server.port(), QString());
        ASSERT_TRUE(server.Accept());
        c.play(server);
        EXPECT_TRUE(WaitFor([&] { return !closed.isEmpty(); }, 15000));
        EXPECT_FALSE(viewer.IsConnected());
    }
    EXPECT_LT(ResidentKb() - before, 64 * 1024);
}

}  // namespace
