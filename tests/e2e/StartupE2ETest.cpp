// The built program under a private X server and the reference service: first window, single-instance
// test, "review".
#include "ReferenceService.h"
#include "support/ScriptedMessageBoxes.h"
#include "support/XvfbDisplay.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>

#include <tuple>

using pelio::test::TempFolder;
using pelio::test::WaitFor;
using pelio::test::XvfbDisplay;

namespace {

const QString kMainTitle = QStringLiteral("Pelio 원격지원 고객용");
// The main window's title names the company code.
const QString kMainTitle1234 = kMainTitle + QStringLiteral(" [1234]");
const QString kReviewTitle = QStringLiteral("원격지원 내역 다시 보기");
constexpr int kWindowWaitMs = 30000;

QJsonObject ServiceData() {
    QJsonArray agents;
    for (const char* name : {"Kim", "Lee"})
        agents << QJsonObject{
            {"name", name},   {"status", QStringLiteral("지원가능")}, {"publicAddress", "127.0.0.1"},
            {"port", "5900"}, {"localAddress", "127.0.0.1"},          {"info", ""}};
    return {{"companies", QJsonObject{{"1234", QJsonObject{{"status", "1"}, {"agents", agents}}}}}};
}

class ProgramOnDisplay : public ::testing::Test {
  protected:
    XvfbDisplay display;
    pelio::tools::ReferenceService service{ServiceData()};
    TempFolder programFolder;  // the program runs from here, so its files stay in the test's folder
    TempFolder home;
    QString exe = programFolder.file(QStringLiteral("pelio"));
    QString messageLog = home.file(QStringLiteral("messages.log"));
    std::vector<std::unique_ptr<QProcess>> processes;

    void SetUp() override {
        if (!display.ok()) GTEST_SKIP() << "Xvfb could not start";
        ASSERT_TRUE(QFile::copy(QStringLiteral(PELIO_EXECUTABLE), exe));
        // The program asks the reference service, through the settings file beside it.
        const int port = service.Start();
        ASSERT_GT(port, 0);
        QFile ini(programFolder.file(QStringLiteral("PelioRS.ini")));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write(QStringLiteral("[Service]\r\nServiceRoot=http://127.0.0.1:%1/\r\n").arg(port).toUtf8());
    }

    void TearDown() override {
        for (auto& p : processes) {
            p->kill();
            p->waitForFinished(5000);
        }
    }

    QProcess& Start(const QStringList& args,
                    QProcessEnvironment env = QProcessEnvironment::systemEnvironment()) {
        auto p = std::make_unique<QProcess>();
        env.insert(QStringLiteral("DISPLAY"), display.name());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.file(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), home.file(QStringLiteral("data")));
        env.insert(QStringLiteral("PELIO_MESSAGE_LOG"), messageLog);
        p->setProcessEnvironment(env);
        p->setProgram(exe);
        p->setArguments(args);
        p->start();
        processes.push_back(std::move(p));
        return *processes.back();
    }

    int TitleCount(const QString& title) const {
        return static_cast<int>(display.WindowTitles().count(title));
    }

    QString Messages() const {
        QFile f(messageLog);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }
};

}  // namespace

TEST_F(ProgramOnDisplay, SecondCopyIsRefusedWhileTheFirstShowsItsWindowButReviewStarts) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("pelio.request.info=true"));
    QProcess& first = Start({QStringLiteral("1234/My+Company/홍길동/010-1234-5678")}, env);
    ASSERT_TRUE(WaitFor([&] { return TitleCount(kMainTitle1234) == 1; }, kWindowWaitMs));
    // The agent list window loaded the company's two agents.
    QByteArray log;
    ASSERT_TRUE(WaitFor([&] { return (log += first.readAllStandardError()).contains("agent list filled 2"); },
                        kWindowWaitMs));

    QProcess& second = Start({QStringLiteral("\"5678/Other\"")});
    ASSERT_TRUE(WaitFor([&] { return second.state() == QProcess::NotRunning; }, kWindowWaitMs));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(Messages(),
              QStringLiteral("1\tPelio원격\tPelio 원격지원 고객용 프로그램이 이미 실행 중입니다.\n"));
    EXPECT_EQ(TitleCount(kMainTitle1234), 1);

    // The history viewer stays open once the history holds a company folder.
    ASSERT_TRUE(QDir().mkpath(programFolder.file(QStringLiteral("원격지원 받은 이력/1234-Co"))));
    QProcess& review = Start({QStringLiteral("REVIEW")});
    EXPECT_TRUE(WaitFor([&] { return TitleCount(kReviewTitle) == 1; }, kWindowWaitMs));
    EXPECT_EQ(review.state(), QProcess::Running);
    EXPECT_EQ(TitleCount(kMainTitle1234), 1);
    EXPECT_EQ(Messages().count(u'\n'), 1);  // no further message
}

TEST_F(ProgramOnDisplay, AnotherProgramsWindowWithTheTitleDoesNotStopStartUp) {
    display.CreateForeignWindow(QStringLiteral("Pelio 원격지원 고객용 - 설명서"));
    Start({QStringLiteral("1234/Co/홍길동/010-1234-5678")});
    EXPECT_TRUE(WaitFor([&] { return TitleCount(kMainTitle1234) == 1; }, kWindowWaitMs));
    EXPECT_TRUE(Messages().isEmpty());
    // The program made its history folder beside itself.
    EXPECT_TRUE(QFileInfo(programFolder.file(QStringLiteral("원격지원 받은 이력"))).isDir());
}

TEST_F(ProgramOnDisplay, ReviewOfAnEmptyHistoryTellsTheCustomerAndEnds) {
    QProcess& review = Start({QStringLiteral("review")});
    ASSERT_TRUE(WaitFor([&] { return review.state() == QProcess::NotRunning; }, kWindowWaitMs));
    EXPECT_EQ(review.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(review.exitCode(), 0);
    EXPECT_EQ(Messages(), QStringLiteral("1\tPelio원격\t지원이력이 하나도 없습니다.\n"));
}

TEST_F(ProgramOnDisplay, StartsWithoutBrowserEngineSettingsAndKeepsTheConsoleQuiet) {
    // A customer's shell sets none of the browser engine's variables and may run the program as root;
    // the test's own environment sets them, so they are taken away here.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name :
         {"QTWEBENGINE_DISABLE_SANDBOX", "QTWEBENGINE_CHROMIUM_FLAGS", "XDG_RUNTIME_DIR", "QT_LOGGING_RULES"})
        env.remove(QString::fromLatin1(name));
    ASSERT_TRUE(QDir().mkpath(programFolder.file(QStringLiteral("원격지원 받은 이력/1234-Co"))));
    QProcess& review = Start({QStringLiteral("review")}, env);
    ASSERT_TRUE(WaitFor([&] { return TitleCount(kReviewTitle) == 1; }, kWindowWaitMs));
    // The browser engine runs: its helper process is a child of the program.
    const auto engineRuns = [&] {
        QFile children(QStringLiteral("/proc/%1/task/%1/children").arg(review.processId()));
        if (!children.open(QIODevice::ReadOnly)) return false;
        for (const QByteArray& pid : children.readAll().split(' ')) {
            QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(QString::fromLatin1(pid.trimmed())));
            if (cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().contains("QtWebEngineProcess"))
                return true;
        }
        return false;
    };
    ASSERT_TRUE(WaitFor(engineRuns, kWindowWaitMs));
    EXPECT_EQ(review.state(), QProcess::Running);
    EXPECT_EQ(review.readAllStandardError(), QByteArray());
    EXPECT_EQ(review.readAllStandardOutput(), QByteArray());
}

TEST(ProgramOptions, HelpVersionAndUnknownOptionsNeedNoDisplay) {
    const auto run = [](const QStringList& args) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(PELIO_EXECUTABLE), args);
        EXPECT_TRUE(p.waitForFinished(30000));
        return std::make_tuple(p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
                               QString::fromUtf8(p.readAllStandardError()));
    };
    const auto [helpCode, helpOut, helpErr] = run({QStringLiteral("--help")});
    EXPECT_EQ(helpCode, 0);
    EXPECT_TRUE(helpOut.startsWith(QStringLiteral("사용법: pelio "))) << helpOut.toStdString();
    EXPECT_TRUE(helpErr.isEmpty());
    const auto [versionCode, versionOut, versionErr] = run({QStringLiteral("--version")});
    EXPECT_EQ(versionCode, 0);
    EXPECT_EQ(versionOut, QStringLiteral("pelio %1\n").arg(QStringLiteral(PELIO_VERSION)));
    // An option is never taken for a company's command line, wherever it stands.
    const auto [badCode, badOut, badErr] = run({QStringLiteral("1234/Co"), QStringLiteral("--1234/Co")});
    EXPECT_EQ(badCode, 2);
    EXPECT_TRUE(badOut.isEmpty());
    EXPECT_TRUE(badErr.contains(QStringLiteral("--1234/Co")));
    EXPECT_TRUE(badErr.contains(QStringLiteral("사용법:")));
}
