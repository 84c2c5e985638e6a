#include "session/ScreenViewController.h"

#include "session/SessionLog.h"

namespace pelio::session {

ScreenViewRequest ReadShowMe(const ShowMeFields& fields, const QString& currentServerIP,
                             const QString& publicIP) {
    ScreenViewRequest request;
    request.agentName = fields.agentName;
    request.operable = fields.controlFlag.compare(QLatin1String("1"), Qt::CaseInsensitive) == 0;
    bool ok = false;
    const int port = fields.port.trimmed().toInt(&ok);
    request.port = ok ? port : 0;
    request.address =
        currentServerIP.compare(publicIP, Qt::CaseInsensitive) != 0 ? currentServerIP : fields.address;
    return request;
}

QString ScreenViewTitle(const QString& agentName, bool operable, bool connected) {
    return u'[' + agentName + QStringLiteral("]님의 화면보기") +
           (operable ? QStringLiteral(" (제어가능)") : QString()) +
           (connected ? QStringLiteral(" - 접속됨") : QStringLiteral(" - 접속 시도 중..."));
}

ScreenViewController::ScreenViewController(Surface& surface, Hooks hooks)
    : m_surface(surface), m_hooks(std::move(hooks)) {}

ScreenViewController::~ScreenViewController() = default;

void ScreenViewController::Load() {
    m_surface.Place();
    m_surface.ViewerSetFlags(false, false);
    m_surface.SetTitle(ScreenViewTitle(m_agentName, m_operable, false));
    m_timer1 = true;
    m_surface.SetTimer1(true);
    m_surface.SetTimer2(true);
}

void ScreenViewController::Run(const ScreenViewRequest& request) {
    if (m_state != State::Idle) return;
    const std::weak_ptr<bool> alive = m_alive;
    const qint64 start = m_hooks.nowMs();
    m_agentName = request.agentName;
    m_operable = request.operable;
    m_state = State::Connecting;
    Load();
    m_surface.Show();
    m_surface.ViewerSetAccessCode(kScreenAccessCode);
    m_surface.ViewerConnect(request.address, request.port);
    qCInfo(lcSession).noquote() << "screen view of" << request.agentName << "at" << request.address
                                << request.port;
    while (true) {
        m_hooks.waitResponsive(kTickMs);
        // The window may have closed meanwhile: by "stopshowme", a newer "showme" or the customer.
        if (alive.expired() || m_state == State::Closed) return;
        if (m_surface.ViewerIsConnected()) break;
        if (m_hooks.nowMs() - start > kGiveUpMs) {
            m_surface.ViewerDisconnect();
            m_state = State::GaveUp;
            m_connectCancel = true;
            qCInfo(lcSession) << "screen view gave up";
            return;
        }
    }
    if (m_state == State::Connecting) m_state = State::Connected;
    m_surface.ViewerSetAllowControl(m_operable);
}

void ScreenViewController::Timer1Tick() {
    if (m_state == State::Closed) return;
    if (m_timer1 && m_surface.ViewerIsConnected()) {
        m_timer1 = false;
        m_surface.SetTimer1(false);
        if (m_state == State::Connecting) m_state = State::Connected;
        m_surface.SetTitle(ScreenViewTitle(m_agentName, m_operable, true));
        m_surface.Repaint();
    }
    if (m_connectCancel) {
        // Cleared before the box: ticks that run while it is open report nothing more.
        m_connectCancel = false;
        const std::weak_ptr<bool> alive = m_alive;
        m_surface.Inform(kScreenGaveUpText);
        if (!alive.expired() && m_state != State::Closed) m_surface.Close();
    }
}

void ScreenViewController::Timer2Tick() {
    if (m_state == State::Closed) return;
    if (m_surface.ViewerIsConnected()) m_surface.ViewerSetWindowActive(m_surface.IsForeground());
}

void ScreenViewController::OnViewConnected() {
    if (m_state != State::Closed) m_surface.Center();
}

void ScreenViewController::OnViewClosed() {
    if (m_state != State::Closed) m_surface.Close();
}

void ScreenViewController::Unload() {
    if (m_state == State::Closed) return;
    m_state = State::Closed;
    m_connectCancel = false;
    m_timer1 = false;
    m_surface.SetTimer1(false);
    m_surface.SetTimer2(false);
    m_surface.ViewerShutdown();
    m_surface.ViewerDisconnect();
}

}  // namespace pelio::session
