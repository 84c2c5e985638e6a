#pragma once

#include "ReferenceService.h"
#include "support/ScriptedMessageBoxes.h"
#include "support/XvfbDisplay.h"

#include <gtest/gtest.h>

#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>

#include <memory>
#include <vector>

namespace pelio::test {

inline const QString kMainTitle = QStringLiteral("Pelio 원격지원 고객용");
inline const QString kMainTitle1234 = kMainTitle + QStringLiteral(" [1234]");  // it names the code
inline const QString kReviewTitle = QStringLiteral("원격지원 내역 다시 보기");
inline const QString kEntryTitle = QStringLiteral("Pelio 원격지원 센터 접속 정보");
inline const QString kManualTitle = QStringLiteral("IP, 포트 입력");
inline constexpr int kWindowWaitMs = 30000;

// The built program on a private X server, run from a folder of its own whose settings file points
// it at the reference service (started here with ServiceData()). Message boxes go to a log file.
class ProgramOnDisplay : public ::testing::Test {
  protected:
    virtual QJsonObject ServiceData() = 0;
    // The folder the service publishes as "userfiles/", and the port it listens on (0: any free one).
    virtual QString ServiceFiles() { return QString(); }
    virtual int ServicePort() { return 0; }

    void SetUp() override;
    void TearDown() override;

    // Adds lines to the settings file beside the program (before it starts).
    void AddSettings(const QString& lines);
    // Starts the program with the arguments.
    QProcess& Start(const QStringList& args,
                    QProcessEnvironment env = QProcessEnvironment::systemEnvironment());
    int TitleCount(const QString& title) const;
    QString Messages() const;
    QString Settings() const;
    // Runs xdotool on the display (keys typed go to the window that has the focus).
    bool Xdo(const QStringList& args) const;
    // Gives the window with the title the keyboard focus.
    bool Focus(const QString& title) const;
    // A top-level window of the display (openbox's frames looked through): its id, its title, and whether the
    // window manager manages it (shown, minimised or hidden with the desktop; not withdrawn).
    struct TitledWindow {
        unsigned long id = 0;
        QString title;
        bool managed = false;
    };
    QList<TitledWindow> TitledWindows() const;
    // Asks the window with the title to close, as its close box would (WM_DELETE_WINDOW).
    bool AskToClose(const QString& title) const;
    // The same for one X window.
    void AskWindowToClose(unsigned long window) const;
    // Starts openbox on the display and waits until it manages windows; false when it did not.
    bool StartOpenbox(QProcess& windowManager) const;
    // The first value of a property of the root window (its first item for a list); -1 without it.
    long RootCardinal(const char* name) const;

    XvfbDisplay display;
    std::unique_ptr<tools::ReferenceService> service;
    int servicePort = 0;
    TempFolder programFolder;  // the program runs from here, so its files stay in the test's folder
    TempFolder home;
    QString exe = programFolder.file(QStringLiteral("pelio"));
    QString messageLog = home.file(QStringLiteral("messages.log"));
    std::vector<std::unique_ptr<QProcess>> processes;
};

}  // namespace pelio::test
