#include "app/Startup.h"

#include "app/AppLog.h"
#include "app/MachineCode.h"
#include "app/UserSettings.h"
#include "platform/Services.h"

#include <QDir>
#include <QFileInfo>
#include <QtMath>

#include <unistd.h>

namespace pelio::app {

Q_LOGGING_CATEGORY(lcApp, "pelio.app", QtCriticalMsg)

namespace {

bool FolderWritable(const QString& folder) {
    QFileInfo info(folder);
    return info.isDir() && access(QFile::encodeName(info.absoluteFilePath()).constData(), W_OK | X_OK) == 0;
}

int TwipsPerPixel(double dpi) {
    return dpi > 0 ? qRound(1440.0 / dpi) : 15;
}

}  // namespace

QString CommandTextOf(const QString& rawCommandLine) {
    QString text = rawCommandLine;
    text.remove(u'"');
    return text;
}

bool IsReviewCommand(const QString& commandText) {
    return commandText.compare(QLatin1String("review"), Qt::CaseInsensitive) == 0;
}

void ApplyCommandFields(const QString& commandText, AppContext& context) {
    if (!commandText.contains(u'/')) return;
    const QStringList fields = commandText.split(u'/');
    QString* targets[] = {&context.DeptCode, &context.DeptName, &context.CustomerName, &context.CustomerPhone,
                          &context.AccountId};
    for (qsizetype i = 0; i < 5 && i < fields.size(); ++i) *targets[i] = fields[i];
    if (fields.size() >= 2) context.DeptName.replace(u'+', u' ');
}

int OsLevelOf(int major, int minor, bool isNT) {
    if (major >= 6) return 10;
    if (major == 5) return minor >= 1 ? 4 : 3;
    return isNT ? 2 : 0;
}

QString ChooseAppFolder(const QString& executableFolder, const QString& userDataFolder) {
    QString folder = executableFolder;
    if (!FolderWritable(folder)) {
        folder = userDataFolder;
        QDir().mkpath(folder);
    }
    if (folder.endsWith(u'/')) folder.chop(1);
    return folder;
}

void SetFolders(const QString& appFolder, AppContext& context) {
    context.AppFolder = appFolder;
    context.IsDevelopment = QFileInfo::exists(appFolder + QStringLiteral("/modMain.bas"));
    context.IniFile = appFolder + u'/' + kSettingsBaseName + QStringLiteral(".ini");
    context.HistoryFolder = appFolder + u'/' + kHistoryFolderName;
    QDir history(context.HistoryFolder);
    if (!history.exists())
        QDir(appFolder.isEmpty() ? QStringLiteral("/") : appFolder).mkdir(kHistoryFolderName);
}

FirstWindow RunStartup(const StartupInput& input, platform::Services& services, AppContext& context) {
    // 1. Command text.
    const QString commandText = CommandTextOf(input.rawCommandLine);
    context.CommandText = commandText;
    const bool review = IsReviewCommand(commandText);

    // 2. Another copy showing its main window stops an interactive start.
    if (!review && services.instances && services.windows && services.instances->PreviousInstanceExists() &&
        services.windows->FindWindowByTitle(ProgramWindowTitle) != 0) {
        qCInfo(lcApp) << "another copy shows its main window: this one ends";
        return FirstWindow::None;
    }

    // 3. System version.
    if (services.identity) {
        const platform::SystemVersion version = services.identity->Version();
        context.IsNT = version.platformId == 2;
        context.OsLevel = OsLevelOf(version.major, version.minor, context.IsNT);
    }

    // 4. Machine code.
    context.UserConfigFolder = input.userConfigFolder;
    if (services.identity)
        context.MachineCode = GetMachineCode(*services.identity, UserSettings(input.userConfigFolder));

    // 5. Command-line fields.
    ApplyCommandFields(commandText, context);

    // 6. Folders and files.
    SetFolders(ChooseAppFolder(input.executableFolder, input.userDataFolder), context);
    context.ProgramFolder = input.executableFolder;
    if (context.ProgramFolder.size() > 1 && context.ProgramFolder.endsWith(u'/'))
        context.ProgramFolder.chop(1);
    qCInfo(lcApp) << "program folder" << context.AppFolder << "settings" << context.IniFile;
    context.ScreenTwipsX = TwipsPerPixel(input.logicalDpiX);
    context.ScreenTwipsY = TwipsPerPixel(input.logicalDpiY);

    // 7. First window.
    return review ? FirstWindow::History : FirstWindow::AgentList;
}

}  // namespace pelio::app
