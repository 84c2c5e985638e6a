// The screen-view window: shows the agent's screen in the viewer RV, which fills the window's inner
// area, while the agent shows it ("showme" to "stopshowme"). Its rules are ScreenViewController's;
// the window gives the controller its controls: the title, Timer1 and Timer2 (100 ms each), the
// placement, the message box and the viewer.
//
// The window is a top-level window owned by the agent list window, and deletes itself when closed.
#pragma once

#include "session/ScreenViewController.h"

#include <QTimer>
#include <QWidget>

#include <memory>

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

class frmRemote : public QWidget, private ScreenViewController::Surface {
    Q_OBJECT
  public:
    // Takes the viewer; owner is the agent list window (may be null in tests).
    frmRemote(app::AppContext& context, platform::WindowManager& windows,
              std::unique_ptr<components::ViewerComponent> viewer, ScreenViewController::Hooks hooks,
              QWidget* owner = nullptr);
    ~frmRemote() override;

    ScreenViewController& Controller() { return m_controller; }
    components::ViewerComponent* RV() const { return m_rv; }

    // The public members the "showme" procedure sets and reads.
    QString AgentName() const { return m_controller.AgentName(); }
    bool bOperable() const { return m_controller.bOperable(); }
    bool ConnectCancel() const { return m_controller.ConnectCancel(); }

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    // ScreenViewController::Surface
    void Place() override;
    void Show() override;
    void SetTitle(const QString& title) override;
    void SetTimer1(bool on) override;
    void SetTimer2(bool on) override;
    void Repaint() override;
    void Center() override;
    bool IsForeground() const override;
    void Inform(const QString& text) override;
    void Close() override;
    void ViewerSetFlags(bool flag1, bool flag2) override;
    void ViewerSetAccessCode(const QString& code) override;
    void ViewerConnect(const QString& address, int port) override;
    bool ViewerIsConnected() const override;
    void ViewerSetAllowControl(bool allow) override;
    void ViewerSetWindowActive(bool active) override;
    void ViewerShutdown() override;
    void ViewerDisconnect() override;

    app::AppContext& m_context;
    platform::WindowManager& m_windows;
    components::ViewerComponent* m_rv;
    QTimer m_timer1;
    QTimer m_timer2;
    ScreenViewController m_controller;
};

}  // namespace pelio::session
