#pragma once
// The device side of veresk-cli's commands, over the same link, port map, search and
// judging rules as the windowed program.  Each step returns a verdict; the commands
// turn verdicts into messages and exit codes.
#include <QString>
#include <vector>

#include "cli/formats.h"
#include "cli/options.h"

namespace veresk::cli {

enum class ExitCode { Ok = 0, Usage = 1, NoDevice = 2, LinkFailure = 3, FileError = 4 };

// The COM number a --device path is reached by: the port opener maps it to the path.
inline constexpr int kDevicePathCom = 1;
// Seconds between two searches while the log has no device.
inline constexpr int kSearchIntervalSeconds = 5;

struct Verdict {
    ExitCode code = ExitCode::Ok;
    QString message;  // for stderr when code is not Ok
    bool ok() const { return code == ExitCode::Ok; }
};

// Makes the chosen port the device port.  A number or a path is taken as named, with no
// probe (for a path, the port opener is replaced by one that opens it as
// kDevicePathCom); the search scans ports 1-255 and probes the ones that open.
Verdict Connect(const PortChoice& choice);
// The name of the port in use: "COM5", or the --device path.
QString CurrentPortName(const PortChoice& choice);

// One port the scan could open: its number, where it lives, and whether the device
// answered the probe there.
struct ScannedPort {
    int number = 0;
    QString path;
    bool device = false;
};
// The scan and the search as the program runs them at start-up.
std::vector<ScannedPort> ScanAndSearch();

// Reads the status block as the polling tick does, retrying at once until a good block
// or the tick's failure limits; the device clock is never set here.  On success
// `reading` holds the values and the PC time.
Verdict ReadStatus(const PortChoice& choice, Reading& reading);
// Reads the parameter block over a freshly opened port; CRC failures are retried
// until the second in a row, as the program reports them.
Verdict ReadParameters(const PortChoice& choice);

}  // namespace veresk::cli
