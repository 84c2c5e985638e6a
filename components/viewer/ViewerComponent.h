// The viewer component that the screen-view window hosts: it shows the agent's screen in its own
// window area and, when allowed, passes the customer's pointer and keys to the agent's computer.
//
// How the program drives it (all calls on the UI thread; every event arrives there too):
//   SetViewFlag1 and SetViewFlag2 once after creation; SetAccessCode; Connect(address, port, text),
//   which returns at once while the connection is made in the background; IsConnected is read every
//   100 ms and turns true once the agent's screen is shown; then SetAllowControl once, and
//   SetWindowActive every 100 ms. When the window closes: Shutdown, then Disconnect.
//   ViewConnected is raised once the first picture of the agent's screen is shown; ViewClosed when a
//   link to the agent's side that was made ends by itself, shown or still in its handshake (the
//   agent's side left, the link failed or stalled, or the peer sent what the viewer will not show).
//   A link that cannot be made at all (refused, no such address) raises nothing: IsConnected stays
//   false and the host's own time limit reports it. Disconnect and Shutdown raise no event, and no
//   event of a view that was disconnected is delivered afterwards.
//
// Placement: the component is a control of its host window; Move places it at left, top with a
// width and height in the host's pixels (the host fills its inner area on every resize).
//
// Configuration flags (read at Connect; the program sets both to false):
//   ViewFlag1  lossless: the viewer asks for no JPEG-compressed screen updates.
//   ViewFlag2  exclusive: the viewer asks the agent's side to drop its other viewers instead of
//              sharing the screen with them.
//
// AccessCode is the password of the agent's screen; the text given to Connect is reserved and may
// be empty. Control: pointer and key events go to the agent's computer only while AllowControl is
// true, and keys only while WindowActive is true as well.
#pragma once

#include <QString>
#include <QWidget>

namespace pelio::components {

class ViewerComponent : public QWidget {
    Q_OBJECT
  public:
    using QWidget::QWidget;

    virtual bool ViewFlag1() const = 0;
    virtual void SetViewFlag1(bool value) = 0;
    virtual bool ViewFlag2() const = 0;
    virtual void SetViewFlag2(bool value) = 0;

    virtual QString AccessCode() const = 0;
    virtual void SetAccessCode(const QString& code) = 0;

    // Starts connecting to the agent's screen at address and port and returns at once. A view that is
    // connected or connecting is ended first. A port outside 1..65535 or an empty address fails
    // quietly: IsConnected stays false.
    virtual void Connect(const QString& address, int port, const QString& text) = 0;
    // True from the first picture of the agent's screen until the view ends.
    virtual bool IsConnected() const = 0;

    virtual bool AllowControl() const = 0;
    // False also releases every key and button the customer holds on the agent's computer.
    virtual void SetAllowControl(bool allow) = 0;
    virtual bool WindowActive() const = 0;
    // False also releases every key the customer holds on the agent's computer.
    virtual void SetWindowActive(bool active) = 0;

    // Stops the view's input, picture updates and events; the link stays until Disconnect.
    virtual void Shutdown() = 0;
    // Ends the view and its link; IsConnected is false afterwards. Returns at once.
    virtual void Disconnect() = 0;

    // Whether the clipboard's text crosses both ways with the agent's screen (texts up to 1 MiB). On by
    // default; while off nothing crosses either way.
    virtual void SetClipboardSharing(bool on) { m_clipboardSharing = on; }
    bool ClipboardSharing() const { return m_clipboardSharing; }

    // The standard placement of a hosted control, in the host window's pixels.
    void Move(int left, int top, int width, int height) { setGeometry(left, top, width, height); }

  signals:
    void ViewConnected();
    void ViewClosed();

  private:
    bool m_clipboardSharing = true;
};

}  // namespace pelio::components
