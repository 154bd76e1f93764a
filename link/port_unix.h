#pragma once
// How a serial port is claimed on Linux and other POSIX systems.  A terminal program,
// a modem daemon or a Python script that holds a port says so in one of three ways,
// all under the device's real name (the tty a port-map symlink points to):
//
//   a UUCP lock file   <lock folder>/LCK..ttyUSB0 holding the owner's PID as ten
//                      ASCII characters and a newline ("      4711\n");
//   an exclusive flock on the device;
//   the terminal's exclusive mode (TIOCEXCL).
//
// A port claimed in any of these ways by a live process counts as busy and is not
// opened.  While the program holds a port it claims it in all three ways, and releases
// every claim when the port is closed or lost.  A program that claims a port in none of
// these ways cannot be seen.
#include <QString>

namespace veresk {

// The folder of the lock files: the one set by SetLockDirectory, else $VERESK_LOCK_DIR,
// else /var/lock (on Debian a link to /run/lock).
QString LockDirectory();
void SetLockDirectory(const QString& folder);  // empty: back to the default

// <lock folder>/LCK..<file name of the device's real path>.
QString LockFilePath(const QString& realDevicePath);

// For a handler of a signal that ends the process (a command-line tool that may be
// interrupted at any point of an exchange): gives up the claims of every port this
// process holds that would outlive it (the terminal's exclusive mode and the lock
// file).  Async-signal-safe; the ports themselves are not closed, the process's end
// does that.
void ReleasePortClaimsFromSignal();

// What the driver said to the request for low-latency mode (ASYNC_LOW_LATENCY).
enum class LowLatency { Set, Refused };
LowLatency RequestLowLatency(int fd);

}  // namespace veresk
