#include "session/ScreenViewHost.h"

#include "app/AppContext.h"
#include "session/frmRemote.h"
#include "util/gui/WindowLifetime.h"
#include "viewer/ViewerComponent.h"

namespace pelio::session {

ScreenViewHost::ScreenViewHost(app::AppContext& context, platform::WindowManager& windows,
                               ViewerFactory makeViewer, ScreenViewController::Hooks hooks,
                               std::function<QString()> currentServerIP, QWidget* owner)
    : m_context(context),
      m_windows(windows),
      m_makeViewer(std::move(makeViewer)),
      m_hooks(std::move(hooks)),
      m_currentServerIP(std::move(currentServerIP)),
      m_owner(owner) {}

ScreenViewHost::~ScreenViewHost() {
    *m_alive = false;
    delete m_window.data();
}

frmRemote* ScreenViewHost::Window() const {
    return m_window;
}

void ScreenViewHost::CloseWindow() {
    if (!m_window) return;
    frmRemote* window = m_window;
    m_window = nullptr;
    window->close();  // unloads the view; the window deletes itself
}

void ScreenViewHost::ShowMe(const ShowMeFields& fields) {
    // The newest request wins. One that comes while a view is connecting (its wait runs window events)
    // closes that view, whose wait then returns, and is opened by the loop below: waits never nest,
    // however often the agent asks.
    m_pending = fields;
    CloseWindow();
    if (m_connecting) return;
    const std::weak_ptr<bool> alive = m_alive;
    m_connecting = true;
    while (m_pending) {
        const ShowMeFields next = *m_pending;
        m_pending.reset();
        std::unique_ptr<components::ViewerComponent> viewer = m_makeViewer();
        if (!viewer) break;
        viewer->SetClipboardSharing(m_clipboardSharing);
        const ScreenViewRequest request = ReadShowMe(next, m_currentServerIP(), m_context.PublicIP);
        auto* window = new frmRemote(m_context, m_windows, std::move(viewer), m_hooks, m_owner.data());
        m_window = window;
        // The window is not deleted while its connection wait runs, even when it closes meanwhile.
        const util::NestedLoopScope connecting(window);
        window->Controller().Run(request);
        if (alive.expired()) return;
    }
    m_connecting = false;
}

void ScreenViewHost::SetClipboardSharing(bool on) {
    m_clipboardSharing = on;
    if (m_window && m_window->RV()) m_window->RV()->SetClipboardSharing(on);
}

void ScreenViewHost::StopShowMe() {
    m_pending.reset();  // a view still waiting to be opened is not opened after the stop
    CloseWindow();
}

}  // namespace pelio::session
