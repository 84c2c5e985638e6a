#pragma once

#include "util/core/Colors.h"

#include <QFont>
#include <QString>
#include <QStringList>

#include <optional>

class QWidget;

// Every file, colour and font dialog of the program goes through here. Tests install a provider that
// records each request and answers it, so no test ever waits on a modal dialog.
namespace pelio::util {

// The code a file dialog reports when the user cancelled it.
inline constexpr int kDialogCancelled = 32755;

struct OpenFilesRequest {
    QWidget* parent = nullptr;
    QString title;
    QString filter;         // "description|patterns|description|patterns", patterns separated by ";"
    QString initialFolder;  // empty or missing: the user's documents folder (DialogStartFolder)
    bool multiple = true;   // more than one file may be picked
};

struct OpenFilesAnswer {
    QStringList files;  // full paths in the dialog's order; empty when cancelled or failed
    int error = 0;      // 0 or kDialogCancelled when cancelled; any other value is a failure
    QString errorText;
};

struct SaveFileRequest {
    QWidget* parent = nullptr;
    QString title;
    QString suggested;     // the full path offered; its folder is where the dialog opens
    QStringList filters;   // Qt file-dialog filters, "Name (*.ext)"
    QString chosenFilter;  // the filter selected at first
};

struct SaveFileAnswer {
    QString file;          // the full path chosen (the user agreed to replace it); empty when cancelled
    QString chosenFilter;  // the filter selected when the dialog closed
};

struct ColorRequest {
    QWidget* parent = nullptr;
    OleColor initial = kWhite;
    bool fullPanel = true;  // custom-colour panel shown
};

struct FontRequest {
    QWidget* parent = nullptr;
    QFont initial;
};

// Answers the dialogs; the default provider shows the real Qt dialogs.
class DialogProvider {
  public:
    virtual ~DialogProvider() = default;
    virtual OpenFilesAnswer OpenFiles(const OpenFilesRequest& request) = 0;
    virtual SaveFileAnswer SaveFile(const SaveFileRequest& request) = 0;
    // The colour picked, or nothing when cancelled.
    virtual std::optional<OleColor> PickColor(const ColorRequest& request) = 0;
    // The font picked, or nothing when cancelled.
    virtual std::optional<QFont> PickFont(const FontRequest& request) = 0;
};

class Dialogs {
  public:
    static OpenFilesAnswer OpenFiles(const OpenFilesRequest& request);
    static SaveFileAnswer SaveFile(const SaveFileRequest& request);
    static std::optional<OleColor> PickColor(const ColorRequest& request);
    static std::optional<QFont> PickFont(const FontRequest& request);

    // Replaces the real dialogs (the caller keeps the provider); null restores them. Returns the
    // previous provider, null for the real dialogs.
    static DialogProvider* SetProvider(DialogProvider* provider);
};

// The folder a file dialog opens in: `requested` when it names an existing folder, else `documents`
// when that exists, else `home`. Never the program's working folder.
QString DialogStartFolder(const QString& requested, const QString& documents, const QString& home);

// The desktop's own file chooser (the desktop portal's, through Qt's "xdgdesktopportal" platform
// theme): call ChooseDesktopFileChooser before the application object exists, so that Qt loads that
// theme when the user chose no theme of their own, and ForgetChosenTheme right after it, so that the
// programs this one starts get the environment it was given. The real dialogs use the desktop's file
// chooser only while the session bus answers for the portal's file chooser; otherwise Qt's own dialog,
// in Korean, opens.
void ChooseDesktopFileChooser();
void ForgetChosenTheme();

// A filter of the form "description|patterns|..." as a Qt file-dialog filter: ";" between patterns
// becomes a blank and "*.*" becomes "*", so that names without an extension are listed too.
QString ToQtFileFilter(const QString& filter);

}  // namespace pelio::util
