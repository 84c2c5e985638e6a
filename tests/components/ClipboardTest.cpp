// The clipboard's texts between the server component and a viewer: the extended and classic
// messages, the bridge to this computer's clipboard, our own server and viewer over a real link, and
// TigerVNC's vncviewer (which speaks the extended clipboard) as the agent's viewer.
#include "ServerTestSupport.h"
#include "clipboard/ClipboardBridge.h"
#include "clipboard/ClipboardMessages.h"
#include "server/VncServerComponent.h"
#include "support/Wait.h"
#include "support/XvfbDisplay.h"
#include "viewer/VncViewerComponent.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <zlib.h>

using namespace pelio::components;
using pelio::test::WaitFor;
using pelio::test::XvfbDisplay;

namespace {

const QString kKorean = QStringLiteral("안녕하세요, 클립보드입니다.\n둘째 줄 — 똠방각하");

// A clipboard of the test's own, so that the two ends of a link in one process do not share one.
class TestClipboard : public clipboard::ClipboardPort {
  public:
    QString Text() const override { return m_text; }
    void SetText(const QString& text) override {
        m_text = text;
        ++sets;
        emit Changed();
    }
    int sets = 0;

  private:
    QString m_text;
};

std::string Payload(const std::string& message) {
    return message.substr(8);
}

TEST(ClipboardMessages, TextsRoundTripAndHostilePayloadsGiveNothing) {
    namespace cb = clipboard;
    const std::string wire = cb::ToWire(kKorean);
    EXPECT_NE(wire.find("\r\n"), std::string::npos);
    const std::optional<std::string> provide = cb::ProvidePayload(wire);
    ASSERT_TRUE(provide);
    const std::optional<cb::Extended> read = cb::ReadExtended(*provide);
    ASSERT_TRUE(read && read->text);
    EXPECT_EQ(read->flags, cb::kProvide | cb::kText);
    EXPECT_EQ(cb::FromWire(*read->text), kKorean);
    EXPECT_FALSE(cb::ProvidePayload(std::string(cb::kMaxText, 'a')));

    const std::string message =
        cb::CutTextMessage(cb::kClientCutText, cb::CapsPayload(cb::kProvide, 4096), true);
    EXPECT_EQ(message.substr(0, 8), std::string("\x06\0\0\0\xff\xff\xff\xf8", 8));
    const std::optional<cb::Extended> caps = cb::ReadExtended(Payload(message));
    ASSERT_TRUE(caps);
    EXPECT_EQ(caps->textLimit, 4096u);

    // A stream that claims more than a clipboard text may hold, is cut short, or is not zlib at all;
    // caps whose sizes do not match their formats; a payload without an action or too short.
    std::string plain("\x00\x20\x00\x00", 4);
    plain += std::string(64, 'x');
    uLongf size = compressBound(uLong(plain.size()));
    std::string bomb("\x10\x00\x00\x01", 4);
    bomb.resize(4 + size);
    ASSERT_EQ(compress(reinterpret_cast<Bytef*>(bomb.data() + 4), &size,
                       reinterpret_cast<const Bytef*>(plain.data()), uLong(plain.size())),
              Z_OK);
    bomb.resize(4 + size);
    EXPECT_FALSE(cb::ReadExtended(bomb));
    EXPECT_FALSE(cb::ReadExtended(provide->substr(0, provide->size() - 6)));
    EXPECT_FALSE(cb::ReadExtended(std::string("\x10\x00\x00\x01garbage-not-zlib", 20)));
    EXPECT_FALSE(cb::ReadExtended(Payload(message).substr(0, 6)));
    EXPECT_FALSE(cb::ReadExtended(std::string("\x00\x00\x00\x01", 4)));
    EXPECT_FALSE(cb::ReadExtended(std::string("\x10", 1)));

    // Viewers without the extended clipboard get Latin-1: what it cannot hold becomes "?".
    EXPECT_EQ(cb::ToLatin1(QStringLiteral("café 한글\r\n😀")), std::string("caf\xe9 ??\n?"));
}

TEST(ClipboardBridge, SendsCopiesTakesTextsNeverEchoesAndStopsWhenOff) {
    TestClipboard port;
    QStringList sent;
    clipboard::ClipboardBridge bridge([&](const QString& text) { sent << text; }, &port);
    port.SetText(QStringLiteral("하나"));
    bridge.Received(QStringLiteral("둘"));
    EXPECT_EQ(port.Text(), QStringLiteral("둘"));
    EXPECT_EQ(sent, QStringList{QStringLiteral("하나")});  // the text from the link is not sent back

    bridge.SetEnabled(false);
    port.SetText(QStringLiteral("셋"));
    bridge.Received(QStringLiteral("넷"));
    EXPECT_EQ(port.Text(), QStringLiteral("셋"));
    EXPECT_EQ(sent.size(), 1);

    bridge.SetEnabled(true);
    port.SetText(QString(int(clipboard::kMaxText / 2), QChar(u'가')));  // 1.5 MiB as UTF-8
    EXPECT_EQ(sent.size(), 1);
    port.SetText(QStringLiteral("다섯"));
    EXPECT_EQ(sent.last(), QStringLiteral("다섯"));
}

// Our server and our viewer (the agent's console runs this viewer) on a reverse connection.
class ClipboardOverLink : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(display.ok());
        server.UseClipboard(&serverClipboard);
        viewer.UseClipboard(&viewerClipboard);
        int port = 0;
        const int listener = pelio::test::ListenOnLoopback(port);
        ASSERT_GE(listener, 0);
        server.Start(18925);
        QSignalSpy connected(&server, &ServerComponent::Connected);
        ASSERT_TRUE(server.Connect(QStringLiteral("127.0.0.1"), port));
        const int fd = accept(listener, nullptr, nullptr);
        close(listener);
        ASSERT_GE(fd, 0);
        viewer.resize(320, 240);
        viewer.Accept(fd, QStringLiteral("127.0.0.1"));
        ASSERT_TRUE(WaitFor([&] { return !connected.isEmpty(); }, 10000));
        server.Client(connected.first().first().toInt())->SetAllowed(true);
        ASSERT_TRUE(WaitFor([&] { return viewer.IsConnected(); }, 10000));
    }

    XvfbDisplay display{QSize(320, 240)};
    TestClipboard serverClipboard, viewerClipboard;
    VncServerComponent server{display.name()};
    VncViewerComponent viewer;
};

TEST_F(ClipboardOverLink, KoreanTextCrossesBothWaysAndNothingWhileSharingIsOff) {
    viewerClipboard.SetText(kKorean);
    EXPECT_TRUE(WaitFor([&] { return serverClipboard.Text() == kKorean; }, 10000));
    serverClipboard.SetText(QStringLiteral("고객이 복사한 글"));
    EXPECT_TRUE(WaitFor([&] { return viewerClipboard.Text() == QStringLiteral("고객이 복사한 글"); }, 10000));
    EXPECT_EQ(serverClipboard.sets, 2);  // neither end echoed the other's text back

    // Off on the customer's side: the agent's copy is not taken, the customer's not sent. A text
    // message sent after each copy arrives after it would have, on the same link.
    server.SetClipboardSharing(false);
    QSignalSpy texts(&server, &ServerComponent::TextReceived);
    viewerClipboard.SetText(QStringLiteral("상담원의 글"));
    ASSERT_TRUE(viewer.SendChatMessage("Fafter the copy"));
    ASSERT_TRUE(WaitFor([&] { return !texts.isEmpty(); }, 10000));
    EXPECT_EQ(serverClipboard.Text(), QStringLiteral("고객이 복사한 글"));
    QSignalSpy chat(&viewer, &VncViewerComponent::ChatMessageReceived);
    serverClipboard.SetText(QStringLiteral("고객의 다른 글"));
    server.Send(0, QStringLiteral("after the copy"));
    ASSERT_TRUE(WaitFor([&] { return !chat.isEmpty(); }, 10000));
    EXPECT_EQ(viewerClipboard.Text(), QStringLiteral("상담원의 글"));
}

// A viewer without the extended clipboard gets the classic message, its length that of the Latin-1
// text it carries.
TEST(ClipboardToClassicViewer, GetsLatin1WithItsOwnLength) {
    XvfbDisplay display(QSize(160, 120));
    ASSERT_TRUE(display.ok());
    pelio::test::ScriptedPeer peer;
    TestClipboard port;
    VncServerComponent server(display.name());
    server.UseClipboard(&port);
    server.Start(18925);
    QSignalSpy connected(&server, &ServerComponent::Connected);
    ASSERT_TRUE(server.Connect(QStringLiteral("127.0.0.1"), peer.port()));
    ASSERT_TRUE(peer.Accept());
    ASSERT_EQ(peer.Read(12), QByteArray("RFB 003.008\n"));
    ASSERT_TRUE(peer.Send(pelio::test::ScriptedPeer::Greeting()));
    ASSERT_TRUE(WaitFor([&] { return !connected.isEmpty(); }, 10000));
    server.Client(connected.first().first().toInt())->SetAllowed(true);
    ASSERT_FALSE(peer.ReadHandshakeReplies().isEmpty());
    ASSERT_TRUE(peer.Send(pelio::test::ScriptedPeer::SetEncodings({0})));
    ASSERT_TRUE(peer.Send(pelio::test::ScriptedPeer::UpdateRequest(false, QSize(160, 120))));
    // The update answers the request; the text then follows it.
    QByteArray header = peer.Read(4);
    ASSERT_EQ(header.size(), 4);
    ASSERT_EQ(header.at(0), 0);
    const int rects = (quint8(header.at(2)) << 8) | quint8(header.at(3));
    for (int i = 0; i < rects; ++i) {
        const QByteArray rect = peer.Read(12);
        ASSERT_EQ(rect.size(), 12);
        const int w = (quint8(rect.at(4)) << 8) | quint8(rect.at(5));
        const int h = (quint8(rect.at(6)) << 8) | quint8(rect.at(7));
        ASSERT_EQ(peer.Read(w * h * 4).size(), w * h * 4);
    }
    port.SetText(QStringLiteral("주소: Seoul"));
    EXPECT_EQ(peer.Read(8 + 9), QByteArray("\x03\0\0\0\0\0\0\x09??: Seoul", 8 + 9));
}

// TigerVNC's vncviewer, listening as an agent's viewer, on a display of its own with its own clipboard.
TEST(ClipboardWithTigerVncViewer, KoreanTextCrossesBothWays) {
    if (QStandardPaths::findExecutable(QStringLiteral("vncviewer")).isEmpty() ||
        QStandardPaths::findExecutable(QStringLiteral("xclip")).isEmpty() ||
        QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        GTEST_SKIP() << "vncviewer, xclip or xdotool is not installed (scripts/deps.sh)";
    XvfbDisplay customer(QSize(320, 240));
    XvfbDisplay agentDisplay(QSize(640, 480));
    ASSERT_TRUE(customer.ok() && agentDisplay.ok());
    QProcess viewer;
    QByteArray output;
    const int port = pelio::test::StartListeningVncViewer(
        viewer, agentDisplay.name(),
        {QStringLiteral("-SecurityTypes=None"), QStringLiteral("-Log=*:stderr:100")}, output);
    ASSERT_GT(port, 0) << output.toStdString();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), agentDisplay.name());

    TestClipboard customerClipboard;
    VncServerComponent server(customer.name());
    server.UseClipboard(&customerClipboard);
    server.Start(18925);
    QSignalSpy connected(&server, &ServerComponent::Connected);
    ASSERT_TRUE(server.Connect(QStringLiteral("127.0.0.1"), port));
    ASSERT_TRUE(WaitFor([&] { return !connected.isEmpty(); }, 10000)) << output.toStdString();
    server.Client(connected.first().first().toInt())->SetAllowed(true);

    const auto run = [&](const QString& program, const QStringList& arguments, const QByteArray& input = {}) {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(program, arguments);
        p.waitForStarted(5000);
        p.write(input);
        p.closeWriteChannel();
        p.waitForFinished(5000);
        return p.readAllStandardOutput();
    };
    // The viewer sends the clipboard while its window has the focus.
    QByteArray window;
    ASSERT_TRUE(WaitFor(
        [&] {
            viewer.waitForReadyRead(5);
            output += viewer.readAll();
            window = run(QStringLiteral("xdotool"),
                         {QStringLiteral("search"), QStringLiteral("--name"), QStringLiteral("TigerVNC")})
                         .trimmed();
            return !window.isEmpty();
        },
        15000))
        << output.toStdString();
    run(QStringLiteral("xdotool"),
        {QStringLiteral("windowfocus"), QString::fromLatin1(window.split('\n').first())});

    // xclip keeps the selection until another client takes it.
    QProcess owner;
    owner.setProcessEnvironment(env);
    owner.start(QStringLiteral("xclip"), {QStringLiteral("-selection"), QStringLiteral("clipboard"),
                                          QStringLiteral("-loops"), QStringLiteral("3")});
    owner.write(kKorean.toUtf8());
    owner.closeWriteChannel();
    EXPECT_TRUE(WaitFor(
        [&] {
            viewer.waitForReadyRead(5);
            output += viewer.readAll();
            return customerClipboard.Text() == kKorean;
        },
        15000))
        << output.toStdString();

    const QString answer = QStringLiteral("고객 쪽에서 복사한 글");
    customerClipboard.SetText(answer);
    EXPECT_TRUE(WaitFor(
        [&] {
            return QString::fromUtf8(run(QStringLiteral("xclip"),
                                         {QStringLiteral("-selection"), QStringLiteral("clipboard"),
                                          QStringLiteral("-o")})) == answer;
        },
        15000))
        << output.toStdString();

    server.Stop();
    owner.kill();
    owner.waitForFinished(5000);
    viewer.kill();
    viewer.waitForFinished(5000);
}

}  // namespace
