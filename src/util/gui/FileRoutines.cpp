#include "util/gui/FileRoutines.h"

#include "platform/FileManager.h"
#include "util/core/Paths.h"
#include "util/gui/Dialogs.h"

#include <QFileInfo>

namespace pelio::util {

bool FileExists(const QString& path, bool showMessage, QWidget* parent) {
    if (!path.isEmpty() && QFileInfo::exists(path)) return true;
    if (showMessage)
        MessageBoxes::Inform(parent, path + u'\n' + QStringLiteral("파일 또는 경로를 찾을 수 없습니다."));
    return false;
}

QString ReadTextFile(const QString& path, bool showMessage, QWidget* parent) {
    if (path.isEmpty() || !FileExists(path, showMessage, parent)) return QString();
    return LoadTextFile(path);
}

void OpenInExplorer(const QString& path, platform::FileManager& fileManager) {
    if (!FileExists(path, false)) {
        fileManager.ShowDefault();
    } else if (QFileInfo(path).isDir()) {
        fileManager.ShowFolder(path);
    } else {
        fileManager.ShowItem(path);
    }
}

QString PickFilesToOpen(FileOpenDialog& dialog, QWidget* parent, const QString& title,
                        const QString& filter) {
    OpenFilesRequest request;
    request.parent = parent;
    request.title = title;
    request.filter = filter.isEmpty() ? QStringLiteral("모든 파일(*.*)|*.*") : filter;
    request.initialFolder = dialog.initialFolder;
    request.multiple = true;
    const OpenFilesAnswer answer = Dialogs::OpenFiles(request);
    if (answer.files.isEmpty()) {
        if (answer.error != 0 && answer.error != kDialogCancelled)
            ShowErrorBox(parent, answer.error, answer.errorText, MsgIcon::Information);
        return QString();
    }
    dialog.initialFolder = FolderOfPath(answer.files.last());
    return answer.files.join(QStringLiteral("\r\n"));
}

MsgAnswer ShowErrorBox(QWidget* parent, int number, const QString& text, MsgIcon icon, MsgButtons buttons,
                       const QString& extra) {
    QString message =
        QStringLiteral("다음 오류가 발생하였습니다.\n\n오류번호 : %1\n오류내용 : ").arg(number) + text;
    if (!extra.isEmpty()) message += QStringLiteral("\n\n") + extra;
    return MessageBoxes::Show(parent, message, icon, buttons);
}

}  // namespace pelio::util
