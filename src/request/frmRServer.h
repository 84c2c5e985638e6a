#pragma once

#include "app/AppContext.h"
#include "request/AgentListRules.h"
#include "request/EntryWindowSeam.h"
#include "request/OpenWindows.h"
#include "session/SessionSeam.h"
#include "session/SessionView.h"

#include <QColor>
#include <QIcon>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

class QCheckBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QStatusBar;
class QTreeWidget;
class QTreeWidgetItem;

namespace pelio::platform {
struct Services;
}
namespace pelio::util {
class HtmlView;
}
namespace pelio::history {
class frmPlay;
}
namespace pelio::session {
class frmConnected;
class frmOnSupport;
}  // namespace pelio::session

namespace pelio::request {

// The program's main window, its agent-list side: the company's notice, its agents with their
// availability, the request text the customer prepares for the agent, the refresh, the history and
// home-page links. It lives for the whole run; closing it closes every other window of the program
// and emits closed(), upon which the program ends.
//
// The window owns the session object and calls it for the connect button, a manual connection and
// when closing. It opens the customer entry window through openEntry at its first activation when
// the company code or the phone number is missing. The list, refresh and start-up rules are
// AgentListRules'; the window passes its controls' events to them and shows what they report. The
// caller keeps the context and the services for the window's life.
class frmRServer : public QWidget, private AgentListRules::View, private session::SessionView {
    Q_OBJECT

  public:
    // Makes the window's session, which reaches the window through the view it is given.
    using SessionFactory = std::function<std::unique_ptr<session::SessionSeam>(session::SessionView& view)>;

    frmRServer(app::AppContext& context, platform::Services& services, const SessionFactory& makeSession,
               EntryOpener openEntry, QWidget* parent = nullptr);
    ~frmRServer() override;

    // The window title: "Pelio 원격지원 고객용", then " [" + DeptCode + "]" when there is a company code,
    // then " - " + text when text is not empty.
    void SetStatus(const QString& text) override;
    // Closes every other window of the program, from the last opened to the first.
    void CloseOtherWindows();

    bool bConnected() const { return m_session->bConnected(); }
    // The manual connection address (empty in list mode).
    QString TempServerIP() const { return m_rules.TempServerIP(); }
    int TempServerPort() const { return m_rules.TempServerPort(); }

    // Item data of lvList: the tag (public + "," + local address) and the agent's index in the rules.
    static constexpr int kTagRole = Qt::UserRole;
    static constexpr int kIndexRole = Qt::UserRole + 1;
    // Whether the agent of the item is greyed (not available, or a connection to it failed).
    static constexpr int kGreyRole = Qt::UserRole + 2;
    // The agent's key pin from the service (empty: the service does not vouch for the agent).
    static constexpr int kPinRole = Qt::UserRole + 3;
    // The hidden column with the agent's port.
    static constexpr int kPortColumn = 3;

    // The request text file beside the program.
    QString RequestFilePath() const;

  signals:
    // The window has closed and run its closing steps.
    void closed();

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void BuildControls();
    void LoadRequestText();
    void SetRequestText(const QString& text);
    void FitTitle();
    void OnConnectClicked();
    void OnReviewClicked();
    void OnNoticeLoaded(bool ok);
    void OnListSelectionChanged();
    void OnColumnClicked(int column);
    QTreeWidgetItem* SelectedItem() const;
    void RunClosingSteps();

    // AgentListRules::View
    void Inform(const QString& text) override;
    bool AskYesNo(const QString& text) override;
    EntryOutcome OpenEntryWindow() override;
    void ShowNotice(const web::ServicePageRequest& page) override;
    void ShowAgents(const QList<web::AgentRecord>& records) override;
    QList<int> AgentsInListOrder() override;
    void SelectAgent(int index) override;
    void ShowGuidance(AgentListRules::Guidance guidance) override;
    void ShowAgentLine(const QString& text) override;
    void SetConnectEnabled(bool enabled) override;
    void ShowCooldown(bool cooling) override;
    void ShowReady() override;
    void CloseWindow() override;

    // session::SessionView (Inform, AskYesNo, SetStatus and CloseWindow above serve both)
    void SetWaitCursor(bool waiting) override;
    void EnableControl(session::SessionControl control, bool enabled) override;
    bool HasSelectedAgent() const override;
    bool SelectedAgentGreyed() const override;
    void SetSelectedAgentStatus(const QString& text, bool grey) override;
    void ShowConnectedTime(const QString& text) override;
    void MarkRequestTextSent() override;
    void ShowConnectedNotice() override;
    void CloseConnectedNotice() override;
    void ShowOnSupport() override;
    void CloseOnSupport() override;
    void ShowLinkSecurity(const QString& text) override;
    void ShowRedialling(bool redialling) override;
    void RestoreAndActivate() override;
    void SetNormalState() override;
    void Minimize() override;
    void Beep() override;
    QWidget* OwnerWindow() override { return this; }

    app::AppContext& m_context;
    platform::Services& m_services;
    std::unique_ptr<session::SessionSeam> m_session;
    EntryOpener m_openEntry;
    web::ServiceRoots m_roots;
    AgentListRules m_rules;
    OpenWindows m_openWindows;
    bool m_closed = false;
    bool m_loadingFallback = false;
    qreal m_titlePointSize = 0;
    QIcon m_listIcon;       // the agents' icon
    QColor m_requestColor;  // the colour of a request text

    QLabel* m_imgTop = nullptr;
    QLabel* m_lblTitle = nullptr;
    QLabel* m_lblHome = nullptr;
    util::HtmlView* m_web = nullptr;
    QLabel* m_label1 = nullptr;
    QTreeWidget* m_lvList = nullptr;
    QPlainTextEdit* m_txtStartMent = nullptr;
    QPushButton* m_cmdConnect = nullptr;
    QPushButton* m_cmdRefresh = nullptr;
    QPushButton* m_cmdReview = nullptr;
    QPushButton* m_cmdExit = nullptr;
    QPushButton* m_cmdEnd = nullptr;
    QPushButton* m_cmdChat = nullptr;
    QPushButton* m_cmdExplorer = nullptr;
    QCheckBox* m_chkClipboard = nullptr;
    QLabel* m_lblTime = nullptr;
    QPointer<session::frmConnected> m_connectedNotice;
    QPointer<session::frmOnSupport> m_onSupport;
    bool m_redialling = false;  // the indicator says that the link is being dialled again
    QString m_linkSecurity;     // how the session's link is protected, for the windows above
    QStatusBar* m_statusBar = nullptr;
    QTimer m_timer2;
    QPointer<history::frmPlay> m_review;
};

}  // namespace pelio::request
