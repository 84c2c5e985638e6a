// The entry and manual connection windows through their named controls, against the reference
// service on 127.0.0.1.
#include "ReferenceService.h"
#include "platform/FakeServices.h"
#include "request/frmConfirm.h"
#include "request/frmIP.h"
#include "support/AccessibleNames.h"
#include "support/ScriptedMessageBoxes.h"
#include "support/Wait.h"
#include "util/core/IniFile.h"
#include "util/core/SettingsKeys.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <QTimer>

using namespace pelio;
using request::frmConfirm;
using request::frmIP;
using test::ScriptedMessageBoxes;
namespace settings = util::settings;

namespace {

constexpr int kDeadlineMs = 20000;

template <typename T>
T* Control(QWidget* window, const char* name) {
    T* c = window->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(c, nullptr) << name;
    return c;
}

void Click(QWidget* window, const char* name) {
    QTest::mouseClick(Control<QPushButton>(window, name), Qt::LeftButton);
}

// Runs act on the manual connection window once the entry window has shown it modally.
void WhenManualWindowShows(QWidget* owner, std::function<void(frmIP*)> act) {
    auto* poll = new QTimer(owner);
    poll->setInterval(10);
    QObject::connect(poll, &QTimer::timeout, owner, [poll, owner, act = std::move(act)] {
        frmIP* manual = owner->findChild<frmIP*>();
        if (!manual || !manual->isVisible()) return;
        poll->stop();
        poll->deleteLater();
        act(manual);
    });
    poll->start();
}

class frmConfirmTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        const QByteArray data = QStringLiteral(R"({
          "pages": { "firewall": "<html><body>방화벽 안내</body></html>" },
          "companies": { "1234": { "status": "1", "name": "펠리오 상사", "reason": "" } }
        })")
                                    .toUtf8();
        service = new tools::ReferenceService(QJsonDocument::fromJson(data).object());
        port = service->Start();
    }
    static void TearDownTestSuite() {
        delete service;
        service = nullptr;
    }
    static inline tools::ReferenceService* service = nullptr;
    static inline int port = 0;

    test::TempFolder tmp;
    app::AppContext context;
    platform::FakeServices fakes;
    ScriptedMessageBoxes boxes;
    std::unique_ptr<frmConfirm> window;

    void SetUp() override {
        ASSERT_NE(port, 0);
        context.AppFolder = tmp.path();
        context.IniFile = tmp.file(QStringLiteral("PelioRS.ini"));
        context.HistoryFolder = tmp.file(QStringLiteral("원격지원 받은 이력"));
        context.MachineCode = QStringLiteral("MC1");
        context.Platform = &fakes.services;
        UseService(port);
    }
    void UseService(int servicePort) {
        settings::Write(context.IniFile, settings::ServiceRoot,
                        QStringLiteral("http://127.0.0.1:%1/").arg(servicePort));
    }
    QString Stored(const settings::Key& key) const { return settings::Read(context.IniFile, key); }

    void Open() {
        window = std::make_unique<frmConfirm>(context, fakes.services);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }
    template <typename T>
    T* Control(const char* name) {
        return ::Control<T>(window.get(), name);
    }
};

}  // namespace

TEST_F(frmConfirmTest, CommandLineCodeIsLockedAndAnAcceptedCodeClosesTheWindow) {
    settings::Write(context.IniFile, settings::MyName, QStringLiteral("김고객"));
    context.CommandText = QStringLiteral("1234/Co");
    context.DeptCode = QStringLiteral("1234");
    context.DeptName = QStringLiteral("Co");
    Open();

    EXPECT_EQ(test::ControlsWithoutAccessibleName(window.get()), QStringList());
    auto* code = Control<QComboBox>("cboDeptCode");
    EXPECT_FALSE(code->isEnabled());
    EXPECT_FALSE(Control<QPushButton>("cboDel")->isEnabled());
    EXPECT_EQ(code->currentText(), QStringLiteral("1234"));
    EXPECT_EQ(Control<QLabel>("lblDeptName")->text(), QStringLiteral("Co"));
    auto* phone = Control<QLineEdit>("txtPhone");
    EXPECT_EQ(window->focusWidget(), phone);

    // Leaving the phone box for OK tidies it; the accepted code closes the window.
    QSignalSpy finished(window.get(), &QDialog::finished);
    QTest::keyClicks(phone, QStringLiteral("010/1234:5678"));
    Click(window.get(), "cmdOK");
    ASSERT_TRUE(test::WaitFor([&] { return finished.count() == 1; }, kDeadlineMs));
    EXPECT_TRUE(window->IsChanged);
    EXPECT_FALSE(window->ConnectNow);
    EXPECT_EQ(context.DeptName, QStringLiteral("펠리오 상사"));
    EXPECT_EQ(context.CustomerPhone, QStringLiteral("010-1234-5678"));
    EXPECT_EQ(Stored(settings::MyPhone), QStringLiteral("010-1234-5678"));
}

TEST_F(frmConfirmTest, UnreachableServiceOffersTheManualWindowAndTheEntryWindowStaysUsable) {
    QTcpServer closed;  // a port of this machine that nothing listens on
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const int closedPort = closed.serverPort();
    closed.close();
    UseService(closedPort);
    Open();

    // The history button opens the viewer, which has nothing to show and says so.
    boxes.Answer(util::MsgAnswer::Ok);
    Click(window.get(), "cmdReview");
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, QStringLiteral("지원이력이 하나도 없습니다."));
    window->activateWindow();  // no window manager here to give the focus back
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));

    QTest::keyClicks(Control<QComboBox>("cboDeptCode"), QStringLiteral("5678"));
    Control<QLineEdit>("txtName")->setFocus();
    EXPECT_EQ(fakes.inputMode->calls, QStringList{QStringLiteral("hangul")});
    Control<QLineEdit>("txtName")->setText(QStringLiteral("홍길동"));
    QTest::keyClicks(Control<QLineEdit>("txtPhone"), QStringLiteral("0212345678"));

    // Given up after typing: the entry window stays open and usable, the texts are kept for next time.
    boxes.Answer(util::MsgAnswer::Ok);
    WhenManualWindowShows(window.get(), [](frmIP* manual) {
        EXPECT_EQ(test::ControlsWithoutAccessibleName(manual), QStringList());
        QTest::keyClicks(::Control<QLineEdit>(manual, "txtIP"), QStringLiteral("10.0.0.7"));
        QTest::keyClicks(::Control<QLineEdit>(manual, "txtPort"), QStringLiteral("59x"));
        Click(manual, "cmdCancel");
    });
    Click(window.get(), "cmdOK");
    ASSERT_EQ(boxes.boxes().size(), 2u);
    EXPECT_TRUE(boxes.boxes()[1].text.startsWith(QStringLiteral("인터넷 연결이 원활하지 않거나")));
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->isEnabled());
    EXPECT_TRUE(Control<QPushButton>("cmdOK")->isEnabled());

    // Again: the manual window shows the kept texts, refuses the port, then hands the address over.
    boxes.Answer(util::MsgAnswer::Ok).Answer(util::MsgAnswer::Ok);
    QSignalSpy finished(window.get(), &QDialog::finished);
    WhenManualWindowShows(window.get(), [this](frmIP* manual) {
        auto* portBox = ::Control<QLineEdit>(manual, "txtPort");
        EXPECT_EQ(::Control<QLineEdit>(manual, "txtIP")->text(), QStringLiteral("10.0.0.7"));
        EXPECT_EQ(portBox->text(), QStringLiteral("59x"));
        Click(manual, "cmdOK");
        ASSERT_EQ(boxes.boxes().size(), 4u);
        EXPECT_EQ(boxes.boxes()[3].text, QStringLiteral("상담원이 알려준 포트번호를 올바로 입력하십시오."));
        EXPECT_TRUE(manual->isVisible());
        portBox->setText(QStringLiteral("5900"));
        Click(manual, "cmdOK");
    });
    Click(window.get(), "cmdOK");
    ASSERT_TRUE(test::WaitFor([&] { return finished.count() == 1; }, kDeadlineMs));
    EXPECT_TRUE(window->IsChanged);
    EXPECT_TRUE(window->ConnectNow);
    EXPECT_EQ(window->ServerIP, QStringLiteral("10.0.0.7"));
    EXPECT_EQ(window->ServerPort, 5900);
    EXPECT_EQ(Stored(settings::LastPort), QStringLiteral("5900"));
}
