#pragma once
// veresk-cli's commands: options in, output on `out`, errors on `err`, an exit code
// back (0 success, 1 bad usage, 2 no port or no device, 3 link failure, 4 file error).
#include <QStringList>
#include <QTextStream>
#include <functional>

#include "cli/options.h"

namespace veresk::cli {

// Parses and runs one command line (without the program name).  `stopRequested` ends
// the log command.
int RunCommandLine(const QStringList& args, QTextStream& out, QTextStream& err,
                   const std::function<bool()>& stopRequested);

}  // namespace veresk::cli
