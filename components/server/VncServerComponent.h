// The server component on LibVNCServer: RFB over a reverse TCP connection (it never listens on any
// port), the screen of an X display captured with XShm and XDamage, input through XTest, session
// texts as RFB text-chat messages in the framing of TextFraming.h, recording to ".srf".
//
// The agent's program takes the link as an RFB viewer. It says that it is busy by answering the
// server's protocol version with the 12 bytes "RFB 000.000\n" instead of its own version: the
// component then raises Connected with Address "0.0.0.0", lets nothing pass on that link and keeps
// it until Stop or until the peer closes it (then Disconnected). Otherwise the RFB handshake waits
// after the protocol version until Allowed is set; no security type is offered but "None".
//
// With an agent pin (SetAgentPin), the connecting thread runs TLS 1.3 over the new TCP connection
// (secure/TlsTunnel.h) before the library sees it; the library then speaks RFB on the tunnel's plain
// local socket, and the link's `wire` is a duplicate of that socket, so shutting it ends the tunnel's
// relay and the network connection with it. A peer whose key has another pin, that speaks no TLS
// 1.3 or does not finish the handshake within Connect's time limit gets no RFB byte: Connect returns
// false with the failure Security. A record that fails its check ends the link (Disconnected), and
// nothing of it is delivered. The connection's CheckCode is that of the TLS session; Address is the
// peer's address on the network, as for a plain link.
//
// Every link's socket is watched for death (secure/LinkLiveness.h): a link whose peer vanished ends
// within secure::kDeadLinkMs, and LinkLost tells that end from the peer's close (the peer's FIN, or
// a TLS close) and from a cut this side made.
//
// Texts from the agent: only those it sent after Allowed was set are delivered; a text it began
// before is dropped whole, with its pieces that come after. One text may be at most
// framing::DefaultTextLimit bytes (2 MiB); a longer one is dropped and the link stays. A peer that
// sends texts faster than the UI thread takes them is cut off: once more than MaxPendingTexts texts
// or MaxPendingTextBytes bytes of its texts wait for the UI thread, the link is closed, the texts
// still waiting are dropped and Disconnected follows as for any other end.
//
// Threads: the library's own threads, one connecting thread per Connect, a capture thread
// (CaptureLoop.h), an input thread, a text-sending thread and the recording's writer thread
// (RecordingSink.h). Everything they report reaches the UI thread as queued calls.
//
// Monitors: the display's RandR 1.5 monitors (X11Capture::Monitors), read at Start and again when the
// X server tells of a change of the screen's configuration; a monitor is served as CaptureLoop.h
// says, and the agent's pointer events are offset by the served area's origin.
//
// Recording: StartRecording, StopRecording and Recording return at once; the file is created,
// written and finished on the writer thread, so it is complete shortly after StopRecording (its
// writer's lock is released then). Recording turns false again when the file cannot be created.
// Destroying the component waits until every recording asked for is finished.
//
// Diagnostics go to the logging category "pelio.server" (ServerLog.h), silent by default.
#pragma once

#include "server/ServerComponent.h"

#include <memory>

namespace pelio::components {

namespace clipboard {
class ClipboardPort;
}

class VncServerComponent : public ServerComponent {
    Q_OBJECT
  public:
    // displayName: the X display to serve; empty means $DISPLAY.
    explicit VncServerComponent(const QString& displayName = QString(), QObject* parent = nullptr);
    ~VncServerComponent() override;

    bool ConfigFlag1() const override;
    void SetConfigFlag1(bool value) override;
    bool ConfigFlag2() const override;
    void SetConfigFlag2(bool value) override;
    bool ConfigFlag3() const override;
    void SetConfigFlag3(bool value) override;
    bool ConfigFlag4() const override;
    void SetConfigFlag4(bool value) override;

    bool Active() const override;
    void Start(int number) override;
    void Stop() override;
    bool Connect(const QString& address, int port) override;
    ConnectFailure LastConnectFailure() const override;
    ServerConnection* Client(int index) override;
    bool LinkLost(int index) const override;
    void Send(int target, const QString& text) override;
    void StartRecording(const QString& path) override;
    void StopRecording() override;
    bool Recording() const override;
    void SetClipboardSharing(bool on) override;

    // The clipboard shared with the agent: the system's (the default), or a test's own (kept by the
    // caller; null goes back to the system's).
    void UseClipboard(clipboard::ClipboardPort* port);
    QList<QRect> Monitors() const override;
    bool ShowMonitor(int index) override;

    // The screen is grabbed when it changed and a viewer asked for an update, so a slow link is
    // served less often; a recording gathers changes and writes at most 10 frames a second. Each of
    // the viewer's requests gets an update of its own, and on a slow link an update waits until the
    // ones in flight have arrived and big changes go with lower JPEG quality (UpdateFlow.h).
    // Tuning, read at Start: the most screen grabs per second (default 100), the interval of the
    // full-screen safety sweep (default 2000 ms), the time limit of Connect (default 10000 ms) and
    // how long a peer may take to send its protocol version (default 30000 ms).
    void SetMaxFrameRate(int fps);
    void SetSweepIntervalMs(int ms);
    void SetConnectTimeoutMs(int ms);
    void SetGreetingTimeoutMs(int ms);

    // Bounds of one link's texts that were posted to the UI thread and not delivered yet; with the
    // bound of one text they bound the memory a peer can make the program hold (the texts wait as
    // their UTF-8 bytes). An agent sends a session message now and then, so a thousand waiting means
    // that it floods or that the UI thread is stuck, and more would only pile up. The bytes hold eight
    // texts of the largest size.
    static constexpr int MaxPendingTexts = 1000;
    static constexpr qint64 MaxPendingTextBytes = 16 * 1024 * 1024;

    struct Impl;

  private:
    std::unique_ptr<Impl> d;
};

}  // namespace pelio::components
