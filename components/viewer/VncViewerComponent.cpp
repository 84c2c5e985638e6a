#include "viewer/VncViewerComponent.h"

#include "clipboard/ClipboardBridge.h"
#include "clipboard/ClipboardMessages.h"
#include "viewer/ScreenSurface.h"
#include "viewer/ViewerKeys.h"
#include "viewer/ViewerLink.h"
#include "viewer/ViewerLog.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QTimer>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace pelio::components {

namespace {

// RFB button mask bits: 1 left, 2 middle, 4 right, 8/16 wheel up/down, 32/64 wheel left/right.
int MaskOf(Qt::MouseButtons buttons) {
    int mask = 0;
    if (buttons & Qt::LeftButton) mask |= 1;
    if (buttons & Qt::MiddleButton) mask |= 2;
    if (buttons & Qt::RightButton) mask |= 4;
    return mask;
}

// The key held, as the press and the release both name it: the keyboard's scan code where the window
// system gives one, else Qt's key code.
int KeyId(const QKeyEvent* event) {
    return event->nativeScanCode() != 0 ? int(event->nativeScanCode()) : -event->key();
}

}  // namespace

VncViewerComponent::VncViewerComponent(QWidget* parent) : ViewerComponent(parent) {
    RouteClientLibraryLog();
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    // Keys reach the agent's computer as keys; its own input method composes Korean text.
    setAttribute(Qt::WA_InputMethodEnabled, false);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAccessibleName(QStringLiteral("상담원 화면"));
    UseClipboard(nullptr);
    if (ScreenSurface::Supported()) {
        m_surface = new ScreenSurface(this);
        m_surface->hide();
        m_surface->paint = [this](const QRegion& region, QPainter* painter) {
            PaintSurface(region, painter);
        };
    }
}

VncViewerComponent::~VncViewerComponent() {
    std::shared_ptr<ViewerLink> link = std::move(m_link);
    if (link) {
        link->Stop();
        // The link's thread ends on its shut socket; only a name lookup can take longer, and the
        // thread does not need this widget.
        link->WaitFinished(2000);
    }
    // Its X resources go while this widget and the application's X connection are still there.
    delete m_surface;
}

void VncViewerComponent::Connect(const QString& address, int port, const QString&) {
    StartLink(-1, address, port);
}

void VncViewerComponent::Accept(int socket, const QString& peer) {
    if (socket < 0) {
        EndLink();
        return;
    }
    StartLink(socket, peer, 0);
}

bool VncViewerComponent::SendChatMessage(const QByteArray& message) {
    return m_link && m_link->QueueText(message.toStdString());
}

void VncViewerComponent::StartLink(int socket, const QString& address, int port) {
    EndLink();
    m_shutDown = false;
    ViewerLink::Settings settings;
    settings.host = address.trimmed().toStdString();
    settings.port = port;
    settings.acceptedSocket = socket;
    settings.password = m_accessCode.toStdString();
    settings.lossless = m_lossless;
    settings.exclusive = m_exclusive;
    settings.connectTimeoutMs = m_connectTimeoutMs;
    settings.readTimeoutS = std::max(1, m_readTimeoutS);
    if (socket < 0) settings.wrap = m_wrap;
    settings.sharedMemory = m_surface && !m_surfaceFailed;
    settings.clipboard = true;
    auto link = std::make_shared<ViewerLink>(std::move(settings));
    m_link = link;
    m_updatesShown = 0;
    QPointer<VncViewerComponent> self(this);
    ViewerLink* raw = link.get();
    // The link's notification runs on its thread, and never after Stop (EndLink, the destructor): the
    // queued call is dropped with this widget, and ignored when the link is no longer the current one.
    link->Start([self, raw](ViewerLink::Event event) {
        QMetaObject::invokeMethod(
            self.data(),
            [self, raw, event] {
                if (!self) return;
                if (event == ViewerLink::Event::Frame)
                    self->OnFrame(raw);
                else if (event == ViewerLink::Event::Closed)
                    self->OnClosed(raw);
                else if (event == ViewerLink::Event::Text)
                    self->OnTexts(raw);
                else if (event == ViewerLink::Event::Clipboard)
                    self->OnClipboard(raw);
            },
            Qt::QueuedConnection);
    });
    qCInfo(lcViewer) << "connecting to" << address << port;
}

void VncViewerComponent::EndLink() {
    ReleaseAll();
    if (m_link) m_link->Stop();
    m_link.reset();
    m_connected = false;
    m_remoteSize = QSize();
    m_owed = QRegion();
    PlaceSurface();
    if (m_surface) m_surface->Release();
    update();
}

void VncViewerComponent::Shutdown() {
    ReleaseAll();
    m_shutDown = true;
}

void VncViewerComponent::Disconnect() {
    EndLink();
}

void VncViewerComponent::SetAllowControl(bool allow) {
    if (!allow) ReleaseAll();
    m_allowControl = allow;
    setCursor(allow ? Qt::ArrowCursor : Qt::ForbiddenCursor);
}

void VncViewerComponent::SetWindowActive(bool active) {
    if (!active) ReleaseKeys();
    m_windowActive = active;
}

QSize VncViewerComponent::RemoteSize() const {
    return m_remoteSize;
}

void VncViewerComponent::OnFrame(ViewerLink* link) {
    if (link != m_link.get()) return;
    if (m_shutDown) {
        link->FrameShown();
        return;
    }
    bool resized = false;
    QSize size;
    const QRegion dirty = link->TakeDirty(&resized, &size);
    if (resized) {
        m_remoteSize = size;
        PlaceSurface();
    }
    QRegion area = m_owed;
    m_owed = QRegion();
    if (resized) {
        area = rect();
    } else if (!dirty.isEmpty() && !m_remoteSize.isEmpty()) {
        const QRect shown = ScreenArea(m_remoteSize);
        if (shown.size() == m_remoteSize) {
            area += dirty.translated(shown.topLeft());
        } else {
            // The changed area in the widget, one pixel wider on each side for the smoothing.
            const double sx = double(shown.width()) / m_remoteSize.width();
            const double sy = double(shown.height()) / m_remoteSize.height();
            for (const QRect& r : dirty) {
                const int left = shown.x() + int(std::floor(r.x() * sx)) - 1;
                const int top = shown.y() + int(std::floor(r.y() * sy)) - 1;
                const int right = shown.x() + int(std::ceil((r.x() + r.width()) * sx)) + 1;
                const int bottom = shown.y() + int(std::ceil((r.y() + r.height()) * sy)) + 1;
                area += QRect(QPoint(left, top), QPoint(right, bottom));
            }
        }
    }
    // Painted now, while the link waits for it (ViewerLink.h).
    if (!area.isEmpty() && SurfaceShown()) {
        // The picture straight to the surface's window; only the bars through Qt.
        const QRect shown = m_surface->geometry();
        const QRegion picture = area & shown;
        if (!picture.isEmpty()) PaintSurface(picture.translated(-shown.topLeft()), nullptr);
        const QRegion beside = area - shown;
        if (!beside.isEmpty()) repaint(beside);
    } else if (!area.isEmpty()) {
        repaint(area);
    }
    link->FrameShown();
    if (!dirty.isEmpty()) ++m_updatesShown;
    if (!m_connected && !m_remoteSize.isEmpty()) {
        m_connected = true;
        qCInfo(lcViewer) << "showing a screen of" << m_remoteSize;
        emit ViewConnected();
    } else if (resized && m_connected) {
        qCInfo(lcViewer) << "the screen is now" << m_remoteSize;
        emit RemoteSizeChanged(m_remoteSize);
    }
}

void VncViewerComponent::OnTexts(ViewerLink* link) {
    if (link != m_link.get()) return;
    for (const std::string& text : link->TakeTexts())
        if (!m_shutDown) emit ChatMessageReceived(QByteArray(text.data(), qsizetype(text.size())));
}

void VncViewerComponent::OnClipboard(ViewerLink* link) {
    if (link != m_link.get()) return;
    if (std::optional<QString> text = link->TakeClipboard(); text && !m_shutDown)
        m_clipboard->Received(*text);
}

void VncViewerComponent::SetClipboardSharing(bool on) {
    ViewerComponent::SetClipboardSharing(on);
    m_clipboard->SetEnabled(on);
}

void VncViewerComponent::UseClipboard(clipboard::ClipboardPort* port) {
    delete m_clipboard;
    m_clipboard = new clipboard::ClipboardBridge(
        [this](const QString& text) {
            if (m_link && !m_shutDown) m_link->QueueClipboard(clipboard::ToWire(text));
        },
        port, this);
    m_clipboard->SetEnabled(ClipboardSharing());
}

void VncViewerComponent::OnClosed(ViewerLink* link) {
    if (link != m_link.get()) return;
    const bool report = !m_shutDown;
    EndLink();
    if (report) emit ViewClosed();
}

QRect VncViewerComponent::ScreenArea(QSize screen) const {
    if (screen.isEmpty()) return {};
    const QSize fitted = screen.scaled(size(), Qt::KeepAspectRatio);
    return QRect(QPoint((width() - fitted.width()) / 2, (height() - fitted.height()) / 2), fitted);
}

void VncViewerComponent::PlaceSurface() {
    if (!m_surface) return;
    const QRect area = ScreenArea(m_remoteSize);
    // One screen pixel per pixel of the display, not just of the widget.
    const bool shown = !m_surfaceFailed && m_link && !area.isEmpty() && area.size() == m_remoteSize &&
                       devicePixelRatio() == 1.0;
    if (shown) m_surface->setGeometry(area);
    if (shown == m_surface->isHidden()) m_surface->setVisible(shown);
}

bool VncViewerComponent::SurfaceShown() const {
    return m_surface && !m_surfaceFailed && !m_surface->isHidden();
}

void VncViewerComponent::PaintSurface(const QRegion& region, QPainter* painter) {
    std::shared_ptr<ViewerLink> link = m_link;
    if (!link || (!painter && m_surfaceFailed)) return;
    std::unique_lock lock(link->PictureLock(), std::try_to_lock);
    if (!lock.owns_lock()) {
        // As in paintEvent.
        m_owed += region.translated(m_surface->pos());
        link->PaintMissed();
        return;
    }
    const QImage& screen = link->Screen();
    if (screen.size() != m_remoteSize) return;  // a new size is on its way
    if (painter) {
        for (const QRect& r : region) painter->drawImage(r.topLeft(), screen, r);
    } else if (!m_surface->Show(link->ScreenSegment(), link->ScreenSerial(), screen.size(), region)) {
        // Hidden once this paint (possibly the surface's own) is over; then all is painted here.
        m_surfaceFailed = true;
        QTimer::singleShot(0, this, [this] {
            PlaceSurface();
            update();
        });
    }
}

void VncViewerComponent::resizeEvent(QResizeEvent* event) {
    ViewerComponent::resizeEvent(event);
    PlaceSurface();
}

void VncViewerComponent::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    std::shared_ptr<ViewerLink> link = m_link;
    const QRect area = ScreenArea(m_remoteSize);
    // The bars around the picture, and the whole area while there is none.
    const QRegion bars = QRegion(event->rect()) - QRegion(area);
    for (const QRect& r : bars) painter.fillRect(r, Qt::black);
    if (!link || area.isEmpty() || SurfaceShown()) return;
    std::unique_lock lock(link->PictureLock(), std::try_to_lock);
    if (!lock.owns_lock()) {
        // The link is in a message: the old picture stays, and this area is painted after it.
        m_owed += event->region();
        link->PaintMissed();
        return;
    }
    const QImage& screen = link->Screen();
    if (screen.size() != m_remoteSize) return;  // a new size is on its way
    if (area.size() == screen.size()) {
        for (const QRect& r : event->region()) {
            const QRect wanted = r & area;
            painter.drawImage(wanted.topLeft(), screen, wanted.translated(-area.topLeft()));
        }
    } else {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(area, screen);
    }
}

bool VncViewerComponent::event(QEvent* event) {
    // While the view has the focus, Tab, Backtab and the application's shortcuts are keys for the agent.
    if (event->type() == QEvent::ShortcutOverride) {
        event->accept();
        return true;
    }
    if (event->type() == QEvent::KeyPress) {
        keyPressEvent(static_cast<QKeyEvent*>(event));
        return true;
    }
    // The surface's window has a cursor of its own: the same.
    if (event->type() == QEvent::CursorChange && m_surface) m_surface->setCursor(cursor());
    return ViewerComponent::event(event);
}

void VncViewerComponent::SendPointer(QPointF position, int mask) {
    if (!m_link || !m_allowControl || m_shutDown || !m_connected || m_remoteSize.isEmpty()) return;
    const QRect area = ScreenArea(m_remoteSize);
    if (area.isEmpty()) return;
    const int x = std::clamp(int((position.x() - area.x()) * m_remoteSize.width() / area.width()), 0,
                             m_remoteSize.width() - 1);
    const int y = std::clamp(int((position.y() - area.y()) * m_remoteSize.height() / area.height()), 0,
                             m_remoteSize.height() - 1);
    m_link->QueuePointer(x, y, mask);
    m_pointer = QPoint(x, y);
    m_buttons = mask & 7;
}

void VncViewerComponent::mouseMoveEvent(QMouseEvent* event) {
    SendPointer(event->position(), MaskOf(event->buttons()));
}

void VncViewerComponent::mousePressEvent(QMouseEvent* event) {
    setFocus(Qt::MouseFocusReason);
    SendPointer(event->position(), MaskOf(event->buttons()));
}

void VncViewerComponent::mouseReleaseEvent(QMouseEvent* event) {
    SendPointer(event->position(), MaskOf(event->buttons()));
}

void VncViewerComponent::mouseDoubleClickEvent(QMouseEvent* event) {
    // The agent's computer sees the second press and decides itself that it was a double click.
    SendPointer(event->position(), MaskOf(event->buttons()));
}

void VncViewerComponent::wheelEvent(QWheelEvent* event) {
    event->accept();
    const QPoint steps = event->angleDelta() / 120;
    const int held = MaskOf(event->buttons());
    auto click = [&](int bit, int count) {
        for (int i = 0; i < count; ++i) {
            SendPointer(event->position(), held | bit);
            SendPointer(event->position(), held);
        }
    };
    click(steps.y() > 0 ? 8 : 16, std::abs(steps.y()));
    click(steps.x() > 0 ? 32 : 64, std::abs(steps.x()));
}

void VncViewerComponent::keyPressEvent(QKeyEvent* event) {
    event->accept();
    if (!m_link || !m_allowControl || !m_windowActive || m_shutDown || !m_connected) return;
    const std::uint32_t keysym =
        KeysymForKey(event->key(), event->text(), event->nativeVirtualKey(), event->modifiers());
    if (keysym == 0) return;
    m_keyOfScan.insert(KeyId(event), keysym);
    m_keysDown.insert(keysym);
    m_link->QueueKey(keysym, true);
}

void VncViewerComponent::keyReleaseEvent(QKeyEvent* event) {
    event->accept();
    if (event->isAutoRepeat()) return;  // the agent's computer repeats a held key itself
    const auto it = m_keyOfScan.constFind(KeyId(event));
    if (it == m_keyOfScan.cend()) return;
    const std::uint32_t keysym = it.value();
    m_keyOfScan.erase(it);
    if (!m_keysDown.remove(keysym) || !m_link) return;
    m_link->QueueKey(keysym, false);
}

void VncViewerComponent::focusOutEvent(QFocusEvent* event) {
    ReleaseKeys();
    ViewerComponent::focusOutEvent(event);
}

void VncViewerComponent::ReleaseKeys() {
    if (m_link)
        for (std::uint32_t keysym : std::as_const(m_keysDown)) m_link->QueueKey(keysym, false);
    m_keysDown.clear();
    m_keyOfScan.clear();
}

void VncViewerComponent::ReleaseAll() {
    ReleaseKeys();
    if (m_buttons != 0 && m_link && !m_remoteSize.isEmpty()) {
        // The pointer stays where it is; only the buttons go up.
        m_link->QueuePointer(m_pointer.x(), m_pointer.y(), 0);
    }
    m_buttons = 0;
}

}  // namespace pelio::components
