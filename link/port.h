#pragma once
// The one small layer between the link and the operating system's serial ports.
// Everything that talks to the dosimeter goes through SerialPort; the real one sits on
// QSerialPort, tests may install their own opener and hand out a fake.
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>

namespace veresk {

class SerialPort {
public:
    virtual ~SerialPort() = default;
    // Drop whatever is still queued in either direction.
    virtual void Purge() = 0;
    // Blocking write; returns the number of bytes the driver took.
    virtual uint32_t Write(const uint8_t* bytes, uint32_t count) = 0;
    // Blocking read of up to `count` bytes, giving up `totalTimeoutMs` after the call;
    // returns what arrived by then.
    virtual uint32_t Read(uint8_t* into, uint32_t count, int totalTimeoutMs) = 0;
};

// Opens "COM" + n exclusively at 57600 8N1.  Returns null when the port is missing,
// busy, or refuses its settings.
using PortOpener = std::function<std::unique_ptr<SerialPort>(int comNumber)>;

// The opener in force (the real one unless a test replaced it).
PortOpener& CurrentPortOpener();
void SetPortOpener(PortOpener opener);  // empty function: back to the real ports

// The real opener over QSerialPort.
std::unique_ptr<SerialPort> OpenSystemPort(int comNumber);
// The same for a port given by its path (a tty on POSIX); OpenSystemPort resolves the
// COM number and calls this.
std::unique_ptr<SerialPort> OpenSystemPortAt(const QString& path);

// Where "COM" + n lives on this system; empty when no such port exists.
//  Windows: \\.\COMn.
//  POSIX: when the port map folder exists (PortMapFolder()), its entry COMn (usually a
//  symlink to a tty) and nothing else; otherwise COM1-32 are /dev/ttyS0-31, COM33-64
//  /dev/ttyUSB0-31, COM65-96 /dev/ttyACM0-31, and higher numbers name no port.
QString ResolveComPort(int comNumber);

// $XDG_CONFIG_HOME/veresk/ports, or ~/.config/veresk/ports when XDG_CONFIG_HOME is unset.
QString PortMapFolder();

}  // namespace veresk
