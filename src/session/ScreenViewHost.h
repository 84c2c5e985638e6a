// The screen view as the session sees it: "showme" closes the window that is open, opens a new
// frmRemote owned by the agent list window and runs its connection procedure; "stopshowme" closes
// the window. At most one window is open at a time.
//
// ShowMe returns when the view is connected, has given up, or its window has closed meanwhile; other
// session messages (among them another "showme" or "stopshowme") may be handled while it waits. A
// "showme" handled during that wait replaces the view being connected; the first call opens it once
// its own wait has returned.
#pragma once

#include "session/ScreenViewController.h"
#include "session/SessionPeers.h"

#include <QPointer>

#include <functional>
#include <memory>
#include <optional>

class QWidget;

namespace pelio::app {
struct AppContext;
}
namespace pelio::components {
class ViewerComponent;
}
namespace pelio::platform {
class WindowManager;
}

namespace pelio::session {

class frmRemote;

class ScreenViewHost : public ScreenViewPeer {
  public:
    using ViewerFactory = std::function<std::unique_ptr<components::ViewerComponent>()>;

    // currentServerIP: the address the session reached the agent at; owner: the agent list window
    // (null for none). The caller keeps the context and the window manager.
    ScreenViewHost(app::AppContext& context, platform::WindowManager& windows, ViewerFactory makeViewer,
                   ScreenViewController::Hooks hooks, std::function<QString()> currentServerIP,
                   QWidget* owner);
    ~ScreenViewHost() override;

    void ShowMe(const ShowMeFields& fields) override;
    void StopShowMe() override;

    // The open window, or null.
    frmRemote* Window() const;

    // Whether the view shares the clipboard with the agent's screen: the open view's and the next.
    void SetClipboardSharing(bool on);

  private:
    void CloseWindow();

    app::AppContext& m_context;
    platform::WindowManager& m_windows;
    ViewerFactory m_makeViewer;
    ScreenViewController::Hooks m_hooks;
    std::function<QString()> m_currentServerIP;
    QPointer<QWidget> m_owner;
    QPointer<frmRemote> m_window;
    std::optional<ShowMeFields> m_pending;
    bool m_connecting = false;
    bool m_clipboardSharing = true;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

}  // namespace pelio::session
