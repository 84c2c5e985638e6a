// The remote-control server component that the program hosts for a support session: it makes the
// reverse connection to the agent's program, lets the agent see and control this screen once the
// program admits the connection, carries the session's text messages both ways and records the screen.
//
// How the program drives it (all calls on the UI thread; every event arrives there too):
//   SetConfigFlag1..4 once after creation; Start(18925); Connect(address, port) -> true once the
//   link to the agent's program is up; StartRecording(path). Connected(index) when the agent's
//   program has taken the link: Client(index) gives the connection object; the program reads
//   Address and sets Allowed to true; then Send(0, text) and TextReceived flow. At the end
//   StopRecording when Recording, then Stop when Active. Disconnected when the agent leaves or the
//   link drops; Stop raises no event, and events of a stopped session are never delivered.
//
// Connection object: Address is the numeric IP address of the agent's program, or "0.0.0.0" when
// that program answered that it is busy serving another customer. Until Allowed is set true nothing
// of the screen and no input passes, and texts the agent sent before are never delivered; setting it
// on a busy connection does nothing.
//
// Start's number is the default port of the agent's program: Connect uses it when the port it is
// given is outside 1..65535. The program passes 18925, the port the reference agent listens on.
//
// Configuration flags (read at Start; the program sets false, true, true, false):
//   ConfigFlag1  view only: pointer and key events from the agent are ignored.
//   ConfigFlag2  the cursor's shape and position are sent to the agent and recorded.
//   ConfigFlag3  change detection through the X server's damage reports; when false, changes are
//                found only by comparing the whole screen at the frame rate.
//   ConfigFlag4  lossless only: the agent gets no JPEG-compressed screen updates.
//
// Monitors: the agent sees the whole desktop until it asks for one monitor (ShowMonitor); the
// component then serves that monitor's area alone, as a screen of that size (a change of screen size
// for the agent's viewer), with the agent's pointer input placed inside it, until it is asked again,
// until Stop, or until the layout changes so that no monitor has that area any more (then the whole
// desktop again). The recording always keeps the whole desktop.
#pragma once

#include <QList>
#include <QObject>
#include <QRect>
#include <QString>

namespace pelio::components {

// One link to an agent's program, owned by the server component; valid until the next Stop.
class ServerConnection : public QObject {
    Q_OBJECT
  public:
    using QObject::QObject;
    virtual QString Address() const = 0;
    virtual bool Allowed() const = 0;
    virtual void SetAllowed(bool allowed) = 0;
    // The link's check code, "123 456", derived from its TLS session (the same on the agent's side);
    // empty for a plain link.
    virtual QString CheckCode() const { return QString(); }
};

class ServerComponent : public QObject {
    Q_OBJECT
  public:
    using QObject::QObject;

    virtual bool ConfigFlag1() const = 0;
    virtual void SetConfigFlag1(bool value) = 0;
    virtual bool ConfigFlag2() const = 0;
    virtual void SetConfigFlag2(bool value) = 0;
    virtual bool ConfigFlag3() const = 0;
    virtual void SetConfigFlag3(bool value) = 0;
    virtual bool ConfigFlag4() const = 0;
    virtual void SetConfigFlag4(bool value) = 0;

    // True from Start to Stop.
    virtual bool Active() const = 0;
    // Prepares a session (see the number above). Starting again while active restarts.
    virtual void Start(int number) = 0;
    // Ends every link and the recording; the component is inactive afterwards. Raises no event.
    virtual void Stop() = 0;

    // Makes the reverse connection to the agent's program. Blocks the caller but keeps the UI's
    // events running (handlers may run in between) until the link is up, refused or a time limit of
    // its own passed. True: the link is made; Connected follows when the agent's program takes it.
    // False when inactive, on a bad address, a refusal or the time limit.
    virtual bool Connect(const QString& address, int port) = 0;

    // The agent's key for the Connect calls that follow: "sha256//" and the Base64 of the SHA-256 of
    // the DER SubjectPublicKeyInfo of its certificate. With a pin, Connect runs TLS 1.3 over the new
    // connection (this side the client) before any RFB byte, and gives the link up, returning false
    // with the failure Security, when the agent's key is another. Empty: plain links, as before.
    virtual void SetAgentPin(const QString& pin) { m_agentPin = pin; }
    QString AgentPin() const { return m_agentPin; }
    // Why the last Connect returned false.
    enum class ConnectFailure { None, Unreachable, Security };
    virtual ConnectFailure LastConnectFailure() const { return ConnectFailure::None; }

    // Whether the link of an index whose Disconnected has been delivered was lost (reset, timed out,
    // unreachable) rather than closed by the agent's program or cut by this side: a lost link may be
    // dialled again. Valid until the next Stop; false for any other index.
    virtual bool LinkLost(int index) const {
        Q_UNUSED(index);
        return false;
    }

    // The connection object of an index that Connected delivered. For an unknown index an inert
    // object (empty Address, Allowed ignored), never null.
    virtual ServerConnection* Client(int index) = 0;

    // Sends one text to the agent's program, whole and in order with the texts sent before. target is
    // 0 (every admitted connection). Texts given before the agent is admitted wait until then.
    virtual void Send(int target, const QString& text) = 0;

    // Records the session's screen into a new ".srf" file at path (replacing a recording that runs).
    virtual void StartRecording(const QString& path) = 0;
    virtual void StopRecording() = 0;
    virtual bool Recording() const = 0;

    // Whether the clipboard's text crosses both ways with the admitted agent: a copy here is sent to
    // it, a text it sends is put on this computer's clipboard (texts up to 1 MiB). On by default;
    // while off nothing crosses either way.
    virtual void SetClipboardSharing(bool on) { m_clipboardSharing = on; }
    bool ClipboardSharing() const { return m_clipboardSharing; }
    // The monitors of the screen in desktop coordinates while active (empty when inactive or when the
    // display tells of none): the primary monitor first, then the others in the display's own order.
    virtual QList<QRect> Monitors() const = 0;
    // Serves the agent monitor `index` of Monitors() (from 1) or, for 0, the whole desktop (see
    // above). False, and nothing changes, when inactive or index is outside 0..Monitors().size().
    virtual bool ShowMonitor(int index) = 0;

  signals:
    void Connected(int index);
    // index of the connection, the text, and the length of the text in bytes as it travelled (UTF-8).
    void TextReceived(int index, const QString& text, int byteLength);
    void Disconnected(int index);
    // Monitors() changed (the layout of the display's monitors changed while active).
    void MonitorsChanged();

  private:
    QString m_agentPin;
    bool m_clipboardSharing = true;
};

}  // namespace pelio::components
