#pragma once

#include <QString>

#include <optional>
#include <vector>

// What the history viewer lists and how it reads its transcript links, without widgets.
namespace pelio::history {

// One node of the two history trees.
struct HistoryNode {
    enum class Kind { Folder, Transcript, Recording };
    Kind kind = Kind::Folder;
    QString key;        // a folder's full path + "/", a file's full path
    QString text;       // the folder's or file's name
    QString parentKey;  // empty for a folder of the history folder's first level
};

// True for a transcript file name: its last four characters, lower-cased, are ".htm".
bool IsTranscriptName(const QString& fileName);
// True for a recording file name: its last four characters, lower-cased, are ".srf".
bool IsRecordingName(const QString& fileName);

// The most work one scan of the history does, so that the window appears within a second whatever the
// folder holds: links that fan out can reach the same folders thousands of times over, and one folder
// can hold any number of files. A history of 20,000 sessions stays well inside.
struct ScanLimits {
    int foldersListed = 2000;
    int entriesExamined = 50000;  // directory entries read, of every kind
};

// What a scan found and the work it took.
struct HistoryScan {
    std::vector<HistoryNode> nodes;
    int foldersListed = 0;
    int entriesExamined = 0;
    bool stoppedAtLimit = false;  // the scan reached a limit and stopped there
};

// Scans the history folder at any depth. Every folder becomes a Folder node (listed before what it
// holds); transcripts and recordings inside a folder become nodes under it; files lying directly in
// the history folder and every other file are left out. Entries of one folder come in name order,
// without regard to case. A folder that cannot be listed ends its own scan only; a folder reached
// again through a link (a loop) is listed but not entered again; a folder reached twice by other
// ways is scanned both times.
//
// At a limit the scan stops where it is: the nodes found up to then are kept, the folder it was
// reading lists nothing, and nothing after it is looked at. The customer sees the trees as far as the
// scan got, without a message: the folders after that point (in name order) are missing, and the
// load button still opens any recording.
HistoryScan ScanHistoryWithin(const QString& historyFolder, const ScanLimits& limits = {});

// ScanHistoryWithin with the default limits: the nodes only.
std::vector<HistoryNode> ScanHistory(const QString& historyFolder);

// The path an "explorer::" transcript link points at, or nothing for any other address. The part after
// the first "::" is percent-decoded ("%20" becomes a blank; the browser also encodes non-ASCII
// characters that way). The word "explorer" is compared without regard to case.
std::optional<QString> ExplorerLinkPath(const QString& address);

// True for the addresses a transcript may navigate to in the viewer: web pages (http, https). Other
// schemes in a transcript come from the other side of a session and would be handed to whatever
// program the desktop registered for them, so they are refused.
bool IsTranscriptWebAddress(const QString& address);

// The slider's large step for a recording of the given length: one tenth, rounded to the nearest
// whole number with halves to the even neighbour.
int SliderLargeStep(int length);

}  // namespace pelio::history
