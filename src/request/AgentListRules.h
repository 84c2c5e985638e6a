#pragma once

#include "request/EntryWindowSeam.h"
#include "web/ServiceEndpoints.h"

#include <QList>
#include <QString>
#include <QtGlobal>

#include <functional>

namespace pelio::app {
struct AppContext;
}
namespace pelio::platform {
class Clock;
class InputMode;
}  // namespace pelio::platform

namespace pelio::session {
class SessionSeam;
}

namespace pelio::request {

// The hint in the request text box while the customer has typed nothing.
inline const QString kRequestHint = QStringLiteral(
    "(시간 절약을 위해) 지원요청 시 상담원에게 전송할 문의 내용을 미리 입력해 둘 수 있습니다.");
// The guidance over the agent list while an agent is selected.
inline const QString kChooseAgentText =
    QStringLiteral("상태가 \"지원가능\" 표시된 상담원을 선택 후 [지원요청]을 누르세요.");
inline const QString kNoAgentAvailableText =
    QStringLiteral("현재 지원가능 상담원이 없습니다. 잠시 후 [새로고침] 단추를 눌러 보세요.");

// How long the refresh button stays off after a refresh.
inline constexpr qint64 kRefreshCooldownMs = 3000;
// A request text is kept for the next run only when longer than this, and only while the customer's
// sessions of the run took no longer than kRequestKeptUpToSeconds.
inline constexpr int kRequestMinimumLength = 10;
inline constexpr qint64 kRequestKeptUpToSeconds = 200;

// The rules of the agent list window, without widgets: the first activation with the customer
// entry window, the refresh and its cool-down, loading the agent list with its two selection passes,
// what selecting an agent shows, and what becomes of the request text on closing.
//
// The window passes its events to the transitions below and shows what the rules tell its View. The
// rules keep the agents of the last load, in reply order; the View's list refers to them by index.
// The caller keeps the context, the session, the clock, the input mode and the view for the rules'
// life.
//
// State       reached by                  what happens in it
// Loaded      construction                nothing yet; Activate starts the sequence
// Activating  the first Activate          the sequence runs; it waits in the modal windows and in the
//                                         requests, while the window's events (Refresh, Tick,
//                                         ChooseAgent) run
// Ready       the end of the sequence     Refresh, Tick and ChooseAgent as the customer acts
// Closed      Closing, from any state     nothing: a sequence under way stops at its next step
//
// A refresh is also "loading" while its request runs; a second refresh then does nothing, and the
// cool-down does not end before the load has.
class AgentListRules {
  public:
    enum class State { Loaded, Activating, Ready, Closed };
    enum class Guidance { ChooseAgent, NoneAvailable };
    enum class RequestFileAction { Keep, Write, Delete };

    // The agent list of a company code: the service's reply, fetched while window events run.
    using AgentListFetch = std::function<web::AgentListReply(const QString& companyCode)>;

    // What the window shows and does.
    class View {
      public:
        virtual ~View() = default;
        // Message boxes: information with OK; question with Yes and No (true for Yes).
        virtual void Inform(const QString& text) = 0;
        virtual bool AskYesNo(const QString& text) = 0;
        // Runs the customer entry window modally.
        virtual EntryOutcome OpenEntryWindow() = 0;
        // Shows the page in the notice browser.
        virtual void ShowNotice(const web::ServicePageRequest& page) = 0;
        // Replaces the list's items by one item per record (index i for records[i]), each greyed when
        // the agent is not available; an empty list clears it. Nothing is selected afterwards.
        virtual void ShowAgents(const QList<web::AgentRecord>& records) = 0;
        // The record indices of the items in the order the list shows them (it may be sorted).
        virtual QList<int> AgentsInListOrder() = 0;
        virtual void SelectAgent(int index) = 0;
        virtual void ShowGuidance(Guidance guidance) = 0;
        // The status line under the list.
        virtual void ShowAgentLine(const QString& text) = 0;
        virtual void SetConnectEnabled(bool enabled) = 0;
        // cooling: the refresh button goes off and the window's one-second timer starts (its ticks
        // call Tick). Not cooling: the timer stops and the refresh button takes the list's enabled
        // state.
        virtual void ShowCooldown(bool cooling) = 0;
        // The end of the first activation: the window's title, the focus in the list, the input mode
        // and the caption with the company name.
        virtual void ShowReady() = 0;
        // Closes the window (which then calls Closing).
        virtual void CloseWindow() = 0;
    };

    AgentListRules(app::AppContext& context, session::SessionSeam& session, const platform::Clock& clock,
                   platform::InputMode& inputMode, View& view, web::ServiceRoots roots, AgentListFetch fetch);

    State CurrentState() const { return m_state; }

    // The window was activated: the first time runs the start-up sequence, later times do nothing.
    // Without a company code or phone number it opens the entry window, which may end the window
    // (the customer gave up, or a manual connection failed), give a manual address (connect there)
    // or confirm the details (refresh, and ask to retry while the list stays empty). With both it
    // refreshes once. Then ShowReady.
    void Activate();

    // The refresh button: in manual mode a message; otherwise starts the cool-down, shows the
    // company's notice and loads the list (see State for a refresh under way).
    void Refresh();
    // The window's one-second timer: ends the cool-down once kRefreshCooldownMs have passed on the
    // clock since the refresh, and its load has ended.
    void Tick();
    bool CoolingDown() const { return m_cooling; }

    // An agent was selected in the list (index into Agents()), or none (-1, also for an item that is
    // no agent): the status line and the connect button, unless in manual mode.
    void ChooseAgent(int index);

    // The window is closing: every sequence under way stops.
    void Closing();
    // What becomes of the request text file on closing.
    static RequestFileAction RequestFileOnClose(qint64 connectedSeconds, const QString& requestText);

    // A connection to the agent at `index` is being made or failed (greyed): the agent cannot be chosen
    // again until the next load, or until the connection came up (not greyed).
    void MarkGreyed(int index, bool greyed = true);

    // The agents of the last load, in reply order, and whether each is shown greyed.
    const QList<web::AgentRecord>& Agents() const { return m_agents; }
    bool IsGreyed(int index) const;

    // The manual connection address; a non-empty address means the window works without a list.
    const QString& TempServerIP() const { return m_tempServerIP; }
    int TempServerPort() const { return m_tempServerPort; }
    bool IsManual() const { return !m_tempServerIP.isEmpty(); }

    // The selection passes of a load. The first available agent in reply order; then, over the list
    // order, the last available agent whose Info contains the customer's name or phone (without
    // regard to case; an empty name or phone is contained in every non-empty Info). -1 for none.
    static int SelectAfterLoad(const QList<web::AgentRecord>& agents, const QList<int>& listOrder,
                               const QString& customerName, const QString& customerPhone);

  private:
    void LoadList();
    bool Closed() const { return m_state == State::Closed; }

    app::AppContext& m_context;
    session::SessionSeam& m_session;
    const platform::Clock& m_clock;
    platform::InputMode& m_inputMode;
    View& m_view;
    web::ServiceRoots m_roots;
    AgentListFetch m_fetch;

    State m_state = State::Loaded;
    QList<web::AgentRecord> m_agents;
    QList<bool> m_greyed;
    bool m_loading = false;
    bool m_cooling = false;
    qint64 m_refreshedAt = 0;
    QString m_tempServerIP;
    int m_tempServerPort = 0;
};

}  // namespace pelio::request
