#pragma once
// Helpers shared by the tests.
#include <QString>
#include <QTemporaryDir>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "link/port.h"
#include "sim/simulator.h"

namespace veresk::testing {

// A private XDG_CONFIG_HOME with an empty port map folder, so that no test ever
// reaches the machine's real serial ports, and a private lock folder for the ports'
// lock files (also passed on to child programs in VERESK_LOCK_DIR).  Restores the
// environment when destroyed.
class PortMapSandbox {
public:
    PortMapSandbox();
    ~PortMapSandbox();
    QString Folder() const;                 // .../veresk/ports
    QString LockFolder() const;             // .../lock
    // Links a running simulator in as COMn.
    bool Link(const sim::Simulator& s, int comNumber) const;
    // Adds COMn pointing at a pty that nobody answers (a port that opens but is silent).
    bool AddSilentPort(int comNumber);

private:
    QTemporaryDir dir_;
    QByteArray oldXdg_;
    bool hadXdg_ = false;
    QByteArray oldLock_;
    bool hadLock_ = false;
    std::vector<int> silentMasters_;
};

// Private XDG_DATA_HOME, XDG_CACHE_HOME and XDG_STATE_HOME folders, so that nothing a
// test runs writes into the user's home (the kept archives and the live log go to the
// data folder).  Restores the environment when destroyed.
class XdgSandbox {
public:
    XdgSandbox();
    ~XdgSandbox();
    QString DataHome() const { return dir_.path() + QStringLiteral("/data"); }
    QString DataFolder() const { return DataHome() + QStringLiteral("/veresk"); }  // the program's

private:
    QTemporaryDir dir_;
    std::vector<std::pair<QByteArray, std::optional<QByteArray>>> saved_;
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
