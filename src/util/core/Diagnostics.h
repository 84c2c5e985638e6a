#pragma once

#include <QLoggingCategory>

// Diagnostics. Each folder of the program logs into a category of its own ("pelio.util", "pelio.app",
// "pelio.web", ...), declared in that folder and defined with the threshold QtCriticalMsg: its debug,
// info and warning messages are off until QT_LOGGING_RULES turns them on, e.g.
//   QT_LOGGING_RULES="pelio.*=true"          everything of the program
//   QT_LOGGING_RULES="pelio.web.debug=true"  one folder
// The program never writes a log file of its own.
namespace pelio::util {

Q_DECLARE_LOGGING_CATEGORY(lcUtil)

// True when the user asked for diagnostics (QT_LOGGING_RULES is set).
bool DiagnosticsRequested();

// Unless diagnostics were asked for, the console stays quiet: messages of Qt and of the libraries it
// loads (a missing runtime folder, the browser engine's start-up report) are dropped. Fatal messages
// still end the program as they would. Call once, first thing in main().
void KeepConsoleQuiet();

}  // namespace pelio::util
