#pragma once

#include <QStringList>

// The command-line tool: the operations and transforms of the program for
// scripts, on the same core as the windows.
namespace Cli
{

enum ExitCode : int {
    Success = 0,
    ErrorReported = 1,
    BadUsage = 2,
    NotApplied = 3,
};

// Runs one command; `arguments` excludes the program name. Reads stdin,
// writes stdout and stderr.
int run(const QStringList& arguments);

} // namespace Cli
