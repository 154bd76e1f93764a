#pragma once
// The one small layer between the link and the operating system's serial ports.
// Everything that talks to the dosimeter goes through SerialPort; the real one is the
// system's (termios on Linux and other POSIX systems, QSerialPort on Windows), tests may
// install their own opener and hand out a fake.
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>

namespace veresk {

class SerialPort {
public:
    virtual ~SerialPort() = default;
    // Drop whatever has come in and was not read.  A command already written is never
    // cut short (on POSIX systems the output queue is left to drain).
    virtual void Purge() = 0;
    // Blocking write; returns the number of bytes the driver took.
    virtual uint32_t Write(const uint8_t* bytes, uint32_t count) = 0;
    // Blocking read of up to `count` bytes, giving up `totalTimeoutMs` after the call;
    // returns what arrived by then.
    virtual uint32_t Read(uint8_t* into, uint32_t count, int totalTimeoutMs) = 0;
    // True once the port has reported a hang-up or an error: it is closed and claims
    // nothing any more; the next exchange has to open afresh.
    virtual bool Lost() const { return false; }
    // Called from the event loop, after the exchange in progress (if any), when the port
    // is lost while no exchange runs.
    void OnLost(std::function<void()> handler) { onLost_ = std::move(handler); }

protected:
    std::function<void()> onLost_;
};

// Opens "COM" + n exclusively at 57600 8N1.  Returns null when the port is missing,
// busy, or refuses its settings.
using PortOpener = std::function<std::unique_ptr<SerialPort>(int comNumber)>;

// The opener in force (the real one unless a test replaced it).
PortOpener& CurrentPortOpener();
void SetPortOpener(PortOpener opener);  // empty function: back to the real ports

// Opens the serial port at a system path (a tty, or a link to one) exclusively at
// 57600 8N1.  On POSIX systems the port is claimed under the device's real name by a
// UUCP lock file, an exclusive flock and the terminal's exclusive mode, and a port that
// another program has claimed in any of these ways counts as busy; low-latency mode is
// asked for where the driver has it (link/port_unix.h).  Null when the port is missing,
// busy, or refuses its settings.
std::unique_ptr<SerialPort> OpenSystemPortAt(const QString& path);
// The real opener: OpenSystemPortAt(ResolveComPort(comNumber)).
std::unique_ptr<SerialPort> OpenSystemPort(int comNumber);

// Where "COM" + n lives on this system; empty when no such port exists.
//  Windows: \\.\COMn.
//  POSIX: when the port map folder exists (PortMapFolder()), its entry COMn (usually a
//  symlink to a tty) and nothing else; otherwise COM1-32 are /dev/ttyS0-31, COM33-64
//  /dev/ttyUSB0-31, COM65-96 /dev/ttyACM0-31, and higher numbers name no port.
QString ResolveComPort(int comNumber);

// $XDG_CONFIG_HOME/veresk/ports, or ~/.config/veresk/ports when XDG_CONFIG_HOME is unset.
QString PortMapFolder();

}  // namespace veresk
