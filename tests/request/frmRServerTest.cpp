// The agent list window through its named controls, against the reference service on 127.0.0.1.
#include "RecordingSession.h"
#include "ReferenceService.h"
#include "platform/FakeServices.h"
#include "request/frmRServer.h"
#include "support/AccessibleNames.h"
#include "support/ScriptedMessageBoxes.h"
#include "support/Wait.h"
#include "util/core/IniFile.h"
#include "util/core/SettingsKeys.h"
#include "util/gui/HtmlView.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QJsonArray>
#include <QJsonObject>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

using namespace pelio;
using request::frmRServer;
using test::ScriptedMessageBoxes;
using test::TempFolder;
using test::WaitFor;

namespace {

constexpr int kDeadlineMs = 30000;
const QString kPhone = QStringLiteral("010-1234-5678");
const QString kLink = QStringLiteral("http://127.0.0.1:1/outside");

QJsonObject AgentJson(const char* name, const QString& status, const QString& info, const char* port) {
    return {{"name", QString::fromUtf8(name)}, {"status", status},
            {"publicAddress", "203.0.113.9"},  {"port", port},
            {"localAddress", "10.0.0.9"},      {"info", info}};
}

QJsonObject ServiceData() {
    const QString busy = QStringLiteral("상담중");
    const QString free = web::AvailableStatus;
    QJsonObject companies;
    companies["1234"] = QJsonObject{
        {"notice",
         QStringLiteral("<html><body style='margin:0'><a href='%1' style='display:block;height:80px'>"
                        "공지</a></body></html>")
             .arg(kLink)},
        {"agents",
         QJsonArray{AgentJson("A", busy, QString(), "5901"), AgentJson("B", free, QString(), "5902"),
                    AgentJson("C", free, QStringLiteral("고객 ") + kPhone, "5903")}}};
    companies["2222"] = QJsonObject{{"agents", QJsonArray{AgentJson("A", busy, QString(), "5901"),
                                                          AgentJson("D", busy, QString(), "5904")}}};
    companies["5555"] = QJsonObject{{"agentReply", "-999"}};
    return {{"companies", companies}};
}

class frmRServerTest : public ::testing::Test {
  protected:
    TempFolder tmp;
    app::AppContext context;
    platform::FakeServices fakes;
    ScriptedMessageBoxes boxes;
    tools::ReferenceService service{ServiceData()};
    test::RecordingSession* session = nullptr;    // owned by the window
    session::SessionView* sessionView = nullptr;  // the window, as the session sees it
    request::EntryOpener openEntry;
    std::unique_ptr<frmRServer> window;
    int closings = 0;  // the windows' closed() signals

    void SetUp() override {
        const int port = service.Start();
        ASSERT_GT(port, 0);
        context.AppFolder = tmp.path();
        context.IniFile = tmp.file(QStringLiteral("PelioRS.ini"));
        context.HistoryFolder = tmp.file(QStringLiteral("원격지원 받은 이력"));
        context.Platform = &fakes.services;
        context.DeptCode = QStringLiteral("1234");
        context.DeptName = QStringLiteral("펠리오 상사");
        context.CustomerName = QStringLiteral("홍길동");
        context.CustomerPhone = kPhone;
        fakes.folders->documents = tmp.file(QStringLiteral("문서"));  // not made yet
        util::settings::Write(context.IniFile, util::settings::ServiceRoot,
                              QStringLiteral("http://127.0.0.1:%1/").arg(port));
    }

    // Opens the window; with ready, waits for the end of its first activation.
    void Open(bool ready = true) {
        const frmRServer::SessionFactory makeSession = [this](session::SessionView& view) {
            sessionView = &view;
            auto recording = std::make_unique<test::RecordingSession>();
            session = recording.get();
            return recording;
        };
        window = std::make_unique<frmRServer>(context, fakes.services, makeSession, openEntry);
        QObject::connect(window.get(), &frmRServer::closed, [this] { ++closings; });
        window->show();
        if (!ready) return;  // the window may close again at once
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        ASSERT_TRUE(WaitFor([&] { return lblTitle()->toolTip().endsWith(QStringLiteral("요청합니다.")); },
                            kDeadlineMs));
    }

    template <typename T>
    T* Control(const char* name) {
        T* c = window->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(c, nullptr) << name;
        return c;
    }
    QTreeWidget* lvList() { return Control<QTreeWidget>("lvList"); }
    QLabel* lblTitle() { return Control<QLabel>("lblTitle"); }
    QLabel* label1() { return Control<QLabel>("Label1"); }
    QPushButton* cmdConnect() { return Control<QPushButton>("cmdConnect"); }
    QPushButton* cmdRefresh() { return Control<QPushButton>("cmdRefresh"); }
    QPlainTextEdit* txtStartMent() { return Control<QPlainTextEdit>("txtStartMent"); }
    QString statusLine() { return Control<QStatusBar>("StatusBar")->currentMessage(); }

    QTreeWidgetItem* Item(const QString& name) {
        const auto found = lvList()->findItems(name, Qt::MatchExactly);
        return found.size() == 1 ? found.first() : nullptr;
    }
    int AgentListRequests() const {
        int n = 0;
        for (const auto& r : service.Requests())
            n += r.target.startsWith(QStringLiteral("/pelio/pg/getagents.php"));
        return n;
    }
};

}  // namespace

TEST_F(frmRServerTest, ChoosesTheAgentWhoMentionsTheCustomerAndShowsTheNotice) {
    Open();
    EXPECT_TRUE(boxes.boxes().empty());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Pelio 원격지원 고객용 [1234]"));
    EXPECT_EQ(lblTitle()->text(), QStringLiteral("[펠리오 상사](으)로 원격지원을 요청합니다."));
    EXPECT_EQ(fakes.inputMode->calls, (QStringList{QStringLiteral("hangul"), QStringLiteral("alphanumeric"),
                                                   QStringLiteral("hangul")}));
    EXPECT_EQ(context.ReceivedFolder, tmp.file(QStringLiteral("문서/Pelio 받은파일")));
    EXPECT_TRUE(QFileInfo(context.ReceivedFolder).isDir());

    // The list: the port hidden, the busy agent greyed, C chosen.
    EXPECT_TRUE(lvList()->isColumnHidden(frmRServer::kPortColumn));
    ASSERT_EQ(lvList()->topLevelItemCount(), 3);
    EXPECT_NE(Item(QStringLiteral("A"))->foreground(0).color(),
              Item(QStringLiteral("B"))->foreground(0).color());
    ASSERT_EQ(lvList()->selectedItems(), QList<QTreeWidgetItem*>{Item(QStringLiteral("C"))});
    EXPECT_EQ(Item(QStringLiteral("C"))->data(0, frmRServer::kTagRole).toString(),
              QStringLiteral("203.0.113.9,10.0.0.9"));
    EXPECT_EQ(label1()->text(), request::kChooseAgentText);
    EXPECT_EQ(label1()->palette().color(QPalette::WindowText), QColor(0, 0, 255));
    EXPECT_EQ(statusLine(), QStringLiteral("[C] 고객 ") + kPhone);
    EXPECT_TRUE(cmdConnect()->isEnabled());

    // A column's caption sorts by it, descending first, then the other way; C stays chosen.
    QHeaderView* columns = lvList()->header();
    const auto clickColumn = [&] {
        QTest::mouseClick(columns->viewport(), Qt::LeftButton, {},
                          QPoint(columns->sectionViewportPosition(0) + 5, 5));
        return QStringList{lvList()->topLevelItem(0)->text(0), lvList()->topLevelItem(2)->text(0)};
    };
    EXPECT_EQ(clickColumn(), (QStringList{QStringLiteral("C"), QStringLiteral("A")}));
    EXPECT_EQ(clickColumn(), (QStringList{QStringLiteral("A"), QStringLiteral("C")}));
    EXPECT_EQ(lvList()->selectedItems(), QList<QTreeWidgetItem*>{Item(QStringLiteral("C"))});

    // The connect button hands the chosen agent to the session; the hint is no request text.
    QTest::mouseClick(cmdConnect(), Qt::LeftButton);
    ASSERT_EQ(session->connects.size(), 1u);
    ASSERT_TRUE(session->connects[0].Agent.has_value());
    const session::AgentChoice& agent = *session->connects[0].Agent;
    EXPECT_EQ(QStringList({agent.Name, agent.Port, agent.PublicAddress, agent.LocalAddress}),
              (QStringList{QStringLiteral("C"), QStringLiteral("5903"), QStringLiteral("203.0.113.9"),
                           QStringLiteral("10.0.0.9")}));
    EXPECT_TRUE(session->connects[0].RequestText.isEmpty());

    // A session with C that came up and ended: C may be chosen afresh and asked again.
    sessionView->SetSelectedAgentStatus(QStringLiteral("접속 중...."), true);
    sessionView->SetSelectedAgentStatus(QStringLiteral("접속되었습니다."), false);
    lvList()->setCurrentItem(Item(QStringLiteral("A")));
    lvList()->setCurrentItem(Item(QStringLiteral("C")));
    EXPECT_TRUE(cmdConnect()->isEnabled());

    // The connection failed: C is greyed and cannot be asked again, chosen afresh or not, until the
    // list is loaded again.
    sessionView->SetSelectedAgentStatus(QStringLiteral("접속 중...."), true);
    sessionView->SetSelectedAgentStatus(QStringLiteral("접속실패"), true);
    lvList()->setCurrentItem(Item(QStringLiteral("A")));
    lvList()->setCurrentItem(Item(QStringLiteral("C")));
    EXPECT_FALSE(cmdConnect()->isEnabled());

    // The notice was posted with the company code; its links open in the desktop's browser.
    auto* web = Control<util::HtmlView>("Web");
    ASSERT_TRUE(WaitFor(
        [&] { return !web->IsLoading() && web->url().toString().endsWith(QStringLiteral("remotenotice")); },
        kDeadlineMs));
    int notices = 0;
    for (const auto& r : service.Requests())
        if (r.target == QStringLiteral("/pelio/pg/redirect.php?q=remotenotice")) {
            ++notices;
            EXPECT_EQ(r.body, QByteArray("id=1234"));
        }
    EXPECT_EQ(notices, 1);
    const QUrl notice = web->url();
    QWidget* input = web->focusProxy() ? web->focusProxy() : web;
    // The page may take clicks only once it is drawn: clicked again until one arrives.
    ASSERT_TRUE(WaitFor(
        [&] {
            QTest::mouseClick(input, Qt::LeftButton, {}, QPoint(30, 30));
            return WaitFor([&] { return !fakes.shell->opened.isEmpty(); }, 500);
        },
        kDeadlineMs));
    EXPECT_EQ(fakes.shell->opened.filter(kLink), fakes.shell->opened);
    EXPECT_EQ(web->url(), notice);

    EXPECT_EQ(test::ControlsWithoutAccessibleName(window.get()), QStringList());
}

TEST_F(frmRServerTest, WithOnlyBusyAgentsNothingIsChosenAndNoneCanBeAsked) {
    context.DeptCode = QStringLiteral("2222");
    context.DeptName = QString(200, u'긴');
    Open();
    // A name too long for the title: the smallest size, then an ellipsis; the whole caption as the tip.
    EXPECT_GE(lblTitle()->font().pointSizeF(), 7);
    EXPECT_TRUE(lblTitle()->text().endsWith(u'…'));
    EXPECT_EQ(lblTitle()->toolTip(),
              u'[' + context.DeptName + QStringLiteral("](으)로 원격지원을 요청합니다."));
    ASSERT_EQ(lvList()->topLevelItemCount(), 2);
    EXPECT_TRUE(lvList()->selectedItems().isEmpty());
    EXPECT_EQ(label1()->text(), request::kNoAgentAvailableText);
    EXPECT_EQ(label1()->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    EXPECT_FALSE(cmdConnect()->isEnabled());

    QTest::mouseClick(lvList()->viewport(), Qt::LeftButton, {},
                      lvList()->visualItemRect(Item(QStringLiteral("D"))).center());
    EXPECT_EQ(statusLine(), QStringLiteral("[D] 상담중"));
    EXPECT_FALSE(cmdConnect()->isEnabled());
}

TEST_F(frmRServerTest, ServerFaultAfterTheEntryWindowAsksToRetry) {
    context.DeptCode.clear();
    int entries = 0;
    openEntry = [&](QWidget* parent) {
        ++entries;
        EXPECT_EQ(parent, window.get());
        context.DeptCode = QStringLiteral("5555");
        return request::EntryOutcome{true, false, {}, 0};
    };
    boxes.Answer(util::MsgAnswer::Ok)
        .Answer(util::MsgAnswer::Yes)
        .Answer(util::MsgAnswer::Ok)
        .Answer(util::MsgAnswer::No);
    Open(false);
    ASSERT_TRUE(WaitFor([&] { return closings == 1; }, kDeadlineMs));
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(entries, 1);
    EXPECT_EQ(AgentListRequests(), 2);
    ASSERT_EQ(boxes.boxes().size(), 4u);
    const QString fault =
        QStringLiteral(
            "서버에 장애가 있거나 알 수 없는 이유로 상담원 목록을 불러올 수 없습니다. "
            "\r\nhttp://127.0.0.1:%1/pelio/ "
            "홈페이지가 정상인지 확인 후 다시 시도해 보십시오.")
            .arg(QUrl(util::settings::Read(context.IniFile, util::settings::ServiceRoot)).port());
    EXPECT_EQ(boxes.boxes()[0].text, fault);
    EXPECT_EQ(boxes.boxes()[0].icon, util::MsgIcon::Information);
    EXPECT_TRUE(boxes.boxes()[1].text.startsWith(QStringLiteral("상담원이 하나도 없거나")));
    EXPECT_EQ(boxes.boxes()[1].buttons, util::MsgButtons::YesNo);
    EXPECT_EQ(boxes.boxes()[3].icon, util::MsgIcon::Question);
}

TEST_F(frmRServerTest, RefreshIsOffForThreeSecondsOnTheClock) {
    Open();
    auto* timer2 = Control<QTimer>("Timer2");
    timer2->setInterval(0);  // ticks as often as events run; what is due is read from the clock
    QSignalSpy ticks(timer2, &QTimer::timeout);
    fakes.clock->Advance(2999);
    ASSERT_TRUE(WaitFor([&] { return ticks.count() >= 2; }, kDeadlineMs));
    EXPECT_FALSE(cmdRefresh()->isEnabled());
    QTest::mouseClick(cmdRefresh(), Qt::LeftButton);
    EXPECT_EQ(AgentListRequests(), 1);

    fakes.clock->Advance(1);
    ASSERT_TRUE(WaitFor([&] { return cmdRefresh()->isEnabled(); }, kDeadlineMs));
    QTest::mouseClick(cmdRefresh(), Qt::LeftButton);
    EXPECT_EQ(AgentListRequests(), 2);
    EXPECT_FALSE(cmdRefresh()->isEnabled());
}

TEST_F(frmRServerTest, UnreachableServiceShowsTheReasonAndTheGrayNotice) {
    util::settings::Write(context.IniFile, util::settings::ServiceRoot,
                          QStringLiteral("http://127.0.0.1:1/"));
    boxes.Answer(util::MsgAnswer::Ok);
    Open();  // code and phone given: no retry question
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_TRUE(boxes.boxes()[0].text.endsWith(QStringLiteral("서버에서 반환된 내용 : 알 수 없음")));
    EXPECT_EQ(lvList()->topLevelItemCount(), 0);
    EXPECT_EQ(label1()->text(), request::kChooseAgentText);
    auto* web = Control<util::HtmlView>("Web");
    // Answers may come after the test: they write into shared text.
    auto text = std::make_shared<QString>();
    ASSERT_TRUE(WaitFor(
        [&] {
            web->RunDomScript(QStringLiteral("document.body ? document.body.textContent : ''"),
                              [text](const QVariant& v) { *text = v.toString(); });
            return text->contains(QStringLiteral("서버에 접속할 수 없습니다."));
        },
        kDeadlineMs));
}

TEST_F(frmRServerTest, RequestTextIsKeptForTheNextRunUntilALongSession) {
    const QString file = tmp.file(QStringLiteral("요청내용.txt"));
    Open();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    EXPECT_EQ(txtStartMent()->toPlainText(), request::kRequestHint);
    txtStartMent()->setFocus();
    EXPECT_TRUE(txtStartMent()->toPlainText().isEmpty());
    QTest::keyClicks(txtStartMent(), QStringLiteral("  "));
    lvList()->setFocus();
    EXPECT_EQ(txtStartMent()->toPlainText(), request::kRequestHint);
    txtStartMent()->setFocus();
    QTest::keyClicks(txtStartMent(), QStringLiteral("01234567890"));
    window->close();
    EXPECT_EQ(test::ReadFileBytes(file), QByteArray("01234567890"));

    // The next run shows it in blue; a run with more than 200 connected seconds removes it.
    Open();
    EXPECT_EQ(txtStartMent()->toPlainText(), QStringLiteral("01234567890"));
    EXPECT_EQ(txtStartMent()->palette().color(QPalette::Text), QColor(0, 0, 255));
    session->seconds = 201;
    session->connected = true;
    window->close();
    EXPECT_EQ(session->calls.last(), QStringLiteral("CloseSession"));
    EXPECT_FALSE(QFileInfo::exists(file));
}

TEST_F(frmRServerTest, ClipboardSharingIsToldToTheSessionAndKeptForTheNextRun) {
    Open();
    auto* share = Control<QCheckBox>("chkClipboard");
    EXPECT_TRUE(share->isChecked());
    EXPECT_EQ(session->calls, QStringList{QStringLiteral("SetClipboardSharing on")});
    share->click();
    EXPECT_EQ(session->calls.last(), QStringLiteral("SetClipboardSharing off"));
    window->close();
    Open();
    EXPECT_FALSE(Control<QCheckBox>("chkClipboard")->isChecked());
    EXPECT_EQ(session->calls, QStringList{QStringLiteral("SetClipboardSharing off")});
}

TEST_F(frmRServerTest, ClosingClosesTheOtherWindowsLastOpenedFirst) {
    ASSERT_TRUE(QDir().mkpath(context.HistoryFolder + QStringLiteral("/1234-Co")));
    Open();
    QTest::mouseClick(Control<QPushButton>("cmdReview"), Qt::LeftButton);
    const auto review = [] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->objectName() == QStringLiteral("frmPlay") && w->isVisible())
                return qobject_cast<QDialog*>(w);
        return static_cast<QDialog*>(nullptr);
    };
    ASSERT_TRUE(WaitFor([&] { return review() != nullptr; }, kDeadlineMs));
    EXPECT_FALSE(review()->isModal());
    QDialog other;
    other.show();

    QStringList order;
    QObject::connect(review(), &QDialog::finished, [&] { order << QStringLiteral("frmPlay"); });
    QObject::connect(&other, &QDialog::finished, [&] { order << QStringLiteral("other"); });
    QTest::mouseClick(Control<QPushButton>("cmdExit"), Qt::LeftButton);
    EXPECT_EQ(closings, 1);
    EXPECT_EQ(order, (QStringList{QStringLiteral("other"), QStringLiteral("frmPlay")}));
}
