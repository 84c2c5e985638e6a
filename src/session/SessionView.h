// What the support session asks of the agent list window, which hosts it: its controls, its title,
// the customer's questions and the two small windows shown while a session runs.
#pragma once

#include <QString>
#include <QtGlobal>

class QWidget;

namespace pelio::session {

// The controls of the agent list window that the session switches on and off.
enum class SessionControl { Connect, End, Chat, Refresh, List };

class SessionView {
  public:
    virtual ~SessionView() = default;

    // Message boxes (information; question with Yes and No).
    virtual void Inform(const QString& text) = 0;
    virtual bool AskYesNo(const QString& text) = 0;
    // The window title: the program's title, the company code and the text (see SetStatus).
    virtual void SetStatus(const QString& text) = 0;
    virtual void SetWaitCursor(bool waiting) = 0;
    virtual void EnableControl(SessionControl control, bool enabled) = 0;

    // The agent selected in the list: whether there is one, whether it is greyed (not available),
    // and its status column, which the session rewrites (greying the agent when asked).
    virtual bool HasSelectedAgent() const = 0;
    virtual bool SelectedAgentGreyed() const = 0;
    virtual void SetSelectedAgentStatus(const QString& text, bool grey) = 0;

    // The connected time, for instance "2분 5초".
    virtual void ShowConnectedTime(const QString& text) = 0;
    // The request box's text turns black once it has gone to the agent.
    virtual void MarkRequestTextSent() = 0;

    // "연결되었습니다." (owned by the window) and the on-support indicator (topmost, unowned).
    virtual void ShowConnectedNotice() = 0;
    virtual void CloseConnectedNotice() = 0;
    virtual void ShowOnSupport() = 0;
    virtual void CloseOnSupport() = 0;
    // How the link to the agent is protected, in words: on the connected notice and as the on-support
    // indicator's tooltip (kept for the windows shown later in the session); empty clears it.
    virtual void ShowLinkSecurity(const QString& text) = 0;
    // The link to the agent was lost and is being dialled again: the on-support indicator says so
    // until it is called with false (the title is set through SetStatus).
    virtual void ShowRedialling(bool redialling) { Q_UNUSED(redialling); }

    virtual void RestoreAndActivate() = 0;
    virtual void SetNormalState() = 0;
    virtual void Minimize() = 0;
    virtual void Beep() = 0;
    // Closes the window, which ends the program.
    virtual void CloseWindow() = 0;

    // The window itself, as the owner of the windows the session opens; null for none.
    virtual QWidget* OwnerWindow() { return nullptr; }
};

}  // namespace pelio::session
