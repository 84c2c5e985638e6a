#pragma once

#include <QDate>
#include <QString>

// Names of files and folders built from user-supplied text, above all the session-history files, and
// the pieces of paths and URLs. Paths use "/"; a folder returned here ends with "/".
namespace pelio::util {

// A file name made from text: the characters \ / : * ? " < > | and control characters become "_",
// tabs become blanks, line breaks are deleted, and the extension is appended unless the name already
// ends with it (without regard to case). Empty text gives the current date and time
// ("2026-12-06 153012") followed by the extension. The result is never empty, "." or "..", and is cut
// (keeping the extension) to fit the 255-byte name limit of Linux file systems.
QString SafeFileName(const QString& text, const QString& extension);

// The path of a new history file: historyFolder/deptCode-deptName/yyyy-MM-dd(n).htm for a chat
// transcript, .srf for a screen recording, with the lowest n from 0 for which no file or folder of
// that name exists. The company name loses ".", blanks and unsafe characters; the company folder is
// always one direct subfolder of historyFolder, whatever the code and name hold. Creates the history
// and company folders when missing (and still returns the path when that fails); the file itself is
// not created. An empty historyFolder gives empty text.
QString NewHistoryFilePath(bool isTranscript, const QString& historyFolder, const QString& deptCode,
                           const QString& deptName, const QDate& today = QDate::currentDate());

// The paths of a new session's history files, its chat transcript and its screen recording, named as
// NewHistoryFilePath names them but with the same n: the lowest for which neither file exists, so that
// the two files of one session carry one number. Empty paths for an empty historyFolder.
struct HistorySessionPaths {
    QString transcript;
    QString recording;
};
HistorySessionPaths NewHistorySessionPaths(const QString& historyFolder, const QString& deptCode,
                                           const QString& deptName,
                                           const QDate& today = QDate::currentDate());

// The name of the company folder inside the history folder for a company code and name.
QString HistoryCompanyFolderName(const QString& deptCode, const QString& deptName);

// The path itself when it names an existing folder, else the path up to and including its last "/";
// empty when there is none. A non-empty result ends with "/".
QString FolderOfPath(const QString& path);

// A folder as the program names it to the customer: below the home folder "~/" and the rest of the
// path ("~/Documents/Pelio 받은파일", "~/문서/Pelio 받은파일"), the home folder itself "~", any other
// folder its whole path; no "/" at the end. The first form takes the user's home folder.
QString ShownFolderPath(const QString& folder);
QString ShownFolderPath(const QString& folder, const QString& home);

// The text after the last "/", or the whole path when it has none.
QString FileNameOfPath(const QString& path);

// The file name of a URL: everything from the first "?" is dropped, then the text after the last "/".
QString FileNameOfUrl(const QString& url);

}  // namespace pelio::util
