#pragma once

#include "app/AppContext.h"

#include <QString>

namespace pelio::platform {
struct Services;
struct SystemVersion;
}  // namespace pelio::platform

// The program's start-up: command line, single-instance test, system version, machine code, folders.
namespace pelio::app {

enum class FirstWindow {
    None,       // another copy runs: the program tells the customer kAlreadyRunningText and ends
    AgentList,  // the agent list window, the program's main window
    History,    // the history viewer alone ("review")
};

// What the customer is told when another copy already shows its main window.
inline const QString kAlreadyRunningText =
    QStringLiteral("Pelio 원격지원 고객용 프로그램이 이미 실행 중입니다.");

// The command text: the command line after the program path with every double quote removed.
QString CommandTextOf(const QString& rawCommandLine);

// True for "review" in any case (the whole text).
bool IsReviewCommand(const QString& commandText);

// Fills DeptCode, DeptName ("+" becomes a space), CustomerName, CustomerPhone and AccountId from the
// "/"-separated fields of a command text that contains "/"; other texts change nothing.
void ApplyCommandFields(const QString& commandText, AppContext& context);

// The generation class of a system version: 10 for major 6 and later, 4 for 5.1+, 3 for 5.0, and for
// older systems 2 on the NT family, else 0.
int OsLevelOf(int major, int minor, bool isNT);

// The program folder from the executable's folder: that folder when it is writable, else the per-user
// data folder; one trailing separator removed ("/" becomes "").
QString ChooseAppFolder(const QString& executableFolder, const QString& userDataFolder);

// The folder-derived values: AppFolder, IniFile, HistoryFolder (created when missing), IsDevelopment.
void SetFolders(const QString& appFolder, AppContext& context);

struct StartupInput {
    QString rawCommandLine;    // the command line after the program path
    QString executableFolder;  // the folder of the running executable
    QString userDataFolder;    // where the program keeps its files when its own folder is read-only
    QString userConfigFolder;  // base of the per-user settings area
    double logicalDpiX = 96;
    double logicalDpiY = 96;
};

// Runs start-up into `context` with the given platform services and says which window opens first:
// None, with nothing else done, when another copy already shows its main window.
FirstWindow RunStartup(const StartupInput& input, platform::Services& services, AppContext& context);

}  // namespace pelio::app
