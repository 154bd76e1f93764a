#include "support/test_support.h"

#include "link/port_unix.h"

#include <QDir>
#include <QFile>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace veresk::testing {

PortMapSandbox::PortMapSandbox() {
    hadXdg_ = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
    oldXdg_ = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", dir_.path().toUtf8());
    QDir().mkpath(Folder());
    hadLock_ = qEnvironmentVariableIsSet("VERESK_LOCK_DIR");
    oldLock_ = qgetenv("VERESK_LOCK_DIR");
    QDir().mkpath(LockFolder());
    qputenv("VERESK_LOCK_DIR", LockFolder().toUtf8());
    SetLockDirectory(LockFolder());
}

PortMapSandbox::~PortMapSandbox() {
    for (int fd : silentMasters_) ::close(fd);
    if (hadXdg_) qputenv("XDG_CONFIG_HOME", oldXdg_);
    else qunsetenv("XDG_CONFIG_HOME");
    SetLockDirectory(QString());
    if (hadLock_) qputenv("VERESK_LOCK_DIR", oldLock_);
    else qunsetenv("VERESK_LOCK_DIR");
}

XdgSandbox::XdgSandbox() {
    for (const char* name : {"XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"}) {
        saved_.emplace_back(name, qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt);
        const QString folder = dir_.path() + '/' + QString::fromLatin1(name).mid(4, 5).toLower().remove('_');
        QDir().mkpath(folder);
        qputenv(name, folder.toUtf8());
    }
}

XdgSandbox::~XdgSandbox() {
    for (const auto& [name, value] : saved_) {
        if (value) qputenv(name.constData(), *value);
        else qunsetenv(name.constData());
    }
}

QString PortMapSandbox::LockFolder() const { return dir_.path() + QStringLiteral("/lock"); }

QString PortMapFolderOf(const QString& base) { return base + QStringLiteral("/veresk/ports"); }

QString PortMapSandbox::Folder() const { return PortMapFolderOf(dir_.path()); }

bool PortMapSandbox::Link(const sim::Simulator& s, int comNumber) const { return s.LinkAs(Folder(), comNumber); }

bool PortMapSandbox::AddSilentPort(int comNumber) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return false;
    const char* name = ptsname(master);
    if (name == nullptr) return false;
    // Raw mode on the slave, so nothing the host writes is echoed back to it.
    const int slave = ::open(name, O_RDWR | O_NOCTTY);
    if (slave >= 0) {
        termios t{};
        tcgetattr(slave, &t);
        cfmakeraw(&t);
        tcsetattr(slave, TCSANOW, &t);
        ::close(slave);
    }
    silentMasters_.push_back(master);
    const QString link = Folder() + QStringLiteral("/COM%1").arg(comNumber);
    QFile::remove(link);
    return QFile::link(QString::fromLocal8Bit(name), link);
}

TimeZoneScope::TimeZoneScope(const char* zone) : had_(qEnvironmentVariableIsSet("TZ")), old_(qgetenv("TZ")) {
    qputenv("TZ", zone);
    tzset();
}

TimeZoneScope::~TimeZoneScope() {
    if (had_) qputenv("TZ", old_);
    else qunsetenv("TZ");
    tzset();
}

namespace {

class FakePort final : public SerialPort {
public:
    explicit FakePort(std::shared_ptr<FakePortLog> log) : log_(std::move(log)) {}
    void Purge() override { log_->calls.push_back("purge"); }
    uint32_t Write(const uint8_t* bytes, uint32_t count) override {
        log_->calls.push_back("write:" + Hex(bytes, count));
        return count;
    }
    uint32_t Read(uint8_t* into, uint32_t count, int totalTimeoutMs) override {
        log_->calls.push_back("read:" + std::to_string(count) + ":" + std::to_string(totalTimeoutMs));
        const uint32_t n = std::min<uint32_t>(count, static_cast<uint32_t>(log_->answer.size()));
        std::copy_n(log_->answer.begin(), n, into);
        return n;
    }

private:
    std::shared_ptr<FakePortLog> log_;
};

}  // namespace

std::unique_ptr<SerialPort> MakeFakePort(std::shared_ptr<FakePortLog> log) {
    return std::make_unique<FakePort>(std::move(log));
}

std::string Hex(const uint8_t* bytes, size_t n) {
    std::string out;
    char buf[4];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(buf, sizeof buf, "%02X", bytes[i]);
        if (i) out += ' ';
        out += buf;
    }
    return out;
}

std::string Hex(const std::vector<uint8_t>& bytes) { return Hex(bytes.data(), bytes.size()); }

}  // namespace veresk::testing
