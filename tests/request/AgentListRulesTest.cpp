// The agent list's rules without widgets: a view that records what it is told, a scripted service.
#include "RecordingSession.h"
#include "app/AppContext.h"
#include "platform/FakeServices.h"
#include "request/AgentListRules.h"

#include <gtest/gtest.h>

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
        name, status, QStringLiteral("1.2.3.4"), QStringLiteral("5900"), QStringLiteral("10.0.0.7"), info, QString()};
}

AgentListReply Listed(const QList<AgentRecord>& agents) {
    return AgentListReply{AgentListOutcome::Listed, agents, QStringLiteral("...")};
}

class RecordingView : public AgentListRules::View {
  public:
    QStringList calls;
    request::EntryOutcome entry;
    AgentListRules* rules = nullptr;
    qsizetype shown = 0;

    void Inform(const QString& text) override { calls << QStringLiteral("inform:") + text; }
    bool AskYesNo(const QString&) override {
        calls << QStringLiteral("ask");
        return false;
    }
    request::EntryOutcome OpenEntryWindow() override {
        calls << QStringLiteral("entry");
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
    void SetConnectEnabled(bool on) override { calls << QStringLiteral("connect:%1").arg(on); }
    void ShowCooldown(bool on) override { calls << QStringLiteral("cool:%1").arg(on); }
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
    AgentListRules rules{
        context, session, *fakes.clock, *fakes.inputMode, view, web::ServiceRoots{}, [this](const QString&) {
            ++fetches;
            if (duringFetch) duringFetch();
            const AgentListReply reply = replies.empty() ? AgentListReply{} : replies.front();
            if (!replies.empty()) replies.pop_front();
            return reply;
        }};

    void SetUp() override {
        view.rules = &rules;
        context.DeptCode = QStringLiteral("1234");
        context.CustomerName = QStringLiteral("홍길동");
        context.CustomerPhone = QStringLiteral("010-1234-5678");
    }
    // A refresh once the cool-down of the last one is over.
    void RefreshLater() {
        fakes.clock->Advance(request::kRefreshCooldownMs);
        rules.Tick();
        view.calls.clear();
        rules.Refresh();
    }
};

}  // namespace

TEST(AgentListRules, SelectionPassesPreferTheAgentWhoMentionsTheCustomer) {
    const QString name = QStringLiteral("Kim Cheolsu");
    const QString phone = QStringLiteral("010-1234-5678");
    const auto select = [](const QList<AgentRecord>& agents, const QString& n, const QString& p) {
        QList<int> order;
        for (int i = 0; i < agents.size(); ++i) order << i;
        return AgentListRules::SelectAfterLoad(agents, order, n, p);
    };
    const AgentRecord a = Agent(QStringLiteral("A"), kBusy, QStringLiteral("고객 ") + phone);
    const AgentRecord b = Agent(QStringLiteral("B"), kAvailable);
    const AgentRecord c = Agent(QStringLiteral("C"), kAvailable, QStringLiteral("고객 ") + phone);
    const AgentRecord d = Agent(QStringLiteral("D"), kAvailable, QStringLiteral("KIM CHEOLSU"));
    EXPECT_EQ(select({a, b, c}, name, phone), 2);
    EXPECT_EQ(
        select({a, b, Agent(QStringLiteral("C"), kAvailable, QStringLiteral("다른 고객"))}, name, phone), 1);
    EXPECT_EQ(select({a, Agent(QStringLiteral("B"), kBusy)}, name, phone), -1);
    // Without regard to case; the last mention in the list's order wins.
    EXPECT_EQ(select({b, c, d}, name, phone), 2);
    EXPECT_EQ(AgentListRules::SelectAfterLoad({b, c, d}, {2, 1, 0}, name, phone), 1);
    // An empty name or phone is contained in every non-empty Info, never in an empty one.
    EXPECT_EQ(select({b, Agent(QStringLiteral("E"), kAvailable, QStringLiteral("x")), b}, QString(), phone),
              1);
    EXPECT_EQ(select({b, b}, QString(), QString()), 0);
}

TEST_F(AgentListRulesTest, ASlowReplyKeepsTheCooldownAndASecondRefreshOutAndLongRepliesAreCut) {
    replies = {Listed({Agent(QStringLiteral("B"), kAvailable), Agent(QStringLiteral("C"), kAvailable)})};
    duringFetch = [&] {  // the timer ticks and the button is pressed while the reply is awaited
        fakes.clock->Advance(5000);
        rules.Tick();
        EXPECT_TRUE(rules.CoolingDown());
        rules.Refresh();
    };
    rules.Refresh();
    EXPECT_EQ(fetches, 1);
    EXPECT_EQ(view.calls.filter(QStringLiteral("agents:")),
              (QStringList{QStringLiteral("agents:0"), QStringLiteral("agents:2")}));
    EXPECT_FALSE(rules.CoolingDown());  // the load took longer than the cool-down

    // While connected the connect button is the session's.
    session.connected = true;
    view.calls.clear();
    rules.ChooseAgent(1);
    EXPECT_EQ(view.calls, QStringList{QStringLiteral("line:[C] 지원가능")});

    // An error page of the web server: only its start is shown.
    duringFetch = nullptr;
    replies = {AgentListReply{AgentListOutcome::NotListed, {}, QString(5000, u'x')}};
    RefreshLater();
    EXPECT_TRUE(view.calls.back().startsWith(QStringLiteral("inform:다음과 같은 이유로")));
    EXPECT_LT(view.calls.back().size(), 500);

    // Closing while the reply is awaited: nothing more is shown.
    duringFetch = [&] { rules.Closing(); };
    RefreshLater();
    EXPECT_EQ(view.calls.last(), QStringLiteral("connect:0"));
    EXPECT_EQ(rules.CurrentState(), AgentListRules::State::Closed);
}

TEST_F(AgentListRulesTest, EntryWindowGivenUpOrAManualAddress) {
    context.CustomerPhone.clear();
    rules.Activate();
    EXPECT_EQ(view.calls, (QStringList{QStringLiteral("entry"), QStringLiteral("close")}));
    EXPECT_EQ(fetches, 0);

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
        EXPECT_EQ(view.calls, connects
                                  ? QStringList{QStringLiteral("inform:상담원 정보를 볼 수 없는 상태입니다.")}
                                  : QStringList());
    }
}

TEST(AgentListRules, RequestTextIsKeptWhenLongerThanTenAndDroppedAfterLongSessions) {
    using Action = AgentListRules::RequestFileAction;
    // Characters, not bytes.
    EXPECT_EQ(AgentListRules::RequestFileOnClose(0, QStringLiteral("화면이멈춰요도와주세")), Action::Keep);
    EXPECT_EQ(AgentListRules::RequestFileOnClose(200, QStringLiteral("화면이멈춰요도와주세요")),
              Action::Write);
    EXPECT_EQ(AgentListRules::RequestFileOnClose(0, request::kRequestHint), Action::Keep);
    EXPECT_EQ(AgentListRules::RequestFileOnClose(201, QStringLiteral("01234567890")), Action::Delete);
}
