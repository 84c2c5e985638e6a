// The built program under a private X server and the reference service: first window, single-instance
// test, "review".
#include "ProgramOnDisplay.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>

#include <tuple>

using namespace pelio::test;

namespace {

// Two agents of company 1234, both available.
QJsonObject TwoAgents() {
    QJsonArray agents;
    for (const char* name : {"Kim", "Lee"})
        agents << QJsonObject{
            {"name", name},   {"status", QStringLiteral("지원가능")}, {"publicAddress", "127.0.0.1"},
            {"port", "5900"}, {"localAddress", "127.0.0.1"},          {"info", ""}};
    return {{"companies", QJsonObject{{"1234", QJsonObject{{"status", "1"}, {"agents", agents}}}}}};
}

class StartupOnDisplay : public pelio::test::ProgramOnDisplay {
  protected:
    QJsonObject ServiceData() override { return TwoAgents(); }
};

}  // namespace

TEST_F(StartupOnDisplay, SecondCopyIsRefusedWhileTheFirstShowsItsWindowButReviewStarts) {
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

TEST_F(StartupOnDisplay, AnotherProgramsWindowWithTheTitleDoesNotStopStartUp) {
    display.CreateForeignWindow(QStringLiteral("Pelio 원격지원 고객용 - 설명서"));
    Start({QStringLiteral("1234/Co/홍길동/010-1234-5678")});
    EXPECT_TRUE(WaitFor([&] { return TitleCount(kMainTitle1234) == 1; }, kWindowWaitMs));
    EXPECT_TRUE(Messages().isEmpty());
    // The program made its history folder beside itself.
    EXPECT_TRUE(QFileInfo(programFolder.file(QStringLiteral("원격지원 받은 이력"))).isDir());
}

TEST_F(StartupOnDisplay, ReviewOfAnEmptyHistoryTellsTheCustomerAndEnds) {
    QProcess& review = Start({QStringLiteral("review")});
    ASSERT_TRUE(WaitFor([&] { return review.state() == QProcess::NotRunning; }, kWindowWaitMs));
    EXPECT_EQ(review.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(review.exitCode(), 0);
    EXPECT_EQ(Messages(), QStringLiteral("1\tPelio원격\t지원이력이 하나도 없습니다.\n"));
}

TEST_F(StartupOnDisplay, StartsWithoutBrowserEngineSettingsAndKeepsTheConsoleQuiet) {
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
