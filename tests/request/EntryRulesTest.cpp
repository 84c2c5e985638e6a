// The entry and manual-address rules without widgets: a recording view and a canned code check.
#include "app/AppContext.h"
#include "request/EntryRules.h"
#include "request/ManualAddressRules.h"
#include "support/ScriptedMessageBoxes.h"
#include "util/core/IniFile.h"
#include "util/core/SettingsKeys.h"

#include <gtest/gtest.h>

#include <deque>

using namespace pelio;
using request::EntryField;
using request::EntryRules;
using request::ManualAddress;
namespace settings = util::settings;

namespace {

class RecordingView : public EntryRules::View {
  public:
    QStringList history;
    QString code, company, name, phone;
    bool locked = false, okEnabled = false, busy = false;
    std::optional<EntryField> focus;
    QStringList told;
    std::deque<ManualAddress> addresses;  // answers of the manual window; given up when none is left
    int closes = 0;
    EntryRules* rules = nullptr;

    void ShowHistory(const QStringList& codes) override { history = codes; }
    void ShowCode(const QString& text) override { code = text; }
    void LockCode() override { locked = true; }
    void ShowCompanyName(const QString& text) override { company = text; }
    void ShowName(const QString& text) override { name = text; }
    void ShowPhone(const QString& text) override { phone = text; }
    void EnableOk(bool enabled) override { okEnabled = enabled; }
    void Focus(EntryField field) override { focus = field; }
    void Tell(const QString& message) override { told << message; }
    void SetBusy(bool on) override { busy = on; }
    std::optional<ManualAddress> AskManualAddress() override {
        if (addresses.empty()) return std::nullopt;
        const ManualAddress answer = addresses.front();
        addresses.pop_front();
        return answer;
    }
    void CloseWindow() override {
        ++closes;
        rules->Close();
    }
};

class EntryRulesTest : public ::testing::Test {
  protected:
    test::TempFolder tmp;
    app::AppContext context;
    RecordingView view;
    QStringList urls;
    QString reply = QStringLiteral("1#;#펠리오 상사#;#");
    std::function<void()> duringCheck;
    std::unique_ptr<EntryRules> rules;

    void SetUp() override {
        context.IniFile = tmp.file(QStringLiteral("PelioRS.ini"));
        context.MachineCode = QStringLiteral("MC1");
        settings::Write(context.IniFile, settings::ServiceRoot, QStringLiteral("http://svc.test/"));
    }
    QString Stored(const settings::Key& key) const { return settings::Read(context.IniFile, key); }
    QString DeptInfo(const QString& code) const {
        return util::IniRead(context.IniFile, settings::kDeptInfoSection, code);
    }

    void Open() {
        rules = std::make_unique<EntryRules>(context, view, [this](const QString& url, double) {
            urls << url;
            EXPECT_TRUE(view.busy);
            if (duringCheck) duringCheck();
            return reply;
        });
        view.rules = rules.get();
        rules->Load();
        rules->Activate();
    }
    void Type(const QString& code, const QString& name, const QString& phone) {
        rules->CodeEdited(code);
        rules->NameEdited(name);
        rules->PhoneEdited(phone);
    }
};

}  // namespace

TEST_F(EntryRulesTest, ChecksTheTrimmedCodeAndSendsTheCleanedNameAndPhone) {
    Open();
    EXPECT_EQ(view.focus, EntryField::Code);
    EXPECT_FALSE(view.okEnabled);
    Type(QStringLiteral("  ab12 "), QStringLiteral("홍 길동, 과장"), QStringLiteral("02/123:4567"));
    EXPECT_TRUE(view.okEnabled);
    rules->Confirm();

    EXPECT_EQ(
        urls,
        QStringList{QStringLiteral("http://svc.test/pelio/pg/checkcodes.php?deptcode=ab12&customerid=MC1")});
    EXPECT_EQ(context.DeptCode, QStringLiteral("ab12"));
    EXPECT_EQ(context.CustomerName, QStringLiteral("홍길동과장"));
    EXPECT_EQ(context.CustomerPhone, QStringLiteral("021234567"));
    EXPECT_EQ(context.DeptName, QStringLiteral("펠리오 상사"));
    EXPECT_EQ(DeptInfo(QStringLiteral("ab12")), QStringLiteral("펠리오 상사"));
    EXPECT_FALSE(view.busy);
    EXPECT_EQ(view.closes, 1);
    EXPECT_TRUE(rules->IsChanged());
    // Listed as checked, without the blanks; the box's text and the other boxes stored as typed.
    EXPECT_EQ(Stored(settings::CodeHistory), QStringLiteral("ab12#;#"));
    EXPECT_EQ(Stored(settings::MyName), QStringLiteral("홍 길동, 과장"));
    EXPECT_EQ(Stored(settings::MyPhone), QStringLiteral("02/123:4567"));

    // The company name of a code used before shows as the code is typed.
    EntryRules again(context, view);
    again.CodeEdited(QStringLiteral("AB12"));
    EXPECT_EQ(view.company, QStringLiteral("펠리오 상사"));
    again.CodeEdited(QString());
    EXPECT_TRUE(view.company.isEmpty());
}

TEST_F(EntryRulesTest, BadEntriesAreToldWithoutAskingTheService) {
    Open();
    auto expectTold = [&](const QString& start, EntryField field) {
        rules->Confirm();
        ASSERT_FALSE(view.told.isEmpty());
        EXPECT_TRUE(view.told.takeLast().startsWith(start)) << start.toStdString();
        EXPECT_EQ(view.focus, field);
    };
    Type(QStringLiteral("   "), QStringLiteral("김"), QStringLiteral("02"));
    EXPECT_TRUE(view.okEnabled);  // the raw code text counts for the button
    expectTold(QStringLiteral("지원을 받고자 하는 회사의 회사코드를"), EntryField::Code);
    Type(QStringLiteral("회사"), QStringLiteral("김"), QStringLiteral("02"));
    expectTold(QStringLiteral("회사코드가 잘못되었습니다."), EntryField::Code);
    Type(QStringLiteral("1234"), QStringLiteral(" , ,/: "), QStringLiteral("02"));
    EXPECT_TRUE(view.okEnabled);
    expectTold(QStringLiteral("상담원이 고객님을 구별할 수 있도록 성함을"), EntryField::Name);
    Type(QStringLiteral("1234"), QStringLiteral("김"), QStringLiteral(" /,: "));
    expectTold(QStringLiteral("상담원이 고객님을 구별할 수 있도록 전화번호를 입력해 주십시오.\r\n\r\n만약"),
               EntryField::Phone);
    EXPECT_TRUE(urls.isEmpty());

    // Leaving the phone box keeps the digits and hyphenates them.
    rules->PhoneEdited(QStringLiteral("010/1234:5678"));
    rules->PhoneLeft();
    EXPECT_EQ(view.phone, QStringLiteral("010-1234-5678"));
}

TEST_F(EntryRulesTest, OutcomesOfTheCodeCheck) {
    Open();
    Type(QStringLiteral("7777"), QStringLiteral("김"), QStringLiteral("02"));
    reply = QStringLiteral("-999");
    rules->Confirm();
    ASSERT_EQ(view.told.size(), 1);
    EXPECT_TRUE(view.told[0].startsWith(QStringLiteral("회사코드를 잘못 입력하셨거나")));
    EXPECT_EQ(view.focus, EntryField::Code);

    reply = QStringLiteral("-777#;#Co#;#");
    rules->Confirm();
    ASSERT_EQ(view.told.size(), 2);
    EXPECT_EQ(view.told[1],
              QStringLiteral(
                  "다음과 같은 사유로 해당 회사코드(7777, Co)의 원격지원 서비스를 요청할 수 없습니다.\r\n\r\n"
                  "원격지원 불가 사유 : 귀하의 컴퓨터는 알 수 없는 이유로 원격지원 요청을 할 수 없는 "
                  "상태입니다.\r\n\r\n이 문제를 해결하려면 [Co] 회사로 직접 전화하셔서 문제를 해결하시기 "
                  "바랍니다."));

    // Out of reach: the code stands for the company; the manual window given up keeps the window open,
    // and the next try can hand over an address.
    reply.clear();
    rules->Confirm();
    ASSERT_EQ(view.told.size(), 3);
    EXPECT_TRUE(view.told[2].startsWith(QStringLiteral("인터넷 연결이 원활하지 않거나")));
    EXPECT_EQ(DeptInfo(QStringLiteral("7777")), QStringLiteral("7777"));
    EXPECT_EQ(view.closes, 0);
    view.addresses.push_back(ManualAddress{QStringLiteral("1.2.3.4"), 5900});
    rules->Confirm();
    EXPECT_EQ(view.closes, 1);
    EXPECT_TRUE(rules->IsChanged());
    EXPECT_TRUE(rules->ConnectNow());
    EXPECT_EQ(rules->Address().ServerIP, QStringLiteral("1.2.3.4"));
    EXPECT_EQ(rules->Address().ServerPort, 5900);
}

TEST_F(EntryRulesTest, CloseDuringTheCheckWaitsForTheAnswerAndActsOnNothing) {
    Open();
    Type(QStringLiteral("1234"), QStringLiteral("김"), QStringLiteral("02"));
    duringCheck = [&] {
        EXPECT_FALSE(rules->Close());
        rules->Confirm();  // a second press while busy asks nothing
    };
    rules->Confirm();
    EXPECT_EQ(urls.size(), 1);
    EXPECT_EQ(view.closes, 1);
    EXPECT_EQ(rules->CurrentState(), EntryRules::State::Closed);
    EXPECT_FALSE(rules->IsChanged());
    EXPECT_EQ(Stored(settings::CodeHistory), QStringLiteral("1234#;#"));
}

TEST_F(EntryRulesTest, CommandLineCodeIsLockedAndRestartShowsTheLastCode) {
    settings::Write(context.IniFile, settings::MyName, QStringLiteral("김고객"));
    settings::Write(context.IniFile, settings::LastDeptCode, QStringLiteral("9876"));
    context.CommandText = QStringLiteral("1234/Co");
    context.DeptCode = QStringLiteral("1234");
    context.DeptName = QStringLiteral("Co");
    Open();
    EXPECT_EQ(view.code, QStringLiteral("1234"));
    EXPECT_TRUE(view.locked);
    EXPECT_EQ(view.company, QStringLiteral("Co"));
    EXPECT_EQ(view.name, QStringLiteral("김고객"));
    EXPECT_TRUE(view.phone.isEmpty());
    EXPECT_EQ(view.focus, EntryField::Phone);
    EXPECT_TRUE(view.okEnabled);
    rules->DeleteCode();  // the launcher's code stays
    EXPECT_EQ(view.code, QStringLiteral("1234"));

    for (const QString& command : {QStringLiteral("/RESTART"), QStringLiteral("//홍길동/010")}) {
        RecordingView other;
        app::AppContext restarted;
        restarted.IniFile = context.IniFile;
        restarted.CommandText = command;
        EntryRules rules2(restarted, other);
        rules2.Load();
        rules2.Activate();
        EXPECT_EQ(other.code, QStringLiteral("9876")) << command.toStdString();
        EXPECT_FALSE(other.locked);
    }
}

TEST_F(EntryRulesTest, HistoryKeepsTenMovesAReusedCodeUpAndForgetsADeletedOne) {
    QStringList codes;
    for (int i = 0; i < 10; ++i) codes << QStringLiteral("c%1").arg(i);
    settings::Write(context.IniFile, settings::CodeHistory,
                    codes.join(QStringLiteral("#;#")) + QStringLiteral("#;#"));
    request::CodeHistory history = request::CodeHistory::Load(context.IniFile);
    history.Use(QStringLiteral("C5"));
    EXPECT_EQ(history.Items().size(), 10);
    EXPECT_EQ(history.Items().first(), QStringLiteral("C5"));
    EXPECT_EQ(history.Items().count(QStringLiteral("c5")), 0);
    history.Use(QStringLiteral("new"));
    history.Save(context.IniFile);
    const QStringList stored = Stored(settings::CodeHistory).split(QStringLiteral("#;#"), Qt::SkipEmptyParts);
    EXPECT_EQ(stored.size(), 10);
    EXPECT_EQ(stored.mid(0, 3),
              (QStringList{QStringLiteral("new"), QStringLiteral("C5"), QStringLiteral("c0")}));
    EXPECT_FALSE(stored.contains(QStringLiteral("c9")));

    // Deleted, then the window cancelled: gone from the stored list, and no last code.
    settings::Write(context.IniFile, settings::LastDeptCode, QStringLiteral("C0"));
    Open();
    EXPECT_EQ(view.code, QStringLiteral("C0"));
    EXPECT_EQ(view.history, stored);
    rules->DeleteCode();
    EXPECT_TRUE(view.code.isEmpty());
    EXPECT_FALSE(view.history.contains(QStringLiteral("c0")));
    rules->Close();
    EXPECT_FALSE(Stored(settings::CodeHistory).contains(QStringLiteral("c0")));
    EXPECT_TRUE(Stored(settings::LastDeptCode).isEmpty());
}

TEST(ManualAddressRules, AddressAndPortChecks) {
    using request::ManualAddressRules;
    test::TempFolder tmp;
    ManualAddressRules rules(tmp.file(QStringLiteral("PelioRS.ini")));
    EXPECT_EQ(rules.Confirm(QStringLiteral(" 1.2.3.4 "), QStringLiteral(" 5900")).problem,
              ManualAddressRules::Field::None);
    EXPECT_TRUE(rules.IsChanged());
    EXPECT_EQ(rules.ServerIP(), QStringLiteral("1.2.3.4"));
    EXPECT_EQ(rules.ServerPort(), 5900);

    const ManualAddressRules::Verdict twoDots =
        rules.Confirm(QStringLiteral("1.2.3"), QStringLiteral("5900"));
    EXPECT_EQ(twoDots.problem, ManualAddressRules::Field::Address);
    EXPECT_EQ(twoDots.message, QStringLiteral("상담원이 알려준 IP 주소를 올바로 입력하십시오."));
    EXPECT_FALSE(rules.IsChanged());
    EXPECT_EQ(rules.Confirm(QStringLiteral("agent.support.example.com"), QStringLiteral("65535")).problem,
              ManualAddressRules::Field::None);
    for (const QString& port :
         {QString(), QStringLiteral("59a0"), QStringLiteral("0"), QStringLiteral("65536"),
          QStringLiteral("-1"), QStringLiteral("99999999999")}) {
        const ManualAddressRules::Verdict verdict = rules.Confirm(QStringLiteral("1.2.3.4"), port);
        EXPECT_EQ(verdict.problem, ManualAddressRules::Field::Port) << port.toStdString();
        EXPECT_EQ(verdict.message, QStringLiteral("상담원이 알려준 포트번호를 올바로 입력하십시오."));
    }
}
