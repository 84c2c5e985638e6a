// The viewer component against a real VNC server (x11vnc with the access code as its password) on a
// private X server that stands for the agent's screen, and against scripted hostile RFB servers.
#include "ServerTestSupport.h"
#include "support/XvfbDisplay.h"
#include "viewer/VncViewerComponent.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QKeyEvent>
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
