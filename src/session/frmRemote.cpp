#include "session/frmRemote.h"

#include "app/AppContext.h"
#include "app/WindowForeground.h"
#include "util/gui/MessageBoxes.h"
#include "util/gui/WindowRoutines.h"
#include "viewer/ViewerComponent.h"

#include <QCloseEvent>

namespace pelio::session {

namespace {
const QString kName = QStringLiteral("frmRemote");
}

frmRemote::frmRemote(app::AppContext& context, platform::WindowManager& windows,
                     std::unique_ptr<components::ViewerComponent> viewer, ScreenViewController::Hooks hooks,
                     QWidget* owner)
    : QWidget(owner, Qt::Window),
      m_context(context),
      m_windows(windows),
      m_rv(viewer.release()),
      m_controller(*this, std::move(hooks)) {
    setObjectName(kName);
    setAttribute(Qt::WA_DeleteOnClose);
    setAccessibleName(QStringLiteral("상담원 화면보기"));
    setWindowTitle(QStringLiteral("상담원 화면보기"));
    m_rv->setParent(this);
    m_rv->setObjectName(QStringLiteral("RV"));
    if (m_rv->accessibleName().isEmpty()) m_rv->setAccessibleName(QStringLiteral("상담원 화면"));
    m_rv->Move(0, 0, width(), height());
    m_rv->setFocus();
    m_timer1.setObjectName(QStringLiteral("Timer1"));
    m_timer2.setObjectName(QStringLiteral("Timer2"));
    m_timer1.setInterval(ScreenViewController::kTickMs);
    m_timer2.setInterval(ScreenViewController::kTickMs);
    connect(&m_timer1, &QTimer::timeout, this, [this] { m_controller.Timer1Tick(); });
    connect(&m_timer2, &QTimer::timeout, this, [this] { m_controller.Timer2Tick(); });
    connect(m_rv, &components::ViewerComponent::ViewConnected, this,
            [this] { m_controller.OnViewConnected(); });
    connect(m_rv, &components::ViewerComponent::ViewClosed, this, [this] { m_controller.OnViewClosed(); });
}

frmRemote::~frmRemote() {
    // A window destroyed without closing (its owner went) still ends the view.
    m_controller.Unload();
}

void frmRemote::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    m_rv->Move(0, 0, width(), height());
}

void frmRemote::closeEvent(QCloseEvent* event) {
    m_controller.Unload();
    QWidget::closeEvent(event);
}

void frmRemote::Place() {
    util::RestoreWindowPlacement(this, kName, false, 90,
                                 {m_context.IniFile, m_context.ScreenTwipsX, m_context.ScreenTwipsY});
}

void frmRemote::Show() {
    show();
    raise();
    activateWindow();
}

void frmRemote::SetTitle(const QString& title) {
    setWindowTitle(title);
}

void frmRemote::SetTimer1(bool on) {
    on ? m_timer1.start() : m_timer1.stop();
}

void frmRemote::SetTimer2(bool on) {
    on ? m_timer2.start() : m_timer2.stop();
}

void frmRemote::Repaint() {
    repaint();
}

void frmRemote::Center() {
    util::CenterWindow(this);
}

bool frmRemote::IsForeground() const {
    return app::IsForegroundForm(m_windows, windowHandle());
}

void frmRemote::Inform(const QString& text) {
    util::MessageBoxes::Inform(this, text);
}

void frmRemote::Close() {
    close();
}

void frmRemote::ViewerSetFlags(bool flag1, bool flag2) {
    m_rv->SetViewFlag1(flag1);
    m_rv->SetViewFlag2(flag2);
}

void frmRemote::ViewerSetAccessCode(const QString& code) {
    m_rv->SetAccessCode(code);
}

void frmRemote::ViewerConnect(const QString& address, int port) {
    m_rv->Connect(address, port, QString());
}

bool frmRemote::ViewerIsConnected() const {
    return m_rv->IsConnected();
}

void frmRemote::ViewerSetAllowControl(bool allow) {
    m_rv->SetAllowControl(allow);
}

void frmRemote::ViewerSetWindowActive(bool active) {
    m_rv->SetWindowActive(active);
}

void frmRemote::ViewerShutdown() {
    m_rv->Shutdown();
}

void frmRemote::ViewerDisconnect() {
    m_rv->Disconnect();
}

}  // namespace pelio::session
