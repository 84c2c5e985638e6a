// The server component on LibVNCServer against the reference agent, under a private Xvfb.
#include "ServerTestSupport.h"
#include "app/ValueCipher.h"
#include "playback/SrfPlaybackWidget.h"
#include "server/TextFraming.h"
#include "server/VncServerComponent.h"
#include "support/XvfbDisplay.h"

#include <gtest/gtest.h>

#include <QAbstractScrollArea>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <X11/Xlib.h>
#include <X11/cursorfont.h>
#include <X11/keysym.h>

#include <set>
#include <string>

using pelio::components::VncServerComponent;
using pelio::test::AgentProcess;
using pelio::test::MutePeer;
using pelio::test::ScriptedPeer;
using pelio::test::WaitFor;
using pelio::test::XvfbDisplay;

namespace {

// Listening TCP sockets that belong to this process.
int OwnListeningSockets() {
    std::set<QString> inodes;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString& fd : fds.entryList(QDir::NoDotAndDotDot | QDir::System | QDir::AllEntries)) {
        const QString target = QFile::symLinkTarget(fds.filePath(fd));
        if (target.contains(QLatin1String("socket:[")))
            inodes.insert(target.section('[', 1).section(']', 0, 0));
    }
    int count = 0;
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        QFile file{QString::fromLatin1(table)};
        if (!file.open(QIODevice::ReadOnly)) continue;
        for (const QByteArray& line : file.readAll().split('\n')) {
            const QList<QByteArray> f = line.simplified().split(' ');
            if (f.size() > 9 && f[3] == "0A" && inodes.count(QString::fromLatin1(f[9]))) ++count;
        }
    }
    return count;
}

QString Text(int size) {
    QString s;
    const QString alphabet = QStringLiteral("가나다라 abc:/#;#\r\n0123456789");
    for (int i = 0; i < size; ++i) s += alphabet[i % alphabet.size()];
    return s;
}

QString Escaped(QString s) {
    return s.replace('\\', QLatin1String("\\\\"))
        .replace('\n', QLatin1String("\\n"))
        .replace('\r', QLatin1String("\\r"));
}

QPoint PointerOf(Display* d) {
    Window r = 0, c = 0;
    int x = 0, y = 0, wx = 0, wy = 0;
    unsigned mask = 0;
    XQueryPointer(d, DefaultRootWindow(d), &r, &c, &x, &y, &wx, &wy, &mask);
    return QPoint(x, y);
}

bool KeyDown(Display* d, KeySym keysym) {
    const KeyCode code = XKeysymToKeycode(d, keysym);
    char keys[32];
    XQueryKeymap(d, keys);
    return code != 0 && (keys[code / 8] & (1 << (code % 8))) != 0;
}

class ServerSession : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_x.ok());
        m_server = std::make_unique<VncServerComponent>(m_x.name());
        m_server->SetConfigFlag1(false);
        m_server->SetConfigFlag2(true);
        m_server->SetConfigFlag3(true);
        m_server->SetConfigFlag4(false);
        m_server->Start(18925);
        ASSERT_TRUE(m_server->Active());
    }

    // Connects to the agent and waits for Connected; returns the index.
    int ConnectTo(AgentProcess& agent) {
        QSignalSpy connected(m_server.get(), &VncServerComponent::Connected);
        EXPECT_TRUE(m_server->Connect(QStringLiteral("127.0.0.1"), agent.port()));
        EXPECT_TRUE(WaitFor([&] { return !connected.isEmpty(); }, 10000));
        return connected.isEmpty() ? -1 : connected.first().first().toInt();
    }

    // Connects to a scripted peer that answers the server's version with `greeting` and waits for
    // Connected; returns the index.
    int ConnectTo(ScriptedPeer& peer, const QByteArray& greeting) {
        QSignalSpy connected(m_server.get(), &VncServerComponent::Connected);
        EXPECT_TRUE(m_server->Connect(QStringLiteral("127.0.0.1"), peer.port()));
        if (!peer.Accept() || peer.Read(12).isEmpty() || !peer.Send(greeting)) return -1;
        EXPECT_TRUE(WaitFor([&] { return !connected.isEmpty(); }, 10000));
        return connected.isEmpty() ? -1 : connected.first().first().toInt();
    }

    XvfbDisplay m_x{QSize(640, 480)};
    std::unique_ptr<VncServerComponent> m_server;
};

TEST_F(ServerSession, AdmittedAgentGetsTheScreenAndTextsOfAnyLengthBothWays) {
    // Changes reach the agent through damage reports alone: no full-screen sweep covers a lost one.
    m_server->Stop();
    m_server->SetSweepIntervalMs(600000);
    m_server->Start(18925);
    EXPECT_EQ(OwnListeningSockets(), 0);
    AgentProcess agent;
    ASSERT_GT(agent.port(), 0);
    pelio::test::DrawPattern(m_x.display(), QRect(40, 40, 120, 80), 1);
    const int index = ConnectTo(agent);
    ASSERT_GT(index, 0);
    auto* client = m_server->Client(index);
    EXPECT_EQ(client->Address(), QStringLiteral("127.0.0.1"));

    // Texts given before admission wait; nothing of the screen reaches the agent yet.
    m_server->Send(0, pelio::app::EncryptValue(QStringLiteral("early")));
    EXPECT_TRUE(agent.WaitLine(QStringLiteral("screen"), 500).isEmpty());
    client->SetAllowed(true);
    EXPECT_EQ(agent.WaitLine(QStringLiteral("screen")), QStringLiteral("screen 640x480"));
    EXPECT_EQ(agent.WaitLine(QStringLiteral("message")), QStringLiteral("message early"));

    const QList<int> sizes{1, 300, 3 * 1024, 20 * 1024};
    for (int size : sizes) m_server->Send(0, pelio::app::EncryptValue(Text(size)));
    for (int size : sizes)
        EXPECT_EQ(agent.WaitLine(QStringLiteral("message")), "message " + Escaped(Text(size))) << size;

    QSignalSpy received(m_server.get(), &VncServerComponent::TextReceived);
    for (int size : sizes) agent.Command(Text(size).remove('\r').remove('\n'));
    ASSERT_TRUE(WaitFor([&] { return received.size() == sizes.size(); }, 10000));
    for (int i = 0; i < sizes.size(); ++i) {
        EXPECT_EQ(received[i][0].toInt(), index);
        EXPECT_EQ(pelio::app::DecryptValue(received[i][1].toString()),
                  Text(sizes[i]).remove('\r').remove('\n'));
    }

    // The screen the agent received is the customer's.
    const QString file = QDir::temp().filePath(QStringLiteral("pelio-agent-screen-%1.png").arg(agent.port()));
    const QImage expected = pelio::test::GrabScreen(m_x.display(), QRect(40, 40, 120, 80));
    EXPECT_TRUE(WaitFor(
        [&] {
            agent.Command("\\save " + file);
            if (agent.WaitLine(QStringLiteral("saved"), 2000).isEmpty()) return false;
            return pelio::test::SamePixels(QImage(file).copy(40, 40, 120, 80), expected);
        },
        10000));
    // The same area changing again reaches the agent again.
    pelio::test::DrawPattern(m_x.display(), QRect(40, 40, 120, 80), 2);
    const QImage redrawn = pelio::test::GrabScreen(m_x.display(), QRect(40, 40, 120, 80));
    EXPECT_TRUE(WaitFor(
        [&] {
            agent.Command("\\save " + file);
            if (agent.WaitLine(QStringLiteral("saved"), 2000).isEmpty()) return false;
            return pelio::test::SamePixels(QImage(file).copy(40, 40, 120, 80), redrawn);
        },
        10000));
    QFile::remove(file);
    EXPECT_EQ(OwnListeningSockets(), 0);

    // The agent leaving raises Disconnected.
    QSignalSpy disconnected(m_server.get(), &VncServerComponent::Disconnected);
    agent.Command(QStringLiteral("\\quit"));
    EXPECT_TRUE(WaitFor([&] { return !disconnected.isEmpty(); }, 10000));
    m_server->Stop();
    EXPECT_FALSE(m_server->Active());
}

TEST_F(ServerSession, BusyAgentReadsAsZeroAddressAndGetsNothing) {
    AgentProcess agent({QStringLiteral("--busy")});
    const int index = ConnectTo(agent);
    ASSERT_GT(index, 0);
    EXPECT_EQ(m_server->Client(index)->Address(), QStringLiteral("0.0.0.0"));
    EXPECT_FALSE(agent.WaitLine(QStringLiteral("busy")).isEmpty());
    m_server->Client(index)->SetAllowed(true);
    m_server->Send(0, QStringLiteral("x"));
    QSignalSpy disconnected(m_server.get(), &VncServerComponent::Disconnected);
    agent.Command(QStringLiteral("\\quit"));
    EXPECT_TRUE(WaitFor([&] { return !disconnected.isEmpty(); }, 10000));
    EXPECT_EQ(disconnected.first().first().toInt(), index);
    EXPECT_TRUE(agent.WaitExit());
    // An unknown index gives an inert object, not a crash.
    EXPECT_EQ(m_server->Client(999)->Address(), QString());
}

TEST_F(ServerSession, ConnectFailsWithoutAPeerAndStopRaisesNothing) {
    AgentProcess agent;
    const int port = agent.port();
    agent.process().kill();
    agent.process().waitForFinished(5000);
    EXPECT_FALSE(m_server->Connect(QStringLiteral("127.0.0.1"), port));
    EXPECT_FALSE(m_server->Connect(QString(), 18925));

    AgentProcess second;
    const int index = ConnectTo(second);
    ASSERT_GT(index, 0);
    m_server->Client(index)->SetAllowed(true);
    EXPECT_FALSE(second.WaitLine(QStringLiteral("screen")).isEmpty());
    QSignalSpy disconnected(m_server.get(), &VncServerComponent::Disconnected);
    m_server->Stop();
    EXPECT_FALSE(m_server->Connect(QStringLiteral("127.0.0.1"), second.port()));
    EXPECT_FALSE(second.WaitLine(QStringLiteral("disconnected")).isEmpty());
    QCoreApplication::processEvents();
    EXPECT_TRUE(disconnected.isEmpty());
}

TEST_F(ServerSession, AgentInputMovesThePointerAndPressesKeys) {
    AgentProcess agent;
    const int index = ConnectTo(agent);
    ASSERT_GT(index, 0);
    m_server->Client(index)->SetAllowed(true);
    ASSERT_FALSE(agent.WaitLine(QStringLiteral("screen")).isEmpty());
    auto* d = static_cast<Display*>(m_x.display());
    const auto pointer = [&] {
        Window r = 0, c = 0;
        int x = 0, y = 0, wx = 0, wy = 0;
        unsigned mask = 0;
        XQueryPointer(d, DefaultRootWindow(d), &r, &c, &x, &y, &wx, &wy, &mask);
        return QPoint(x, y);
    };
    agent.Command(QStringLiteral("\\pointer 123 234 0"));
    EXPECT_TRUE(WaitFor([&] { return pointer() == QPoint(123, 234); }, 10000));

    const auto pressed = [&](KeySym keysym) {
        const KeyCode code = XKeysymToKeycode(d, keysym);
        char keys[32];
        XQueryKeymap(d, keys);
        return code != 0 && (keys[code / 8] & (1 << (code % 8))) != 0;
    };
    for (KeySym keysym : {KeySym(XK_a), KeySym(XK_Hangul), KeySym(0x1000e9)}) {  // a, Hangul, é
        agent.Command(QStringLiteral("\\key %1 down").arg(keysym));
        EXPECT_TRUE(WaitFor([&] { return pressed(keysym); }, 10000)) << keysym;
        agent.Command(QStringLiteral("\\key %1 up").arg(keysym));
        EXPECT_TRUE(WaitFor([&] { return !pressed(keysym); }, 10000)) << keysym;
    }
}

TEST_F(ServerSession, RecordingOfTheSessionPlaysBack) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("session.srf"));
    const QString next = dir.filePath(QStringLiteral("next.srf"));
    const QString shot = dir.filePath(QStringLiteral("agent.png"));
    AgentProcess agent;
    const int index = ConnectTo(agent);
    ASSERT_GT(index, 0);
    m_server->StartRecording(path);
    EXPECT_TRUE(m_server->Recording());
    m_server->Client(index)->SetAllowed(true);
    ASSERT_FALSE(agent.WaitLine(QStringLiteral("screen")).isEmpty());
    const QRect area(0, 0, 64, 48);
    pelio::test::DrawPattern(m_x.display(), area, 3);
    const QImage drawn = pelio::test::GrabScreen(m_x.display(), area);
    // The capture records a change in the same step in which it hands it to the agent.
    ASSERT_TRUE(WaitFor(
        [&] {
            agent.Command("\\save " + shot);
            if (agent.WaitLine(QStringLiteral("saved"), 2000).isEmpty()) return false;
            return pelio::test::SamePixels(QImage(shot).copy(area).convertToFormat(QImage::Format_RGB32),
                                           drawn);
        },
        10000));
    // A new recording while the first one is being finished: both files end whole.
    m_server->StartRecording(next);
    EXPECT_TRUE(m_server->Recording());
    m_server->StopRecording();
    EXPECT_FALSE(m_server->Recording());

    for (const QString& file : {path, next}) {
        pelio::components::SrfPlaybackWidget player;
        player.resize(area.size() + QSize(64, 64));  // room for the area beside the scroll bars
        player.SetStretchView(false);
        player.show();
        // The file is finished on the recording's own thread, soon after StopRecording returned.
        ASSERT_TRUE(WaitFor([&] { return player.OpenRecording(file) && player.RecordingComplete(); }, 10000))
            << file.toStdString();
        player.SetPosition(player.Length());
        // The frame is decoded off the UI thread and shown when it arrives; by then scroll bars have
        // appeared beside the picture, which the view's viewport leaves out.
        QWidget* picture = player.findChild<QAbstractScrollArea*>()->viewport();
        EXPECT_TRUE(WaitFor(
            [&] {
                const QImage shown = picture->grab().toImage().convertToFormat(QImage::Format_RGB32);
                return pelio::test::SamePixels(shown.copy(area), drawn);
            },
            10000))
            << file.toStdString();
    }
}

}  // namespace

TEST_F(ServerSession, ConnectedComesAfterConnectHasReturned) {
    AgentProcess agent;
    bool returned = false;
    bool orderKept = true;
    int connectedCount = 0;
    QObject::connect(m_server.get(), &VncServerComponent::Connected, [&](int) {
        orderKept = orderKept && returned;
        ++connectedCount;
    });
    EXPECT_TRUE(m_server->Connect(QStringLiteral("127.0.0.1"), agent.port()));
    returned = true;
    ASSERT_TRUE(WaitFor([&] { return connectedCount > 0; }, 10000));
    EXPECT_TRUE(orderKept);
}

TEST_F(ServerSession, APeerThatSpeaksFirstAndFallsSilentNeitherConnectsNorBlocksStop) {
    MutePeer peer;
    m_server->Stop();
    m_server->SetConnectTimeoutMs(500);
    m_server->Start(18925);
    QSignalSpy connected(m_server.get(), &VncServerComponent::Connected);
    EXPECT_FALSE(m_server->Connect(QStringLiteral("127.0.0.1"), peer.port()));
    m_server->Stop();  // returns: no thread of the component stays stuck on the peer
    EXPECT_FALSE(m_server->Active());
    EXPECT_TRUE(connected.isEmpty());
}

TEST_F(ServerSession, CursorShapesChangingRepeatedlyAreFreedOnce) {
    Display* d = XOpenDisplay(m_x.name().toLatin1().constData());
    ASSERT_NE(d, nullptr);
    // An agent that takes cursor shapes: a shape that reached it was taken by the server.
    ScriptedPeer peer;
    const int index = ConnectTo(peer, ScriptedPeer::Greeting());
    ASSERT_GT(index, 0);
    m_server->Client(index)->SetAllowed(true);
    ASSERT_FALSE(peer.ReadHandshakeReplies().isEmpty());
    ASSERT_TRUE(
        peer.Send(ScriptedPeer::SetEncodings({0, -239}) + ScriptedPeer::UpdateRequest(true, QSize(1, 1))));
    ASSERT_TRUE(peer.WaitCursorShape());
    // Each new shape replaces the last in the server; more shapes than it keeps at once. Each reaches
    // the agent, which is waiting for an update, while the screen stays as it is.
    for (unsigned shape : {2u, 34u, 68u, 152u, 58u, 92u, 130u, 24u, 116u, 142u, 150u, 60u}) {
        ASSERT_TRUE(peer.Send(ScriptedPeer::UpdateRequest(true, QSize(1, 1))));
        ASSERT_TRUE(WaitFor([&] { return peer.ServerUnread() == 0; }, 10000));  // the request is taken
        Cursor c = XCreateFontCursor(d, shape);
        XDefineCursor(d, DefaultRootWindow(d), c);
        XSync(d, False);
        XFreeCursor(d, c);
        ASSERT_TRUE(peer.WaitCursorShape()) << shape;
    }
    m_server->Stop();
    m_server->Start(18925);
    EXPECT_TRUE(m_server->Active());
    XCloseDisplay(d);
}

TEST_F(ServerSession, InputSentBeforeAdmissionIsDroppedAndAPointerFloodEndsAtItsLastPosition) {
    auto* d = static_cast<Display*>(m_x.display());
    const QPoint start = PointerOf(d);
    ScriptedPeer peer;
    // The whole handshake and then input, all before the agent is admitted.
    const int index = ConnectTo(peer, ScriptedPeer::Greeting() + ScriptedPeer::PointerEvent(1, 50, 60) +
                                          ScriptedPeer::KeyEvent(true, XK_a));
    ASSERT_GT(index, 0);
    m_server->Client(index)->SetAllowed(true);
    ASSERT_EQ(peer.ReadHandshakeReplies(), QSize(640, 480));
    // Input is played in order: once a later key is down, the early events would have been played.
    ASSERT_TRUE(peer.Send(ScriptedPeer::KeyEvent(true, XK_b)));
    ASSERT_TRUE(WaitFor([&] { return KeyDown(d, XK_b); }, 10000));
    EXPECT_FALSE(KeyDown(d, XK_a));
    EXPECT_EQ(PointerOf(d), start);

    QByteArray flood;
    for (int i = 0; i < 100000; ++i) flood += ScriptedPeer::PointerEvent(i % 2, i % 600, (i * 7) % 400);
    flood += ScriptedPeer::PointerEvent(0, 321, 123);
    ASSERT_TRUE(peer.Send(flood));
    EXPECT_TRUE(WaitFor([&] { return PointerOf(d) == QPoint(321, 123); }, 30000));
}

TEST_F(ServerSession, TextsSentBeforeAdmissionAreNeverDelivered) {
    QSignalSpy received(m_server.get(), &VncServerComponent::TextReceived);
    ScriptedPeer peer;
    // A whole text and the first piece of another, pipelined with the protocol version.
    const int index = ConnectTo(peer, ScriptedPeer::Greeting() + ScriptedPeer::ChatMessage("Fearly") +
                                          ScriptedPeer::ChatMessage("Mhead"));
    ASSERT_GT(index, 0);
    m_server->Client(index)->SetAllowed(true);
    ASSERT_FALSE(peer.ReadHandshakeReplies().isEmpty());
    // The early text's last piece, then a text of its own. Texts are delivered in order: once the
    // later one is there, the early ones would have been.
    ASSERT_TRUE(peer.Send(ScriptedPeer::ChatMessage("Ftail") + ScriptedPeer::ChatMessage("Flater")));
    ASSERT_TRUE(WaitFor([&] { return !received.isEmpty(); }, 10000));
    ASSERT_EQ(received.size(), 1);
    EXPECT_EQ(received[0][0].toInt(), index);
    EXPECT_EQ(received[0][1].toString(), QStringLiteral("later"));
}

TEST_F(ServerSession, APeerWhoseTextsOutrunTheProgramIsCutOff) {
    // Many small texts outrun the count of texts waiting, a few large ones their bytes.
    const QByteArray small = ScriptedPeer::ChatMessage("F" + QByteArray(1000, 's'));
    QByteArray large;
    for (const std::string& piece : pelio::framing::SplitText(std::string(1 << 20, 'L')))
        large += ScriptedPeer::ChatMessage(QByteArray::fromStdString(piece));
    for (const QByteArray& text : {small, large}) {
        QSignalSpy received(m_server.get(), &VncServerComponent::TextReceived);
        QSignalSpy disconnected(m_server.get(), &VncServerComponent::Disconnected);
        ScriptedPeer peer;
        const int index = ConnectTo(peer, ScriptedPeer::Greeting());
        ASSERT_GT(index, 0);
        m_server->Client(index)->SetAllowed(true);
        ASSERT_FALSE(peer.ReadHandshakeReplies().isEmpty());
        // The UI thread runs no event while the peer floods, so every text it sends waits. The server
        // stops taking them long before the flood ends, whatever the sockets buffer.
        QByteArray batch;
        while (batch.size() < (1 << 20)) batch += text;
        const qint64 flood = 4 * VncServerComponent::MaxPendingTextBytes;
        qint64 sent = 0;
        while (sent < flood && peer.Send(batch)) sent += batch.size();
        EXPECT_LT(sent, flood) << text.size();
        EXPECT_TRUE(peer.WaitClosed()) << text.size();
        // The link ends as any other; the texts it left waiting are dropped with it.
        EXPECT_TRUE(WaitFor([&] { return !disconnected.isEmpty(); }, 10000)) << text.size();
        EXPECT_EQ(disconnected.value(0).value(0).toInt(), index);
        EXPECT_TRUE(received.isEmpty()) << text.size();
    }
}

TEST_F(ServerSession, StopEndsAdmittedLinksWhoseAgentsStallOrNeverRead) {
    // One agent stops in the middle of a message; the other asks for the screen again and again, is
    // sent texts, and never reads.
    ScriptedPeer stalled, deaf(4096);
    const int first = ConnectTo(stalled, ScriptedPeer::Greeting());
    const int second = ConnectTo(deaf, ScriptedPeer::Greeting());
    ASSERT_GT(first, 0);
    ASSERT_GT(second, 0);
    m_server->Client(first)->SetAllowed(true);
    m_server->Client(second)->SetAllowed(true);
    ASSERT_FALSE(stalled.ReadHandshakeReplies().isEmpty());
    ASSERT_FALSE(deaf.ReadHandshakeReplies().isEmpty());
    ASSERT_TRUE(stalled.Send(ScriptedPeer::KeyEvent(true, XK_a).left(3)));
    QByteArray requests;
    for (int i = 0; i < 30; ++i) requests += ScriptedPeer::UpdateRequest(false, QSize(640, 480));
    ASSERT_TRUE(deaf.Send(requests));
    for (int i = 0; i < 20; ++i) m_server->Send(0, Text(3000));
    // The server has taken the three bytes and waits for the rest; its writes to the other back up.
    EXPECT_TRUE(WaitFor([&] { return stalled.ServerUnread() == 0; }, 10000));
    EXPECT_TRUE(WaitFor(
        [&] {
            int unread = 0, unsent = 0;
            return deaf.ServerQueues(unread, unsent) && unsent > 100000;
        },
        10000));
    {
        pelio::test::Deadline deadline(5000, "Stop");
        m_server->Stop();
    }
    EXPECT_FALSE(m_server->Active());
    EXPECT_TRUE(stalled.WaitClosed());
    EXPECT_TRUE(deaf.WaitClosed());
    m_server->Start(18925);
    EXPECT_TRUE(m_server->Active());
}

TEST_F(ServerSession, APeerThatNeverSendsItsVersionRaisesNoEvent) {
    m_server->Stop();
    m_server->SetGreetingTimeoutMs(300);
    m_server->Start(18925);
    QSignalSpy connected(m_server.get(), &VncServerComponent::Connected);
    QSignalSpy disconnected(m_server.get(), &VncServerComponent::Disconnected);
    ScriptedPeer silent;
    EXPECT_TRUE(m_server->Connect(QStringLiteral("127.0.0.1"), silent.port()));
    ASSERT_TRUE(silent.Accept());
    EXPECT_TRUE(silent.WaitClosed());  // the server gave up on it
    // A peer that greets after that is announced; nothing came for the silent one.
    ScriptedPeer greeting;
    ASSERT_GT(ConnectTo(greeting, ScriptedPeer::Greeting()), 0);
    EXPECT_EQ(connected.size(), 1);
    EXPECT_TRUE(disconnected.isEmpty());
}
