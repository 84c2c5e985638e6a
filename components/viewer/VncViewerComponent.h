// The viewer component on LibVNCClient: RFB to the agent's screen (a VNC server on the agent's
// computer) with the access code as its VNC password, the picture scaled to the component's area
// with its aspect ratio kept (black bars around it), and the customer's pointer and keys sent while
// control is allowed (ViewerComponent.h).
//
// Threads: each Connect makes a link (ViewerLink.h) with a thread of its own that owns the library's
// client and does every read and write; the widget queues input to it and paints what it copied.
// What the link reports reaches the UI thread as queued calls.
//
// Keys: the widget takes the keys without an input method, so that the Hangul key, the Hanja key and
// every letter reach the agent's computer as keys and the agent's own input method composes the text.
// Tab and the application's shortcuts go to the agent too while the view has the keyboard focus.
//
// Beyond the contract, for the agent's console: Accept runs the view on a socket that the peer
// connected to (a reverse connection, the peer being the customer's server component), and the
// peer's RFB text-chat messages are raised as ChatMessageReceived and sent with SendChatMessage.
//
// Painting: on X11 with shared memory, while the picture is shown one screen pixel per widget pixel,
// the link decodes into shared memory and a native child window shows the changed rectangles from
// it (ScreenSurface.h), without Qt's backing store; the widget itself paints only the bars. Else
// (a scaled picture, no X11 or no shared memory there) the widget paints the picture with QPainter.
//
// Diagnostics go to the logging category "pelio.viewer" (ViewerLog.h), silent by default.
#pragma once

#include "viewer/ViewerComponent.h"
#include "viewer/ViewerLink.h"

#include <QRegion>
#include <QSet>

#include <cstdint>
#include <memory>

namespace pelio::components {

namespace clipboard {
class ClipboardBridge;
class ClipboardPort;
}  // namespace clipboard

class ScreenSurface;

class VncViewerComponent : public ViewerComponent {
    Q_OBJECT
  public:
    explicit VncViewerComponent(QWidget* parent = nullptr);
    ~VncViewerComponent() override;

    bool ViewFlag1() const override { return m_lossless; }
    void SetViewFlag1(bool value) override { m_lossless = value; }
    bool ViewFlag2() const override { return m_exclusive; }
    void SetViewFlag2(bool value) override { m_exclusive = value; }
    QString AccessCode() const override { return m_accessCode; }
    void SetAccessCode(const QString& code) override { m_accessCode = code; }
    void Connect(const QString& address, int port, const QString& text) override;
    bool IsConnected() const override { return m_connected; }
    bool AllowControl() const override { return m_allowControl; }
    void SetAllowControl(bool allow) override;
    bool WindowActive() const override { return m_windowActive; }
    void SetWindowActive(bool active) override;
    void Shutdown() override;
    void Disconnect() override;
    void SetClipboardSharing(bool on) override;

    // The clipboard shared with the other side: the system's (the default), or a test's own (kept by
    // the caller; null goes back to the system's).
    void UseClipboard(clipboard::ClipboardPort* port);

    // Tuning, read at Connect: the time limit of making the link (default 10000 ms) and how long a
    // message may stall before the link counts as dead (default 30 s).
    void SetConnectTimeoutMs(int ms) { m_connectTimeoutMs = ms; }
    void SetReadTimeoutSeconds(int seconds) { m_readTimeoutS = seconds; }
    // What each later Connect runs on the socket it connected before speaking RFB on the result (an
    // encrypted tunnel, say); see ViewerLink::Settings::wrap. A wrap that fails gives up as for an
    // unreachable server. Empty (the default): RFB on the socket itself.
    using SocketWrap = decltype(ViewerLink::Settings::wrap);
    void SetSocketWrap(SocketWrap wrap) { m_wrap = std::move(wrap); }

    // Like Connect, on a connected socket, which the view owns from then on (it is closed when the
    // view ends). peer only names the link in diagnostics. A socket below 0 fails quietly.
    void Accept(int socket, const QString& peer);
    // Queues one RFB text-chat message (1 to 4,095 bytes); false when there is no link or the length
    // is outside that range.
    bool SendChatMessage(const QByteArray& message);

    // The size of the agent's screen (empty before the first picture) and the number of screen
    // updates painted since Connect.
    QSize RemoteSize() const;
    qint64 UpdatesShown() const { return m_updatesShown; }

  signals:
    // One RFB text-chat message of the peer, in the order received (the open/close controls are not
    // raised).
    void ChatMessageReceived(const QByteArray& message);
    // The peer's screen changed its size after ViewConnected (RemoteSize has the new one).
    void RemoteSizeChanged(QSize size);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool event(QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

  private:
    void EndLink();
    void StartLink(int socket, const QString& address, int port);
    void OnFrame(ViewerLink* link);
    void OnClosed(ViewerLink* link);
    void OnTexts(ViewerLink* link);
    void OnClipboard(ViewerLink* link);
    // Where the screen is drawn in the widget: fitted with the aspect ratio kept, centred.
    QRect ScreenArea(QSize screen) const;
    // Shows the surface over the picture while it can take it, else hides it.
    void PlaceSurface();
    bool SurfaceShown() const;
    // Paints `region` of the surface (screen pixels) on its window, or with `painter` when given.
    void PaintSurface(const QRegion& region, QPainter* painter);
    void SendPointer(QPointF position, int mask);
    void ReleaseKeys();
    void ReleaseAll();

    std::shared_ptr<ViewerLink> m_link;
    clipboard::ClipboardBridge* m_clipboard = nullptr;  // a child
    QSize m_remoteSize;
    bool m_lossless = false, m_exclusive = false;
    QString m_accessCode;
    bool m_connected = false;
    bool m_shutDown = false;
    bool m_allowControl = false;
    bool m_windowActive = false;
    int m_connectTimeoutMs = 10000;
    int m_readTimeoutS = 30;
    SocketWrap m_wrap;
    int m_buttons = 0;                      // RFB button mask held on the agent's computer
    QPoint m_pointer;                       // where the pointer was sent last
    QRegion m_owed;                         // not painted while the link was in a message
    ScreenSurface* m_surface = nullptr;     // a child; null where the picture is not shown that way
    bool m_surfaceFailed = false;           // the X server refused it: painted with QPainter from then on
    QSet<std::uint32_t> m_keysDown;         // keysyms held on the agent's computer
    QHash<int, std::uint32_t> m_keyOfScan;  // the keysym sent for each key held, by native scan code
    qint64 m_updatesShown = 0;
};

}  // namespace pelio::components
