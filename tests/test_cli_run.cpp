// veresk-cli as a whole process, every command against the simulator on a
// pseudo-terminal, linked into a private port map (XDG_CONFIG_HOME): output, exit codes
// and what went over the wire.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "archive/export.h"
#include "link/codecs.h"
#include "settings/parameters.h"
#include "support/cli_support.h"
#include "support/test_support.h"

using namespace veresk;
using namespace veresk::testing;

namespace {

// The device on COM4 and a second, silent simulator on COM2 that answers nothing (a
// port that opens but holds no dosimeter); both log what reaches them.
class CliRun : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(device.Start(false));
        ASSERT_TRUE(silent.Start(false));
        silent.SetSilent(true);
        ASSERT_TRUE(sandbox.Link(device, 4));
        ASSERT_TRUE(sandbox.Link(silent, 2));
        SetKnownReadings(device);
        device.WithDevice([](sim::Device& d) {
            auto& s = d.State();
            s.charging = true;
            s.pulseCount = 1234;
            s.measurementCount = 42;
            s.measurementTime = 30;
            s.runningTime = 93784;
            auto& p = s.parameters;
            EncodeDeviceFloat(0.5, p.data() + param_offset::RateThresholds);
            EncodeDeviceFloat(100, p.data() + param_offset::DoseThresholds);
            p[param_offset::FirmwareVersion] = 12;
            p[param_offset::BacklightTime] = 60;
            p[param_offset::EditionFlags] = 0x04;
        });
    }
    // Every request the silent port got was a probe: nothing else was written to it.
    void ExpectOnlyProbesOnTheSilentPort() {
        for (const sim::Request& r : silent.Requests()) {
            EXPECT_EQ(r.command, 0x10);
            EXPECT_EQ(r.length, 20);
            EXPECT_EQ(r.address, 128);
        }
    }
    QJsonObject Json(const CliResult& r) {
        QJsonParseError error;
        const QJsonObject o = QJsonDocument::fromJson(r.out.toUtf8(), &error).object();
        EXPECT_EQ(error.error, QJsonParseError::NoError) << r.out.toStdString();
        return o;
    }
    size_t Count(uint8_t command) const {
        size_t n = 0;
        for (const auto& r : device.Requests()) n += r.command == command;
        return n;
    }

    PortMapSandbox sandbox;
    sim::Simulator device;
    sim::Simulator silent;
};

}  // namespace

TEST_F(CliRun, PortsListsWhatOpensAndMarksTheDevice) {
    const CliResult r = RunCli({"ports"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, QStringLiteral("COM2\t%1/COM2\nCOM4\t%1/COM4\tdosimeter\n").arg(sandbox.Folder()));
    EXPECT_EQ(silent.Requests().size(), 1u);
    ExpectOnlyProbesOnTheSilentPort();
}

TEST_F(CliRun, StatusBySearchAsJsonAndAsATable) {
    const CliResult r = RunCli({"status", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QJsonObject o = Json(r);
    EXPECT_EQ(o.value("port").toString(), "COM4");
    EXPECT_DOUBLE_EQ(o.value("dose_rate_usv_h").toDouble(), 0.25);
    EXPECT_DOUBLE_EQ(o.value("dose_usv").toDouble(), 12.5);
    EXPECT_DOUBLE_EQ(o.value("temperature_c").toDouble(), 21.5);
    EXPECT_DOUBLE_EQ(o.value("battery_mv").toDouble(), 3900);
    EXPECT_TRUE(o.value("charging").toBool());
    EXPECT_EQ(o.value("pulse_count").toInt(), 1234);
    EXPECT_EQ(o.value("measurement_count").toInt(), 42);
    EXPECT_EQ(o.value("running_time_s").toInt(), 93784);
    EXPECT_LE(std::abs(o.value("clock_offset_s").toInt()), 1);
    ExpectOnlyProbesOnTheSilentPort();

    const CliResult table = RunCli({"status"});
    ASSERT_EQ(table.exitCode, 0);
    EXPECT_TRUE(table.out.contains(QRegularExpression("dose rate +0.250 uSv/h\\n"))) << table.out.toStdString();
    EXPECT_TRUE(table.out.contains(QRegularExpression("charging +yes\\n")));
    ExpectOnlyProbesOnTheSilentPort();
}

TEST_F(CliRun, StatusByNumberAndByPathLeavesAnOffClockAlone) {
    device.WithDevice([](sim::Device& d) { d.State().clockOffset = 3600; });
    const CliResult byNumber = RunCli({"status", "--json", "--port", "4"});
    ASSERT_EQ(byNumber.exitCode, 0) << byNumber.err.toStdString();
    EXPECT_NEAR(Json(byNumber).value("clock_offset_s").toDouble(), 3600, 2);
    const CliResult byPath = RunCli({"status", "--json", "--device", device.SlavePath()});
    ASSERT_EQ(byPath.exitCode, 0) << byPath.err.toStdString();
    EXPECT_EQ(Json(byPath).value("port").toString(), device.SlavePath());
    EXPECT_EQ(Count(0xBB), 0u);
    EXPECT_TRUE(silent.Requests().empty());  // a named port: no search at all
}

TEST_F(CliRun, ParamsAsJsonAndAsATable) {
    const CliResult r = RunCli({"params", "--json", "--port", "4"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QJsonObject o = Json(r);
    EXPECT_EQ(o.value("FirmwareVersion").toInt(), 12);
    EXPECT_EQ(o.value("BacklightTime").toInt(), 60);
    EXPECT_EQ(o.value("DeviceEdition").toInt(), 1);
    EXPECT_DOUBLE_EQ(o.value("RateThresholds").toArray().at(0).toDouble(), 0.5);
    EXPECT_DOUBLE_EQ(o.value("DoseThresholds").toArray().at(0).toDouble(), 100);
    const CliResult table = RunCli({"params"});
    ASSERT_EQ(table.exitCode, 0);
    EXPECT_TRUE(table.out.contains(QRegularExpression("FirmwareVersion +12\\n"))) << table.out.toStdString();
    EXPECT_TRUE(table.out.contains(QRegularExpression("RateThresholds\\[0\\] +0.5\\n")));
}

TEST_F(CliRun, ArchiveImageIsTheDevicesMemory) {
    sim::Options full;
    full.genSessions = 40;
    full.genRecords = 80;  // fills all 16 blocks
    sim::Simulator loaded(full);
    ASSERT_TRUE(loaded.Start(false));
    ASSERT_TRUE(sandbox.Link(loaded, 6));
    std::vector<uint8_t> memory;
    loaded.WithDevice([&](sim::Device& d) { memory = d.State().archive; });
    QTemporaryDir out;
    const QString bin = out.path() + "/a.bin";
    const QString csv = out.path() + "/a.csv";
    const CliResult r = RunCli({"archive", "--out", bin, "--csv", csv, "--port", "6"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    QFile f(bin);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray image = f.readAll();
    ASSERT_EQ(image.size(), 32768);
    EXPECT_EQ(image, QByteArray(reinterpret_cast<const char*>(memory.data()), 32768));
    EXPECT_TRUE(r.out.contains("40 sessions, 3200 measurements")) << r.out.toStdString();
    // The program's export of that image, byte for byte.
    QFile c(csv);
    ASSERT_TRUE(c.open(QIODevice::ReadOnly));
    ArchiveImageT expected{};
    std::copy_n(memory.begin(), kArchiveSize, expected.begin());
    const QByteArray text = c.readAll();
    EXPECT_EQ(text, ArchiveCsv(expected));
    EXPECT_TRUE(text.startsWith("session,record,time,dose_rate_usv_h\r\n"));
    EXPECT_EQ(text.count("\r\n"), 3201);
    size_t blocks = 0;
    for (const auto& q : loaded.Requests()) blocks += q.command == 0x25;
    EXPECT_EQ(blocks, 16u);
}

// The port a command works on is claimed as the program claims it (a --device path
// too), a port another program holds is left alone, and the claims are gone however the
// command ends: normally, or by SIGINT, SIGTERM or SIGHUP in the middle of a download.
TEST_F(CliRun, PortClaimsAreMadeAndAlwaysGiveUp) {
    const QByteArray tty = QFileInfo(device.SlavePath()).canonicalFilePath().toLocal8Bit();
    const QString lockFile = sandbox.LockFolder() + "/LCK.." + QFileInfo(QString::fromLocal8Bit(tty)).fileName();
    const auto locks = [&] { return QDir(sandbox.LockFolder()).entryList(QDir::Files | QDir::System); };
    const auto exclusive = [&] {
        const int fd = ::open(tty.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        int on = -1;
        if (fd >= 0) ::ioctl(fd, TIOCGEXCL, &on);
        if (fd >= 0) ::close(fd);
        return on;
    };

    // Held by another program (an exclusive flock): neither a number nor a path gets it.
    {
        const int other = ::open(tty.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(other, 0);
        ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
        for (const QStringList& args : {QStringList{"status", "--device", device.SlavePath()},
                                        QStringList{"status", "--port", "4"}}) {
            const CliResult r = RunCli(args);
            EXPECT_EQ(r.exitCode, 2) << r.err.toStdString();
            EXPECT_TRUE(r.err.contains("cannot open port")) << r.err.toStdString();
        }
        const CliResult busy = RunCli({"ports"});  // a port that cannot be opened is not listed
        EXPECT_EQ(busy.exitCode, 2) << busy.err.toStdString();
        EXPECT_EQ(busy.out, QStringLiteral("COM2\t%1/COM2\n").arg(sandbox.Folder()));
        ::close(other);
        EXPECT_TRUE(device.Requests().empty());
        const CliResult ports = RunCli({"ports"});
        EXPECT_TRUE(ports.out.contains("COM4")) << ports.out.toStdString();  // free again
    }

    // While a log runs on a --device path its claims stand, under the device's own name.
    {
        QTemporaryDir csv;
        CliProcess log({"log", "--device", device.SlavePath(), "--csv-dir", csv.path()});
        ASSERT_TRUE(log.WaitForErr("link up", 10000)) << log.Err().toStdString();
        EXPECT_EQ(locks(), QStringList{QFileInfo(lockFile).fileName()});
        EXPECT_NE(exclusive(), 0);  // exclusive mode (the open is refused, or shows it)
        const CliResult other = RunCli({"status", "--port", "4"});
        EXPECT_EQ(other.exitCode, 2) << other.err.toStdString();
        EXPECT_EQ(log.Terminate(), 0);
        EXPECT_TRUE(locks().isEmpty());
        EXPECT_EQ(exclusive(), 0);
    }

    // A download cut short by a signal.
    sim::Options full;
    full.genSessions = 40;
    full.genRecords = 80;
    sim::Simulator loaded(full);
    loaded.SetPaced(true);  // about 6 s for the whole memory
    ASSERT_TRUE(loaded.Start(false));
    ASSERT_TRUE(sandbox.Link(loaded, 6));
    const QByteArray loadedTty = QFileInfo(loaded.SlavePath()).canonicalFilePath().toLocal8Bit();
    QTemporaryDir out;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(strsignal(signal));
        loaded.ClearLog();
        QProcess cli;
        cli.setProcessEnvironment(CliEnvironment());
        cli.start(QStringLiteral(VERESK_CLI), {"archive", "--port", "6", "--out", out.path() + "/a.bin"});
        ASSERT_TRUE(cli.waitForStarted(10000));
        ASSERT_TRUE(loaded.WaitForRequests(3, 10000));  // the download is under way
        ASSERT_EQ(locks().size(), 1);
        ::kill(static_cast<pid_t>(cli.processId()), signal);
        ASSERT_TRUE(cli.waitForFinished(5000));
        EXPECT_EQ(cli.exitStatus(), QProcess::CrashExit);  // ended by the signal, at once
        EXPECT_FALSE(QFile::exists(out.path() + "/a.bin"));
        EXPECT_TRUE(locks().isEmpty());
        const int fd = ::open(loadedTty.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(fd, 0);
        int on = -1;
        ::ioctl(fd, TIOCGEXCL, &on);
        EXPECT_EQ(on, 0);  // not left in exclusive mode
        ::close(fd);
        // The next command works at once, though the device is still sending the rest of
        // the block it was asked for.
        const CliResult next = RunCli({signal == SIGTERM ? "params" : "status", "--port", "6"});
        EXPECT_EQ(next.exitCode, 0) << next.err.toStdString();
    }
}

TEST_F(CliRun, SetClockPutsTheDeviceClockInStep) {
    device.WithDevice([](sim::Device& d) { d.State().clockOffset = -5000; });
    const CliResult r = RunCli({"set-clock"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.startsWith("device clock set: ")) << r.out.toStdString();
    EXPECT_EQ(Count(0xBB), 1u);
    long long offset = 0;
    device.WithDevice([&](sim::Device& d) { offset = d.State().clockOffset; });
    EXPECT_LE(std::abs(offset), 1);
    ExpectOnlyProbesOnTheSilentPort();
}

TEST_F(CliRun, ExitCodesAndMessages) {
    QTemporaryDir scratch;
    struct Case {
        const char* what;
        QStringList args;
        std::function<void()> prepare;
        int code;
        std::string err;
    };
    const std::vector<Case> cases = {
        {"usage", {"stat"}, nullptr, 1, "unknown command 'stat'"},
        {"usage", {"status", "--port", "300"}, nullptr, 1, "--port needs a number from 1 to 255"},
        {"no such port", {"status", "--port", "9"}, nullptr, 2, "cannot open port COM9"},
        {"named silent port", {"params", "--port", "2"}, nullptr, 2, "no answer from the dosimeter on COM2"},
        {"named silent port", {"status", "--port", "2"}, nullptr, 2, "no answer from the dosimeter on COM2"},
        {"short answers", {"status", "--port", "4"}, [&] { device.SetShortBy(5); }, 3, "link failure on COM4"},
        {"bad CRCs", {"status", "--port", "4"}, [&] { device.SetShortBy(0), device.CorruptNextCrc(100); }, 3,
         "CRC error on COM4"},
        {"bad CRCs", {"params", "--port", "4"}, nullptr, 3, "CRC error on COM4"},
        {"unwritable image", {"archive", "--port", "4", "--out", scratch.path() + "/no/such/a.bin"},
         [&] { device.CorruptNextCrc(0); }, 4, "cannot write"},
        {"unwritable CSV", {"archive", "--port", "4", "--out", scratch.path() + "/a.bin", "--csv", scratch.path() + "/no/a.csv"},
         nullptr, 4, "cannot write " + (scratch.path() + "/no/a.csv: ").toStdString()},
        {"CSV folder under a file", {"log", "--port", "4", "--csv-dir", scratch.path() + "/a.bin/log"},
         [&] { QFile f(scratch.path() + "/a.bin"); f.open(QIODevice::WriteOnly); }, 4, "the folder cannot be created"},
        {"unwritable textfile", {"log", "--port", "4", "--textfile", scratch.path() + "/no/such/x.prom"}, nullptr, 4,
         "cannot write " + (scratch.path() + "/no/such/x.prom: ").toStdString()},
        {"no device anywhere", {"status"}, [&] { QFile::remove(sandbox.Folder() + "/COM4"); }, 2,
         "the dosimeter answers on no port"},
        {"no port at all", {"ports"}, [&] { QFile::remove(sandbox.Folder() + "/COM2"); }, 2, "no port can be opened"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what + (": " + c.args.join(' ')).toStdString());
        if (c.prepare) c.prepare();
        const CliResult r = RunCli(c.args);
        EXPECT_EQ(r.exitCode, c.code);
        EXPECT_TRUE(r.err.startsWith("veresk-cli: ")) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QString::fromStdString(c.err))) << r.err.toStdString();
        EXPECT_TRUE(c.code == 1 || r.out.isEmpty()) << r.out.toStdString();
    }
}

TEST_F(CliRun, HelpOnEveryCommandInBothLanguages) {
    for (const char* command : {"ports", "status", "params", "archive", "set-clock", "log"}) {
        SCOPED_TRACE(command);
        const CliResult r = RunCli({command, "--help"});
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_TRUE(r.out.startsWith(QStringLiteral("Usage: veresk-cli %1").arg(command))) << r.out.toStdString();
        EXPECT_TRUE(r.err.isEmpty());
    }
    EXPECT_TRUE(device.Requests().empty() && silent.Requests().empty());
    qputenv("LC_ALL", "ru_RU.UTF-8");
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(VERESK_CLI), {"status", "--help"});
    ASSERT_TRUE(p.waitForFinished(10000));
    qputenv("LC_ALL", "C.UTF-8");
    EXPECT_TRUE(QString::fromUtf8(p.readAllStandardOutput()).startsWith(QString::fromUtf8("Использование: veresk-cli status")));
    const CliResult none = RunCli({});
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_TRUE(none.err.contains("Usage: veresk-cli COMMAND"));
}
