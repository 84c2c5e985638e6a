// The customer's windows of the built program against the reference service with the demo data, under
// a private X server: the agent list from the command line, the entry window, a refused code, the
// manual address when the service is down, and the details remembered for the next start. Keys are
// typed with xdotool; message boxes go to the program's message log.
#include "ProgramOnDisplay.h"

#include <gtest/gtest.h>

using namespace pelio::test;

namespace {

class RequestOnDisplay : public ProgramOnDisplay {
  protected:
    QJsonObject ServiceData() override {
        return pelio::tools::ReferenceService::LoadData(QStringLiteral(PELIO_SERVICE_DEMO_DATA));
    }

    // Starts the program with the request folder's diagnostics on its standard error.
    QProcess& StartLogged(const QStringList& args) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_LOGGING_RULES"),
                   QStringLiteral("pelio.request.info=true\npelio.session.info=true"));
        return Start(args, env);
    }

    static bool Log(QProcess& program, QByteArray& log, const char* line) {
        log += program.readAllStandardError();
        return log.contains(line);
    }
};

}  // namespace

TEST_F(RequestOnDisplay, CodeAndPhoneOnTheCommandLineShowTheListAndTheNotice) {
    QProcess& program = StartLogged({QStringLiteral("1234/My+Company/홍길동/010-1234-5678")});
    QByteArray log;
    ASSERT_TRUE(WaitFor([&] { return Log(program, log, "agent list filled 2"); }, kWindowWaitMs))
        << log.constData();
    EXPECT_EQ(TitleCount(kMainTitle1234), 1);
    EXPECT_EQ(TitleCount(kEntryTitle), 0);
    // The service was asked for the list of 1234 and the notice was posted with its code.
    bool listAsked = false, noticePosted = false;
    ASSERT_TRUE(WaitFor(
        [&] {
            for (const auto& r : service->Requests()) {
                listAsked = listAsked || (r.target.contains(QStringLiteral("getagents.php")) &&
                                          r.target.contains(QStringLiteral("deptcode=1234")));
                noticePosted = noticePosted ||
                               (r.method == QStringLiteral("POST") &&
                                r.target.contains(QStringLiteral("q=remotenotice")) && r.body == "id=1234");
            }
            return listAsked && noticePosted;
        },
        kWindowWaitMs))
        << "list asked " << listAsked << ", notice posted " << noticePosted;
}

TEST_F(RequestOnDisplay, EntryWindowRefusesAStoppedCodeAndRemembersTheDetails) {
    AddSettings(QStringLiteral("[Settings]\r\nMyName=Hong\r\n"));
    QProcess& program = Start({QStringLiteral("7777/Stopped")});  // a code, no phone
    ASSERT_TRUE(WaitFor([&] { return TitleCount(kEntryTitle) == 1; }, kWindowWaitMs));
    // The phone box, the empty one, has the focus: type the phone and confirm.
    ASSERT_TRUE(Focus(kEntryTitle));
    ASSERT_TRUE(Xdo({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("20"),
                     QStringLiteral("0101234567")}));
    ASSERT_TRUE(Xdo({QStringLiteral("key"), QStringLiteral("Return")}));
    ASSERT_TRUE(
        WaitFor([&] { return Messages().contains(QStringLiteral("해당 회사코드(7777, 중지된 회사)")); },
                kWindowWaitMs))
        << Messages().toStdString();
    EXPECT_EQ(TitleCount(kEntryTitle), 1);  // the window stays for another try
    EXPECT_EQ(program.state(), QProcess::Running);

    // Giving up ends the program; what was typed is kept for the next start.
    ASSERT_TRUE(Focus(kEntryTitle));
    ASSERT_TRUE(Xdo({QStringLiteral("key"), QStringLiteral("Escape")}));
    ASSERT_TRUE(WaitFor([&] { return program.state() == QProcess::NotRunning; }, kWindowWaitMs));
    const QString settings = Settings();
    EXPECT_TRUE(settings.contains(QStringLiteral("LastDeptCode=7777"))) << settings.toStdString();
    EXPECT_TRUE(settings.contains(QStringLiteral("MyName=Hong")));
    EXPECT_TRUE(settings.contains(QStringLiteral("MyPhone=010-123-4567")) ||
                settings.contains(QStringLiteral("MyPhone=0101234567")))
        << settings.toStdString();
    EXPECT_TRUE(settings.contains(QStringLiteral("CodeHistory=7777#;#")));
    EXPECT_TRUE(settings.contains(QStringLiteral("7777=중지된 회사")));
}

TEST_F(RequestOnDisplay, ADownServiceLeadsToTheManualAddressWhichReachesTheSession) {
    service->Stop();  // nothing answers at the service's address any more
    AddSettings(
        QStringLiteral("[Settings]\r\nMyName=Hong\r\nMyPhone=010-1111-2222\r\nLastIP=10.20.30.40\r\n"
                       "LastPort=5900\r\n"));
    QProcess& program = StartLogged({QStringLiteral("1234/Co")});
    ASSERT_TRUE(WaitFor([&] { return TitleCount(kEntryTitle) == 1; }, kWindowWaitMs));
    ASSERT_TRUE(Focus(kEntryTitle));
    ASSERT_TRUE(Xdo({QStringLiteral("key"), QStringLiteral("Return")}));
    // The customer is told, then asked for the address the agent reads out (here the last one kept).
    ASSERT_TRUE(WaitFor([&] { return TitleCount(kManualTitle) == 1; }, kWindowWaitMs))
        << Messages().toStdString();
    EXPECT_TRUE(Messages().contains(QStringLiteral("Pelio 서버에 일시적으로 접속할 수 없습니다")));
    ASSERT_TRUE(Focus(kManualTitle));
    ASSERT_TRUE(Xdo({QStringLiteral("key"), QStringLiteral("Return")}));
    QByteArray log;
    EXPECT_TRUE(WaitFor([&] { return Log(program, log, "OpenSession 10.20.30.40 5900"); }, kWindowWaitMs))
        << log.constData();
}
