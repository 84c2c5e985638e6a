#pragma once

#include <QString>
#include <QStringList>

// The program's own options. Arguments beginning with "--" are options, never part of a company's
// command line; every other argument belongs to the command text (see Startup.h).
namespace pelio::app {

enum class ProgramOption {
    None,     // no option: start normally
    Help,     // "--help": print the usage and end
    Version,  // "--version": print the version and end
    Unknown,  // any other "--" argument: print the usage as an error and end with status 2
};

struct OptionChoice {
    ProgramOption option = ProgramOption::None;
    QString argument;  // the argument that chose it
};

// The first argument beginning with "--" decides.
OptionChoice FindProgramOption(const QStringList& arguments);

// The usage text for `program` (the name the program was started by), ending with a line break.
QString UsageText(const QString& program);

}  // namespace pelio::app
