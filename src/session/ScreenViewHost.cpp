#include "session/ScreenViewHost.h"

#include "app/AppContext.h"
#include "session/frmRemote.h"
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
    CloseWindow();
    std::unique_ptr<components::ViewerComponent> viewer = m_makeViewer();
    if (!viewer) return;
    const ScreenViewRequest request = ReadShowMe(fields, m_currentServerIP(), m_context.PublicIP);
    auto* window = new frmRemote(m_context, m_windows, std::move(viewer), m_hooks, m_owner.data());
    m_window = window;
    window->Controller().Run(request);  // the window, and this host, may be gone when it returns
}

void ScreenViewHost::StopShowMe() {
    CloseWindow();
}

}  // namespace pelio::session
