// The rules of the agent's screen view, without widgets: what a "showme" message asks for, the
// connection procedure with its 10-second limit, the window's titles, its two timers, and its state
// from the request to the close. The window (frmRemote) and its viewer are reached through Surface.
//
// One controller serves one window, from "showme" to the window's unload:
//   Connecting  the window is shown and the viewer connects (title "... 접속 시도 중...")
//   Connected   the viewer showed the agent's screen (title "... 접속됨"); control as bOperable says
//   GaveUp      no screen within 10 seconds: the next Timer1 tick reports it and closes the window
//   Closed      the window unloaded (by "stopshowme", a newer "showme", ViewClosed, the give-up report
//               or the customer); nothing more happens
#pragma once

#include "session/SessionMessages.h"

#include <QString>

#include <functional>
#include <memory>

namespace pelio::session {

// The access code the viewer connects with (the agent's screen server's password).
inline const QString kScreenAccessCode = QStringLiteral("harborclinks");
inline const QString kScreenGaveUpText = QStringLiteral("상담원 화면을 볼 수 없거나 취소되었습니다.");

// What a "showme" asks for: the agent's name, whether the customer may control the agent's screen
// (the control flag is "1"), and where the viewer connects. The address is the one the session reached
// the agent at (currentServerIP), unless that is the customer's own public address (compared without
// regard to case): then the message's address. The port always comes from the message, read as a
// decimal 32-bit integer (0 when it is none or missing); a missing address is empty.
struct ScreenViewRequest {
    QString agentName;
    bool operable = false;
    QString address;
    int port = 0;
};
ScreenViewRequest ReadShowMe(const ShowMeFields& fields, const QString& currentServerIP,
                             const QString& publicIP);

// "[" + name + "]님의 화면보기", " (제어가능)" when operable, then " - 접속 시도 중..." or " - 접속됨".
QString ScreenViewTitle(const QString& agentName, bool operable, bool connected);

class ScreenViewController {
  public:
    enum class State { Idle, Connecting, Connected, GaveUp, Closed };

    static constexpr int kTickMs = 100;         // Timer1, Timer2 and the wait of the procedure
    static constexpr qint64 kGiveUpMs = 10000;  // measured as elapsed time from the "showme"

    // The window and its viewer RV, as the controller drives them.
    class Surface {
      public:
        virtual ~Surface() = default;
        // Sizes the window to 90 % of the screen, centred (the window stores no placement).
        virtual void Place() = 0;
        // Shows the window without blocking, owned by the agent list window.
        virtual void Show() = 0;
        virtual void SetTitle(const QString& title) = 0;
        virtual void SetTimer1(bool on) = 0;
        virtual void SetTimer2(bool on) = 0;
        virtual void Repaint() = 0;
        // Horizontally centred, top at one third of the free screen height.
        virtual void Center() = 0;
        virtual bool IsForeground() const = 0;
        // The information box; other window events run while it is open.
        virtual void Inform(const QString& text) = 0;
        // Closes the window; its unload calls Unload.
        virtual void Close() = 0;

        virtual void ViewerSetFlags(bool flag1, bool flag2) = 0;  // ViewFlag1, then ViewFlag2
        virtual void ViewerSetAccessCode(const QString& code) = 0;
        virtual void ViewerConnect(const QString& address, int port) = 0;  // the third text is empty
        virtual bool ViewerIsConnected() const = 0;
        virtual void ViewerSetAllowControl(bool allow) = 0;
        virtual void ViewerSetWindowActive(bool active) = 0;
        virtual void ViewerShutdown() = 0;
        virtual void ViewerDisconnect() = 0;
    };

    struct Hooks {
        std::function<qint64()> nowMs;               // monotonic milliseconds
        std::function<void(int ms)> waitResponsive;  // waits while window events run
    };

    ScreenViewController(Surface& surface, Hooks hooks);
    ~ScreenViewController();
    ScreenViewController(const ScreenViewController&) = delete;
    ScreenViewController& operator=(const ScreenViewController&) = delete;

    // The "showme" procedure for this window, from noting the time to allowing control: shows the
    // window, connects the viewer and waits (window events run) until the agent's screen is shown, 10
    // seconds have passed (then the viewer is disconnected and ConnectCancel set), or the window has
    // closed. The controller may be gone when it returns (the window closed during the wait).
    void Run(const ScreenViewRequest& request);

    // The window's events.
    void Timer1Tick();
    void Timer2Tick();
    void OnViewConnected();
    void OnViewClosed();
    void Unload();

    State CurrentState() const { return m_state; }
    const QString& AgentName() const { return m_agentName; }
    bool bOperable() const { return m_operable; }
    // The connection attempt gave up and is not reported yet.
    bool ConnectCancel() const { return m_connectCancel; }

  private:
    void Load();

    Surface& m_surface;
    Hooks m_hooks;
    State m_state = State::Idle;
    QString m_agentName;
    bool m_operable = false;
    bool m_timer1 = false;
    bool m_connectCancel = false;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

}  // namespace pelio::session
