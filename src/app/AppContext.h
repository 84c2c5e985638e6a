#pragma once

#include <QString>

namespace pelio::platform {
struct Services;
}

namespace pelio::app {

// The program-wide state. Start-up fills it; every window gets it by reference. The member names are
// the names the whole program uses for these values.
struct AppContext {
    // Folders and files.
    QString AppFolder;  // the program's folder, no trailing separator
    // The folder of the executable and its resources (system/), no trailing separator. AppFolder is
    // the same folder unless that one is read-only (installed), when it is the user's data folder.
    QString ProgramFolder;
    QString IniFile;           // AppFolder + "/PelioRS.ini"
    QString HistoryFolder;     // AppFolder + "/원격지원 받은 이력"
    QString UserConfigFolder;  // base of the per-user settings area ($XDG_CONFIG_HOME)
    QString ReceivedFolder;    // set by the agent list window
    bool IsDevelopment = false;

    // The customer, from the command line and the entry window.
    QString DeptCode;
    QString DeptName;
    QString CustomerName;
    QString CustomerPhone;
    QString AccountId;
    QString MachineCode;

    // The running system.
    bool IsNT = false;
    int OsLevel = 0;
    int ScreenTwipsX = 15;
    int ScreenTwipsY = 15;

    // Values of the session.
    QString PublicIP;
    QString PendingRequestText;
    bool FileTransferBusy = false;
    QString LastBatchFile;

    // The raw command text (quotes removed); the entry window reads it.
    QString CommandText;

    // The platform services chosen at start-up; owned by the program's entry point.
    platform::Services* Platform = nullptr;
};

// Texts of the program that several parts use.
inline const QString ProgramWindowTitle = QStringLiteral("Pelio 원격지원 고객용");
inline const QString kReviewWindowTitle = QStringLiteral("원격지원 내역 다시 보기");
inline const QString kSettingsBaseName = QStringLiteral("PelioRS");
inline const QString kHistoryFolderName = QStringLiteral("원격지원 받은 이력");

}  // namespace pelio::app
