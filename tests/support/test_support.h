#pragma once
// Helpers shared by the tests.
#include <QString>
#include <QTemporaryDir>
#include <cstdint>
#include <memory>
#include <vector>

#include "link/port.h"
#include "sim/simulator.h"

namespace veresk::testing {

// A private XDG_CONFIG_HOME with an empty port map folder, so that no test ever
// reaches the machine's real serial ports.  Restores the environment when destroyed.
class PortMapSandbox {
public:
    PortMapSandbox();
    ~PortMapSandbox();
    QString Folder() const;                 // .../veresk/ports
    // Links a running simulator in as COMn.
    bool Link(const sim::Simulator& s, int comNumber) const;
    // Adds COMn pointing at a pty that nobody answers (a port that opens but is silent).
    bool AddSilentPort(int comNumber);

private:
    QTemporaryDir dir_;
    QByteArray oldXdg_;
    bool hadXdg_ = false;
    std::vector<int> silentMasters_;
};

// Sets TZ for the life of the object (the C library and Qt both read it afresh), for
// anything that depends on local time.
class TimeZoneScope {
public:
    explicit TimeZoneScope(const char* zone);
    ~TimeZoneScope();

private:
    bool had_;
    QByteArray old_;
};

// A fake port for tests of the link's own call order: records every call.
struct FakePortLog {
    std::vector<std::string> calls;        // "purge", "write:<hex>", "read:<n>:<timeout>"
    std::vector<uint8_t> answer;           // bytes the next read returns (up to its count)
};
std::unique_ptr<SerialPort> MakeFakePort(std::shared_ptr<FakePortLog> log);

std::string Hex(const uint8_t* bytes, size_t n);  // "10 00 45"
std::string Hex(const std::vector<uint8_t>& bytes);

}  // namespace veresk::testing
