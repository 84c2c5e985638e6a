// The agent list's rules without widgets: a view that records what it is told, a scripted service.
#include "RecordingSession.h"
#include "app/AppContext.h"
#include "platform/FakeServices.h"
#include "request/AgentListRules.h"

#include <gtest/gtest.h>

#include <QRegularExpression>

#include <deque>

using namespace pelio;
using request::AgentListRules;
using web::AgentListOutcome;
using web::AgentListReply;
using web::AgentRecord;

namespace {

const QString kAvailable = web::AvailableStatus;
const QString kBusy = QStringLiteral("상담중");

AgentRecord Agent(const QString& name, const QString& status, const QString& info = QString()) {
    return AgentRecord{
        name, status, QStringLiteral("1.2.3.4"), QStringLiteral("5900"), QStringLiteral("10.0.0.7"), info};
}

AgentListReply Listed(const QList<AgentRecord>& agents) {
    return AgentListReply{AgentListOutcome::Listed, agents, QStringLiteral("...")};
}

class RecordingView : public AgentListRules::View {
  public:
    QStringList calls;
    std::deque<bool> answers;
    request::EntryOutcome entry;
    std::function<void()> duringEntry;
    AgentListRules* rules = nullptr;
    qsizetype shown = 0;

    void Inform(const QString& text) override {
        calls << QStringLiteral("inform:") + text.section(u' ', 0, 0);
    }
    bool AskYesNo(const QString&) override {
        calls << QStringLiteral("ask");
        const bool yes = !answers.empty() && answers.front();
        if (!answers.empty()) answers.pop_front();
        return yes;
    }
    request::EntryOutcome OpenEntryWindow() override {
        calls << QStringLiteral("entry");
        if (duringEntry) duringEntry();
        return entry;
    }
    void ShowNotice(const web::ServicePageRequest& page) override {
        calls << QStringLiteral("notice:") + page.FormBody;
    }
    void ShowAgents(const QList<AgentRecord>& records) override {
        shown = records.size();
        calls << QStringLiteral("agents:%1").arg(shown);
    }
    QList<int> AgentsInListOrder() override {
        QList<int> order;
        for (int i = 0; i < shown; ++i) order << i;
        return order;
    }
    void SelectAgent(int index) override { calls << QStringLiteral("select:%1").arg(index); }
    void ShowGuidance(AgentListRules::Guidance g) override {
        calls << (g == AgentListRules::Guidance::ChooseAgent ? QStringLiteral("choose")
                                                             : QStringLiteral("none"));
    }
    void ShowAgentLine(const QString& text) override { calls << QStringLiteral("line:") + text; }
    void SetConnectEnabled(bool on) override {
        calls << (on ? QStringLiteral("connect:on") : QStringLiteral("connect:off"));
    }
    void ShowCooldown(bool on) override {
        calls << (on ? QStringLiteral("cool:on") : QStringLiteral("cool:off"));
    }
    void ShowReady() override { calls << QStringLiteral("ready"); }
    void CloseWindow() override {
        calls << QStringLiteral("close");
        rules->Closing();
    }
};

class AgentListRulesTest : public ::testing::Test {
  protected:
    app::AppContext context;
    platform::FakeServices fakes;
    test::RecordingSession session;
    RecordingView view;
    std::deque<AgentListReply> replies;
    std::function<void()> duringFetch;
    int fetches = 0;
    AgentListRules rules{context,
                         session,
                         *fakes.clock,
                         *fakes.inputMode,
                         view,
                         web::ServiceRoots{QStringLiteral("http://s/"), QStringLiteral("http://ip/")},
                         [this](const QString&) {
                             ++fetches;
                             if (duringFetch) duringFetch();
                             AgentListReply reply = replies.empty() ? AgentListReply{} : replies.front();
                             if (!replies.empty()) replies.pop_front();
                             return reply;
                         }};

    void SetUp() override {
        view.rules = &rules;
        context.DeptCode = QStringLiteral("1234");
        context.CustomerName = QStringLiteral("홍길동");
        context.CustomerPhone = QStringLiteral("010-1234-5678");
    }
};

}  // namespace

TEST(AgentListRules, SelectionPassesPreferTheAgentWhoMentionsTheCustomer) {
    const QString name = QStringLiteral("Kim Cheolsu");
    const QString phone = QStringLiteral("010-1234-5678");
    const auto selectFor = [](const QList<AgentRecord>& agents, const QString& n, const QString& p) {
        QList<int> order;
        for (int i = 0; i < agents.size(); ++i) order << i;
        return AgentListRules::SelectAfterLoad(agents, order, n, p);
    };
    const auto select = [&](const QList<AgentRecord>& agents) { return selectFor(agents, name, phone); };
    const AgentRecord a = Agent(QStringLiteral("A"), kBusy, QStringLiteral("고객 ") + phone);
    const AgentRecord b = Agent(QStringLiteral("B"), kAvailable);
    const AgentRecord c = Agent(QStringLiteral("C"), kAvailable, QStringLiteral("고객 ") + phone);
    EXPECT_EQ(select({a, b, c}), 2);
    EXPECT_EQ(select({a, b, Agent(QStringLiteral("C"), kAvailable, QStringLiteral("다른 고객"))}), 1);
    EXPECT_EQ(select({a, Agent(QStringLiteral("B"), kBusy)}), -1);
    // Without regard to case; the last mention in the list's order wins.
    const AgentRecord d = Agent(QStringLiteral("D"), kAvailable, QStringLiteral("KIM CHEOLSU"));
    EXPECT_EQ(select({b, c, d}), 2);
    EXPECT_EQ(AgentListRules::SelectAfterLoad({b, c, d}, {2, 1, 0}, name, phone), 1);
    // An empty name or phone is contained in every non-empty Info, never in an empty one.
    EXPECT_EQ(
        selectFor({b, Agent(QStringLiteral("E"), kAvailable, QStringLiteral("x")), b}, QString(), phone), 1);
    EXPECT_EQ(selectFor({b, b}, QString(), QString()), 0);
}

TEST_F(AgentListRulesTest, LoadShowsTheChosenAgentOrSaysWhyThereIsNone) {
    replies = {Listed({Agent(QStringLiteral("A"), kBusy), Agent(QStringLiteral("B"), kAvailable),
                       Agent(QStringLiteral("C"), kAvailable, QStringLiteral("홍길동 고객"))}),
               Listed({Agent(QStringLiteral("A"), kBusy)}),
               AgentListReply{AgentListOutcome::ServerFault, {}, QStringLiteral("-999")}};
    rules.Refresh();
    EXPECT_EQ(view.calls,
              (QStringList{QStringLiteral("cool:on"), QStringLiteral("notice:id=1234"),
                           QStringLiteral("agents:0"), QStringLiteral("connect:off"),
                           QStringLiteral("agents:3"), QStringLiteral("select:2"), QStringLiteral("choose"),
                           QStringLiteral("line:[C] 홍길동 고객"), QStringLiteral("connect:on")}));

    // A busy agent chosen by hand: its status on the line, no connection.
    view.calls.clear();
    rules.ChooseAgent(0);
    EXPECT_EQ(view.calls, (QStringList{QStringLiteral("line:[A] 상담중"), QStringLiteral("connect:off")}));
    // While connected the connect button is the session's.
    session.connected = true;
    view.calls.clear();
    rules.ChooseAgent(1);
    EXPECT_EQ(view.calls, QStringList{QStringLiteral("line:[B] 지원가능")});
    session.connected = false;

    fakes.clock->Advance(request::kRefreshCooldownMs);
    rules.Tick();
    view.calls.clear();
    rules.Refresh();
    EXPECT_EQ(view.calls.mid(4), (QStringList{QStringLiteral("agents:1"), QStringLiteral("none")}));

    fakes.clock->Advance(request::kRefreshCooldownMs);
    rules.Tick();
    view.calls.clear();
    rules.Refresh();
    EXPECT_EQ(view.calls.mid(4), QStringList{QStringLiteral("inform:서버에")});
    EXPECT_TRUE(rules.Agents().isEmpty());
}

TEST_F(AgentListRulesTest, CooldownEndsOnTheClockButNeverDuringALoad) {
    replies = {Listed({Agent(QStringLiteral("B"), kAvailable)})};
    rules.Refresh();
    fakes.clock->Advance(request::kRefreshCooldownMs - 1);
    rules.Tick();
    EXPECT_TRUE(rules.CoolingDown());
    fakes.clock->Advance(1);
    rules.Tick();
    EXPECT_FALSE(rules.CoolingDown());
    EXPECT_EQ(view.calls.back(), QStringLiteral("cool:off"));

    // A slow reply: the timer's ticks and the refresh button pressed during it change nothing, and the
    // list is filled once.
    replies = {Listed({Agent(QStringLiteral("B"), kAvailable), Agent(QStringLiteral("C"), kAvailable)})};
    duringFetch = [&] {
        fakes.clock->Advance(5000);
        rules.Tick();
        EXPECT_TRUE(rules.CoolingDown());
        rules.Refresh();
    };
    view.calls.clear();
    rules.Refresh();
    EXPECT_EQ(fetches, 2);
    EXPECT_EQ(view.calls.filter(QStringLiteral("agents:")),
              (QStringList{QStringLiteral("agents:0"), QStringLiteral("agents:2")}));
    EXPECT_FALSE(rules.CoolingDown());  // the load took longer than the cool-down
}

TEST_F(AgentListRulesTest, ActivationWithTheDetailsGivenRefreshesOnceWithoutAsking) {
    rules.Activate();  // the reply is empty: nothing listed
    EXPECT_EQ(fakes.inputMode->calls.value(0), QStringLiteral("hangul"));
    EXPECT_EQ(fetches, 1);
    EXPECT_TRUE(view.calls.filter(QStringLiteral("ask")).isEmpty());
    EXPECT_TRUE(view.calls.filter(QStringLiteral("entry")).isEmpty());
    EXPECT_EQ(view.calls.back(), QStringLiteral("ready"));
    EXPECT_EQ(rules.CurrentState(), AgentListRules::State::Ready);
    rules.Activate();
    EXPECT_EQ(fetches, 1);
}

TEST_F(AgentListRulesTest, ActivationThroughTheEntryWindow) {
    context.CustomerPhone.clear();
    // Given up: the window closes without a request.
    view.entry = {};
    rules.Activate();
    EXPECT_EQ(view.calls, (QStringList{QStringLiteral("entry"), QStringLiteral("close")}));
    EXPECT_EQ(fetches, 0);

    // Confirmed, the list stays empty: retry on Yes, close on No.
    AgentListRules retry(context, session, *fakes.clock, *fakes.inputMode, view, {}, [this](const QString&) {
        ++fetches;
        return AgentListReply{AgentListOutcome::ServerFault, {}, {}};
    });
    view.rules = &retry;
    view.calls.clear();
    view.entry = {true, false, {}, 0};
    view.answers = {true, false};
    fetches = 0;
    retry.Activate();
    EXPECT_EQ(fetches, 2);
    EXPECT_EQ(view.calls.filter(QRegularExpression(QStringLiteral("^(ask|inform|close|ready)"))),
              (QStringList{QStringLiteral("inform:서버에"), QStringLiteral("ask"),
                           QStringLiteral("inform:서버에"), QStringLiteral("ask"), QStringLiteral("close")}));

    // A manual address: connected at once, no list; a failed connection closes the window.
    for (const bool connects : {true, false}) {
        AgentListRules manual(context, session, *fakes.clock, *fakes.inputMode, view, {}, {});
        view.rules = &manual;
        view.calls.clear();
        view.entry = {true, true, QStringLiteral("10.0.0.5"), 5901};
        session.openResult = connects;
        manual.Activate();
        EXPECT_EQ(session.calls.takeLast(), QStringLiteral("OpenSession 10.0.0.5 5901"));
        EXPECT_EQ(view.calls.last(), connects ? QStringLiteral("ready") : QStringLiteral("close"));
        EXPECT_EQ(manual.TempServerIP(), QStringLiteral("10.0.0.5"));
        view.calls.clear();
        manual.Refresh();
        manual.ChooseAgent(-1);
        EXPECT_EQ(view.calls, connects ? QStringList{QStringLiteral("inform:상담원")} : QStringList());
    }
}

TEST_F(AgentListRulesTest, ClosingDuringARequestStopsTheSequence) {
    context.CustomerPhone.clear();
    view.entry = {true, false, {}, 0};
    duringFetch = [&] { rules.Closing(); };
    rules.Activate();
    EXPECT_EQ(fetches, 1);
    EXPECT_EQ(view.calls.last(), QStringLiteral("connect:off"));  // nothing after the request
    EXPECT_EQ(rules.CurrentState(), AgentListRules::State::Closed);
}

TEST(AgentListRules, RequestTextIsKeptWhenLongerThanTenAndDroppedAfterLongSessions) {
    using Action = AgentListRules::RequestFileAction;
    // Characters, not bytes.
    EXPECT_EQ(AgentListRules::RequestFileOnClose(0, QStringLiteral("화면이멈춰요도와주세")), Action::Keep);
    EXPECT_EQ(AgentListRules::RequestFileOnClose(0, QStringLiteral("화면이멈춰요도와주세요")), Action::Write);
    EXPECT_EQ(AgentListRules::RequestFileOnClose(0, QStringLiteral("0123456789")), Action::Keep);
    EXPECT_EQ(AgentListRules::RequestFileOnClose(200, QStringLiteral("01234567890")), Action::Write);
    EXPECT_EQ(AgentListRules::RequestFileOnClose(0, request::kRequestHint), Action::Keep);
    EXPECT_EQ(AgentListRules::RequestFileOnClose(201, QStringLiteral("01234567890")), Action::Delete);
    EXPECT_EQ(AgentListRules::RequestFileOnClose(201, QString()), Action::Delete);
}
