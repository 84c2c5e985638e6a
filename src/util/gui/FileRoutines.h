#pragma once

#include "util/core/TextFiles.h"
#include "util/gui/MessageBoxes.h"

#include <QString>

class QWidget;

namespace pelio::platform {
class FileManager;
}

// Files and folders with the program's messages: existence, whole-file reads (plain reads and writes
// are in TextFiles.h), the file manager, the file-open dialog for files to send, and the error box.
namespace pelio::util {

// True when the path names an existing file or folder. Otherwise, with showMessage, an information
// box shows the path and "파일 또는 경로를 찾을 수 없습니다." on the next line.
bool FileExists(const QString& path, bool showMessage, QWidget* parent = nullptr);

// The whole file as text (UTF-8, or code page 949 when the bytes are not UTF-8); empty when the path
// is empty, missing (with the message of FileExists when showMessage is set) or unreadable.
QString ReadTextFile(const QString& path, bool showMessage, QWidget* parent = nullptr);

// Opens the file manager: at its default place when the path is empty or does not exist, at the
// folder when the path is a folder, at the file's folder with the file selected when it is a file.
void OpenInExplorer(const QString& path, platform::FileManager& fileManager);

// The state a file-open dialog keeps between uses: the folder the next dialog opens in.
struct FileOpenDialog {
    QString initialFolder;
};

// Lets the user pick files to send. An empty filter means "모든 파일(*.*)|*.*". Returns the full
// paths picked, joined by carriage return and line feed, or empty when cancelled; a dialog failure
// other than cancelling is shown with ShowErrorBox. Afterwards the dialog's initial folder is the
// folder of the last path picked.
QString PickFilesToOpen(FileOpenDialog& dialog, QWidget* parent, const QString& title, const QString& filter);

// The program's error box: "다음 오류가 발생하였습니다.", the error number and text, and the extra
// text when there is one. Returns the button pressed.
MsgAnswer ShowErrorBox(QWidget* parent, int number, const QString& text, MsgIcon icon = MsgIcon::Information,
                       MsgButtons buttons = MsgButtons::Ok, const QString& extra = QString());

}  // namespace pelio::util
