#include "app/Scramble.h"
#include "app/Startup.h"
#include "app/UserSettings.h"
#include "app/WindowForeground.h"
#include "platform/FakeServices.h"
#include "support/ScriptedMessageBoxes.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QWindow>

using namespace pelio::app;
using pelio::platform::FakeServices;
using pelio::test::TempFolder;

namespace {

const QString kAlreadyRunning = QStringLiteral("Pelio 원격지원 고객용 프로그램이 이미 실행 중입니다.");

class StartupTest : public ::testing::Test {
  protected:
    TempFolder programFolder;
    TempFolder dataFolder;
    TempFolder configFolder;
    FakeServices fakes;
    AppContext context;

    StartupInput Input(const QString& commandLine) const {
        StartupInput in;
        in.rawCommandLine = commandLine;
        in.executableFolder = programFolder.path();
        in.userDataFolder = dataFolder.file(QStringLiteral("PelioRS"));
        in.userConfigFolder = configFolder.path();
        return in;
    }

    FirstWindow Run(const QString& commandLine) {
        return RunStartup(Input(commandLine), fakes.services, context);
    }

    // Another copy of the program runs and shows its main window.
    void OtherCopyShowsMainWindow() {
        fakes.instances->previous = true;
        fakes.windows->windows.push_back({77, QStringLiteral("Pelio 원격지원 고객용")});
    }
};

}  // namespace

TEST_F(StartupTest, QuotedFullCommandLineFillsTheCustomer) {
    EXPECT_EQ(Run(QStringLiteral("\"1234/My+Company/홍길동/010-1234-5678\"")), FirstWindow::AgentList);
    EXPECT_EQ(context.DeptCode, QStringLiteral("1234"));
    EXPECT_EQ(context.DeptName, QStringLiteral("My Company"));
    EXPECT_EQ(context.CustomerName, QStringLiteral("홍길동"));
    EXPECT_EQ(context.CustomerPhone, QStringLiteral("010-1234-5678"));
    EXPECT_EQ(context.AccountId, QString());
    EXPECT_EQ(context.CommandText, QStringLiteral("1234/My+Company/홍길동/010-1234-5678"));
}

TEST_F(StartupTest, CommandFieldRules) {
    struct Case {
        QString text;
        QStringList expected;  // code, name, customer, phone, account
    };
    const Case cases[] = {
        {QStringLiteral("1234/Co"), {QStringLiteral("1234"), QStringLiteral("Co"), {}, {}, {}}},
        {QStringLiteral("a+b/c+d"), {QStringLiteral("a+b"), QStringLiteral("c d"), {}, {}, {}}},
        {QStringLiteral("/"), {{}, {}, {}, {}, {}}},
        {QStringLiteral(" 1/ 2 /3/4/acc/extra/more"),
         {QStringLiteral(" 1"), QStringLiteral(" 2 "), QStringLiteral("3"), QStringLiteral("4"),
          QStringLiteral("acc")}},
        {QStringLiteral("1234"), {{}, {}, {}, {}, {}}},  // no "/": not parsed here
        {QStringLiteral("a%20b/c%2Bd+"), {QStringLiteral("a%20b"), QStringLiteral("c%2Bd "), {}, {}, {}}},
    };
    for (const Case& c : cases) {
        AppContext ctx;
        ApplyCommandFields(CommandTextOf(c.text), ctx);
        EXPECT_EQ(
            (QStringList{ctx.DeptCode, ctx.DeptName, ctx.CustomerName, ctx.CustomerPhone, ctx.AccountId}),
            c.expected)
            << c.text.toStdString();
    }
    EXPECT_EQ(CommandTextOf(QStringLiteral("\"a\"\"b\" c")), QStringLiteral("ab c"));  // not trimmed
}

TEST_F(StartupTest, ReviewInAnyCaseOpensTheHistoryViewerEvenWithAnotherCopy) {
    OtherCopyShowsMainWindow();
    for (const QString& text :
         {QStringLiteral("REVIEW"), QStringLiteral("\"review\""), QStringLiteral("ReViEw")}) {
        AppContext ctx;
        EXPECT_EQ(RunStartup(Input(text), fakes.services, ctx), FirstWindow::History) << text.toStdString();
        EXPECT_TRUE(ctx.DeptCode.isEmpty());
    }
    EXPECT_EQ(fakes.instances->queries, 0);  // the test is skipped, not just passed
    EXPECT_FALSE(IsReviewCommand(QStringLiteral(" review")));
    EXPECT_FALSE(IsReviewCommand(QStringLiteral("review/1")));
}

TEST_F(StartupTest, SecondInteractiveCopyIsRefusedWithTheMessage) {
    OtherCopyShowsMainWindow();
    // The program shows the message (checked on the built program in the end-to-end tests).
    EXPECT_EQ(Run(QStringLiteral("1234/Co/홍길동/010")), FirstWindow::None);
    EXPECT_EQ(kAlreadyRunningText, kAlreadyRunning);
    // Nothing below ran, and the found window was not activated.
    EXPECT_TRUE(context.DeptCode.isEmpty());
    EXPECT_TRUE(context.MachineCode.isEmpty());
    EXPECT_TRUE(context.AppFolder.isEmpty());
    for (const QString& call : fakes.windows->calls) EXPECT_TRUE(call.startsWith(QStringLiteral("find:")));
    EXPECT_FALSE(QFileInfo::exists(programFolder.file(QStringLiteral("원격지원 받은 이력"))));
}

TEST_F(StartupTest, TitleAloneOrInstanceAloneDoesNotStopStartUp) {
    // Another program's window bears the title, but no copy of this program runs.
    fakes.windows->windows.push_back({5, QStringLiteral("메모장 - Pelio 원격지원 고객용.txt")});
    EXPECT_EQ(Run(QStringLiteral("1/2")), FirstWindow::AgentList);
    // A copy runs, but shows only the history viewer.
    fakes.windows->windows.clear();
    fakes.windows->windows.push_back({6, QStringLiteral("원격지원 내역 다시 보기")});
    fakes.instances->previous = true;
    AppContext ctx;
    EXPECT_EQ(RunStartup(Input(QStringLiteral("1/2")), fakes.services, ctx), FirstWindow::AgentList);
}

TEST_F(StartupTest, FoldersFilesAndSystemValues) {
    QFile marker(programFolder.file(QStringLiteral("modMain.bas")));
    ASSERT_TRUE(marker.open(QIODevice::WriteOnly));
    marker.close();
    fakes.identity->adapter = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
    fakes.identity->serial = 0x12345678;
    fakes.identity->version = {5, 1, 2};
    StartupInput in = Input(QStringLiteral("x"));
    in.executableFolder += u'/';
    in.logicalDpiX = 96;
    in.logicalDpiY = 120;
    EXPECT_EQ(RunStartup(in, fakes.services, context), FirstWindow::AgentList);
    EXPECT_EQ(context.AppFolder, programFolder.path());
    EXPECT_EQ(context.ProgramFolder, programFolder.path());
    EXPECT_EQ(context.IniFile, programFolder.path() + QStringLiteral("/PelioRS.ini"));
    EXPECT_EQ(context.HistoryFolder, programFolder.path() + QStringLiteral("/원격지원 받은 이력"));
    EXPECT_TRUE(QFileInfo(context.HistoryFolder).isDir());
    EXPECT_TRUE(context.IsDevelopment);
    EXPECT_EQ(context.MachineCode, QStringLiteral("EXK4U96B482"));
    EXPECT_TRUE(context.IsNT);
    EXPECT_EQ(context.OsLevel, 4);
    EXPECT_EQ(context.ScreenTwipsX, 15);
    EXPECT_EQ(context.ScreenTwipsY, 12);
    // The machine code went to the per-user area, not into the program folder.
    EXPECT_EQ(UserSettings(configFolder.path())
                  .Get(QStringLiteral("PelioRS"), QStringLiteral("Settings"), QStringLiteral("MyC")),
              ScrambleHex(QStringLiteral("EXK4U96B482"), ValueKey));
    EXPECT_FALSE(QFileInfo::exists(context.IniFile));
}

TEST_F(StartupTest, ReadOnlyProgramFolderMovesFilesToTheUserDataFolder) {
    if (getuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
    QFile::setPermissions(programFolder.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    Run(QStringLiteral("review"));
    QFile::setPermissions(programFolder.path(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    EXPECT_EQ(context.AppFolder, dataFolder.file(QStringLiteral("PelioRS")));
    EXPECT_EQ(context.ProgramFolder, programFolder.path());  // its sounds stay there
    EXPECT_TRUE(QFileInfo(context.HistoryFolder).isDir());
}

TEST_F(StartupTest, AppFolderRulesAtTheRoot) {
    // A root folder loses its one separator, as "C:\" becomes "C:".
    EXPECT_EQ(ChooseAppFolder(QStringLiteral("/"), dataFolder.path()),
              getuid() == 0 ? QString() : dataFolder.path());
    AppContext ctx;
    SetFolders(QString(), ctx);
    EXPECT_EQ(ctx.IniFile, QStringLiteral("/PelioRS.ini"));
}

TEST(OsLevel, GenerationClasses) {
    EXPECT_EQ(OsLevelOf(10, 0, true), 10);
    EXPECT_EQ(OsLevelOf(6, 0, true), 10);
    EXPECT_EQ(OsLevelOf(5, 2, true), 4);
    EXPECT_EQ(OsLevelOf(5, 1, true), 4);
    EXPECT_EQ(OsLevelOf(5, 0, true), 3);
    EXPECT_EQ(OsLevelOf(4, 0, true), 2);
    EXPECT_EQ(OsLevelOf(4, 10, false), 0);
}

TEST(WindowForeground, ForegroundOperationsGoToTheWindowManager) {
    FakeServices fakes;
    auto& wm = *fakes.windows;
    wm.windows.push_back({1, QStringLiteral("Other")});
    wm.windows.push_back({2, QString(300, u'x') + QStringLiteral("Pelio")});  // past the 255 characters seen
    wm.windows.push_back({3, QStringLiteral("pelio 원격지원 고객용"), true});
    EXPECT_EQ(FindWindowByTitle(wm, QStringLiteral("PELIO")), 3u);
    RestoreAndActivate(wm, 3);
    EXPECT_FALSE(wm.windows[2].minimised);
    EXPECT_EQ(wm.ForegroundWindow(), 3u);
    ActivateWindow(wm, 1);
    EXPECT_EQ(wm.ForegroundWindow(), 1u);
    RestoreAndActivate(wm, 0);  // no window: nothing happens
    EXPECT_EQ(wm.calls.filter(QStringLiteral("restore:")).size(), 1);

    QWindow form;
    EXPECT_FALSE(IsForegroundForm(wm, &form));  // no handle
    wm.handles[&form] = 1;
    EXPECT_TRUE(IsForegroundForm(wm, &form));
    EXPECT_FALSE(IsForegroundForm(wm, nullptr));
}
