// The serial port on Linux, against the simulator over a pseudo-terminal: ports that
// other programs have claimed, our own claims, hang-ups, low-latency mode, and the
// device clock check (damaged clock bytes, a PC clock the device cannot hold).
#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <iostream>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "link/codecs.h"
#include "link/discovery.h"
#include "link/link.h"
#include "link/port_unix.h"
#include "monitor/clock.h"
#include "monitor/polling.h"
#include "support/data_files.h"
#include "support/test_support.h"

using namespace veresk;
using namespace veresk::testing;

namespace {

QByteArray RealPath(const std::string& path) {
    char buf[PATH_MAX];
    return ::realpath(path.c_str(), buf) ? QByteArray(buf) : QByteArray();
}

QByteArray LockText(pid_t pid) {
    char text[16];
    std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(pid));
    return QByteArray(text);
}

// Milliseconds of CPU time this process has used so far.
long CpuMs() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000L + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000L;
}

// CPU time used while the event loop runs for `ms`.
long CpuMsWhileIdle(int ms) {
    const long before = CpuMs();
    QTest::qWait(ms);
    return CpuMs() - before;
}

// The ways a serial program claims a port.
enum class Claim { LockFile, Flock, Exclusive };
const char* Name(Claim c) {
    switch (c) {
    case Claim::LockFile: return "lock file";
    case Claim::Flock: return "flock";
    case Claim::Exclusive: return "exclusive mode";
    }
    return "";
}

// Another program: a child process that claims the port one way and waits to be killed.
class OtherProgram {
public:
    ~OtherProgram() { Kill(); }
    bool Start(Claim how, const QByteArray& device, const QByteArray& lockPath) {
        int ready[2];
        if (::pipe(ready) != 0) return false;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(ready[0]);
            bool ok = false;
            if (how == Claim::LockFile) {
                const QByteArray text = LockText(::getpid());
                const int fd = ::open(lockPath.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
                ok = fd >= 0 && ::write(fd, text.constData(), 11) == 11;
            } else {
                const int fd = ::open(device.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
                ok = fd >= 0 && (how == Claim::Flock ? ::flock(fd, LOCK_EX | LOCK_NB) : ::ioctl(fd, TIOCEXCL)) == 0;
            }
            const char b = ok ? 1 : 0;
            [[maybe_unused]] const ssize_t w = ::write(ready[1], &b, 1);
            for (;;) ::pause();
        }
        ::close(ready[1]);
        char b = 0;
        const bool started = pid_ > 0 && ::read(ready[0], &b, 1) == 1 && b == 1;
        ::close(ready[0]);
        return started;
    }
    void Kill() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
};

// A port list that only collects what the scan and the search put in it.
struct CollectedList final : PortList {
    QStringList items;
    void Clear() override { items.clear(); }
    void Append(const QString& item) override { items << item; }
    int Count() const override { return static_cast<int>(items.size()); }
    QString Item(int index) const override { return items.value(index); }
    void Select(int) override {}
    void Progress(int) override {}
};

class SystemPort : public ::testing::Test {
protected:
    PortMapSandbox sandbox;
    sim::Simulator simulator;
    QByteArray device;  // the pty's real path
    QByteArray lockPath;

    void SetUp() override {
        ResetLinkState();
        SetPortOpener(nullptr);
        SetPcClockSource(nullptr);
        ASSERT_TRUE(simulator.Start(false));
        ASSERT_TRUE(sandbox.Link(simulator, 3));
        device = RealPath(simulator.SlavePath().toStdString());
        ASSERT_FALSE(device.isEmpty());
        lockPath = QFile::encodeName(LockFilePath(QFile::decodeName(device)));
    }
    void TearDown() override {
        ResetLinkState();
        SetPcClockSource(nullptr);
    }
    QString Com3() const { return sandbox.Folder() + QStringLiteral("/COM3"); }
    QStringList Locks() const { return QDir(sandbox.LockFolder()).entryList(QDir::Files | QDir::System); }
    QByteArray LockContent() const {
        QFile f(QFile::decodeName(lockPath));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    // Another descriptor on the device, as a second program would have.
    int OpenAgain() const { return ::open(device.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK); }
    static int ExclusiveFlag(int fd) {
        int on = -1;
        ::ioctl(fd, TIOCGEXCL, &on);
        return on;
    }
};

TEST_F(SystemPort, LockFileIsNamedAfterTheRealDevice) {
    EXPECT_EQ(QFileInfo(QFile::decodeName(lockPath)).fileName(),
              QStringLiteral("LCK..") + QFileInfo(QFile::decodeName(device)).fileName());
    EXPECT_EQ(QFileInfo(QFile::decodeName(lockPath)).absolutePath(), sandbox.LockFolder());
}

TEST_F(SystemPort, PortClaimedByAnotherProgramIsBusyAndGetsNoByte) {
    for (const Claim how : {Claim::LockFile, Claim::Flock, Claim::Exclusive}) {
        SCOPED_TRACE(Name(how));
        ResetLinkState();
        simulator.ClearLog();
        OtherProgram other;
        ASSERT_TRUE(other.Start(how, device, lockPath));

        EXPECT_EQ(OpenSystemPortAt(Com3()), nullptr);
        EXPECT_EQ(OpenSystemPortAt(QFile::decodeName(device)), nullptr);
        // The scan does not list it, the search does not find the device on it, and the
        // tick cannot open it.
        CollectedList list;
        ScanPorts(list);
        EXPECT_TRUE(list.items.isEmpty());
        list.items = QStringList{"3"};
        SearchDevice(list);
        EXPECT_EQ(Link.DevicePort, 0);
        Link.DevicePort = 3;
        EXPECT_EQ(PollDevice().outcome, PollOutcome::OpenFailed);
        EXPECT_TRUE(simulator.RawReceived().empty()) << Hex(simulator.RawReceived());

        other.Kill();
        if (how == Claim::Exclusive) {
            // The mode outlives the program while the simulator keeps the pty open.
            const int fd = OpenAgain();
            ::ioctl(fd, TIOCNXCL);
            ::close(fd);
        }
        // Once the other program is gone the port opens; its lock file, now stale, is
        // taken over.
        auto port = OpenSystemPortAt(Com3());
        ASSERT_NE(port, nullptr);
        EXPECT_EQ(LockContent(), LockText(::getpid()));
        port.reset();
        EXPECT_TRUE(Locks().isEmpty());
    }
}

TEST_F(SystemPort, OtherProgramsSeeOurClaimUntilTheCloseReleasesIt) {
    auto port = OpenSystemPort(3);
    ASSERT_NE(port, nullptr);
    // A lock file under the device's real name with our PID in ten characters.
    EXPECT_EQ(Locks(), QStringList{QFileInfo(QFile::decodeName(lockPath)).fileName()});
    EXPECT_EQ(LockContent(), LockText(::getpid()));
    EXPECT_EQ(LockContent().size(), 11);
    // An exclusive flock and the terminal's exclusive mode.
    const int fd = OpenAgain();
    if (fd >= 0) {  // a privileged process may still open it
        EXPECT_NE(::flock(fd, LOCK_EX | LOCK_NB), 0);
        EXPECT_EQ(errno, EWOULDBLOCK);
        EXPECT_EQ(ExclusiveFlag(fd), 1);
    } else {
        EXPECT_EQ(errno, EBUSY);
    }
    if (::geteuid() == 0) {
        // An ordinary user's program is refused by the terminal itself.
        ASSERT_EQ(::chmod(device.constData(), 0666), 0);
        const pid_t child = ::fork();
        if (child == 0) {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
            const int f = ::open(device.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
            ::_exit(f < 0 && errno == EBUSY ? 0 : 1);
        }
        int status = -1;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    // A second open in this program is refused too.
    EXPECT_EQ(OpenSystemPort(3), nullptr);

    port.reset();
    EXPECT_TRUE(Locks().isEmpty());
    const int again = OpenAgain();
    ASSERT_GE(again, 0);
    EXPECT_EQ(::flock(again, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(ExclusiveFlag(again), 0);
    ::close(again);
    ::close(fd);
}

TEST_F(SystemPort, StaleLockFilesAreTakenOver) {
    const pid_t gone = ::fork();
    if (gone == 0) ::_exit(0);
    ::waitpid(gone, nullptr, 0);
    struct Case {
        const char* what;
        QByteArray content;
    };
    for (const Case& c : {Case{"PID of a process that has ended", LockText(gone)},
                          Case{"no PID, written a minute ago", QByteArray("\n")}}) {
        SCOPED_TRACE(c.what);
        QFile f(QFile::decodeName(lockPath));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(c.content);
        f.close();
        const QDateTime minuteAgo = QDateTime::currentDateTime().addSecs(-60);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite) && f.setFileTime(minuteAgo, QFileDevice::FileModificationTime));
        f.close();
        auto port = OpenSystemPortAt(Com3());
        ASSERT_NE(port, nullptr);
        EXPECT_EQ(LockContent(), LockText(::getpid()));
    }
    // A lock of a live process (here: the one that started the tests), or one that is
    // still being written, is respected.
    for (const QByteArray& content : {LockText(::getppid()), QByteArray()}) {
        QFile f(QFile::decodeName(lockPath));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(content);
        f.close();
        EXPECT_EQ(OpenSystemPortAt(Com3()), nullptr) << content.toStdString();
        EXPECT_EQ(LockContent(), content);
    }
}

TEST_F(SystemPort, LowLatencyRefusedByTheDriverIsSkippedSilently) {
    // Pseudo-terminals have no serial driver settings: the request is refused, and the
    // port opens and works all the same.
    const int fd = OpenAgain();
    ASSERT_GE(fd, 0);
    EXPECT_EQ(RequestLowLatency(fd), LowLatency::Refused);
    ::close(fd);
    Link.DevicePort = 3;
    const PollOutcome outcome = PollDevice().outcome;
    EXPECT_TRUE(outcome == PollOutcome::Good || outcome == PollOutcome::ClockSet);
}

TEST_F(SystemPort, HangUpBetweenExchangesClosesThePortWithoutSpinning) {
    Link.DevicePort = 3;
    ASSERT_NE(OpenDevicePort(), nullptr);
    ReadTransaction(StatusCommand, StatusLength, StatusAddress);
    ASSERT_EQ(JudgeAnswer(StatusLength), AnswerVerdict::Good);
    ASSERT_NE(Link.PortHandle, nullptr);  // left open, as after every exchange
    const long before = CpuMsWhileIdle(3000);

    // The adapter is unplugged: its line hangs up and its device node goes (the link is
    // left dangling, so that a new pseudo-terminal of the same number is never reached).
    simulator.Stop();
    QFile::remove(Com3());
    ASSERT_TRUE(QFile::link(sandbox.Folder() + QStringLiteral("/unplugged-tty"), Com3()));
    const long after = CpuMsWhileIdle(3000);
    std::cout << "CPU over 3 s with the port open: " << before << " ms; after the hang-up: " << after << " ms\n";
    EXPECT_EQ(Link.PortHandle, nullptr);
    EXPECT_TRUE(Locks().isEmpty());
    EXPECT_LT(after, 300);  // a spin would use about 3000 ms

    // The next exchange opens afresh and reports the failure as usual.
    const PollResult r = PollDevice();
    EXPECT_EQ(r.outcome, PollOutcome::OpenFailed);
    EXPECT_TRUE(r.showNoLink);
}

TEST_F(SystemPort, HangUpDuringAnExchangeClosesThePort) {
    Link.DevicePort = 3;
    ASSERT_NE(OpenDevicePort(), nullptr);
    simulator.Stop();
    ReadTransaction(StatusCommand, StatusLength, StatusAddress);
    EXPECT_EQ(Link.BytesTransferred, 0u);
    EXPECT_EQ(Link.PortHandle, nullptr);
    EXPECT_TRUE(Locks().isEmpty());
    const long cpu = CpuMsWhileIdle(500);
    EXPECT_LT(cpu, 100);
}

// A command written is never taken back: the purge and the open of the next exchange,
// following at once (set-clock then a status read, a parameter write then its read-back),
// drop only what came in, never what was sent.
TEST_F(SystemPort, WriteFollowedAtOnceByAnExchangeReachesTheDevice) {
    Link.DevicePort = 3;
    constexpr int kRounds = 40;
    for (int i = 0; i < kRounds; ++i) {
        ASSERT_TRUE(SetDeviceClock());
        const PollResult r = PollDevice(false);
        ASSERT_EQ(r.outcome, PollOutcome::Good) << "round " << i;
    }
    ASSERT_TRUE(simulator.WaitForRequests(2 * kRounds, 3000));
    int clockSets = 0;
    for (const sim::Request& r : simulator.Requests()) clockSets += r.command == SetClockCommand && r.payloadCrcOk;
    EXPECT_EQ(clockSets, kRounds);
}

// ------------------------------------------------------------ the device clock check

struct ClockCase {
    const char* what;
    std::array<uint8_t, 7> bytes;  // s, min, h, weekday, day, month, year-2000
};

// Each of these, read digit by digit and normalised by the local-time conversion, gives
// a real time; none of them is a valid clock.
const ClockCase kDamaged[] = {
    {"hour nibble above 9", {0x58, 0x30, 0x1A, 0x04, 0x10, 0x12, 0x26}},
    {"second nibble above 9", {0x5F, 0x30, 0x20, 0x04, 0x10, 0x12, 0x26}},
    {"minute nibble above 9", {0x58, 0x3C, 0x20, 0x04, 0x10, 0x12, 0x26}},
    {"day nibble above 9", {0x58, 0x30, 0x20, 0x04, 0x1F, 0x12, 0x26}},
    {"month nibble above 9", {0x58, 0x30, 0x20, 0x04, 0x10, 0x0B, 0x26}},
    {"year nibble above 9", {0x58, 0x30, 0x20, 0x04, 0x10, 0x12, 0x2A}},
    {"second 60", {0x60, 0x30, 0x20, 0x04, 0x10, 0x12, 0x26}},
    {"minute 60", {0x58, 0x60, 0x20, 0x04, 0x10, 0x12, 0x26}},
    {"hour 24", {0x58, 0x30, 0x24, 0x04, 0x10, 0x12, 0x26}},
    {"day 0", {0x58, 0x30, 0x20, 0x04, 0x00, 0x05, 0x26}},
    {"day 32", {0x58, 0x30, 0x20, 0x04, 0x32, 0x05, 0x26}},
    {"31 April", {0x58, 0x30, 0x20, 0x04, 0x31, 0x04, 0x26}},
    {"29 February 2026", {0x58, 0x30, 0x20, 0x04, 0x29, 0x02, 0x26}},
    {"month 0", {0x58, 0x30, 0x20, 0x04, 0x10, 0x00, 0x26}},
    {"month 13", {0x58, 0x30, 0x20, 0x04, 0x10, 0x13, 0x26}},
};

const ClockCase kValid[] = {
    {"10 December 2026, 20:30:58", {0x58, 0x30, 0x20, 0x04, 0x10, 0x12, 0x26}},
    {"29 February 2028", {0x00, 0x00, 0x00, 0x02, 0x29, 0x02, 0x28}},
    {"31 December 2099, 23:59:59", {0x59, 0x59, 0x23, 0x04, 0x31, 0x12, 0x99}},
    {"1 January 2000, 00:00:00, weekday not judged", {0x00, 0x00, 0x00, 0x0F, 0x01, 0x01, 0x00}},
};

TEST(DeviceClockBytes, ValidOnlyWhenEveryFieldIsBcdInItsRange) {
    for (const ClockCase& c : kDamaged) EXPECT_FALSE(DeviceClockBytesValid(c.bytes.data())) << c.what;
    for (const ClockCase& c : kValid) EXPECT_TRUE(DeviceClockBytesValid(c.bytes.data())) << c.what;
}

// The time the digits give when each byte is read as two decimal digits and the
// local-time conversion normalises the result.
std::time_t NaiveClockTime(const std::array<uint8_t, 7>& b) {
    DeviceClockFields f;
    f.second = DecodeBcd(b[0]);
    f.minute = DecodeBcd(b[1]);
    f.hour = DecodeBcd(b[2]);
    f.day = DecodeBcd(b[4]);
    f.month = DecodeBcd(b[5]);
    f.year = DecodeBcd(b[6]);
    const std::time_t guess = DeviceClockToTime(f, std::time(nullptr));
    return DeviceClockToTime(f, guess);
}

class ClockCheck : public SystemPort {
protected:
    std::vector<sim::Request> ClockWrites() const {
        std::vector<sim::Request> writes;
        for (const auto& r : simulator.Requests())
            if (r.command == SetClockCommand) writes.push_back(r);
        return writes;
    }
    // One tick with the device reporting `bytes` and the PC clock at `pcNow`.
    PollOutcome Tick(const std::array<uint8_t, 7>& bytes, std::time_t pcNow) {
        simulator.WithDevice([&](sim::Device& d) { d.State().clockBytes.assign(bytes.begin(), bytes.end()); });
        simulator.ClearLog();
        SetPcClockSource([pcNow] { return pcNow; });
        Link.DevicePort = 3;
        return PollDevice().outcome;
    }
};

TEST_F(ClockCheck, DamagedClockIsSetEvenWhenItsDigitsLookRight) {
    for (const ClockCase& c : kDamaged) {
        // The PC clock at exactly the time the damaged digits seem to give.
        const std::time_t pc = NaiveClockTime(c.bytes);
        EXPECT_EQ(Tick(c.bytes, pc), PollOutcome::ClockSet) << c.what;
        ASSERT_TRUE(simulator.WaitForRequests(2, 1000)) << c.what;
        const auto writes = ClockWrites();
        ASSERT_EQ(writes.size(), 1u) << c.what;
        const auto expected = ClockBytes(pc);
        EXPECT_EQ(Hex(writes[0].payload), Hex(expected.data(), expected.size())) << c.what;
    }
    for (const ClockCase& c : kValid) {
        EXPECT_EQ(Tick(c.bytes, NaiveClockTime(c.bytes)), PollOutcome::Good) << c.what;
        EXPECT_TRUE(ClockWrites().empty()) << c.what;
    }
}

TEST_F(ClockCheck, PcClockTheDeviceCannotHoldIsNotWritten) {
    const std::array<uint8_t, 7> deviceClock = {0x58, 0x30, 0x20, 0x04, 0x10, 0x12, 0x26};
    struct Case {
        std::time_t pc;
        PollOutcome outcome;
    };
    for (const Case c : {Case{LocalTime(1999, 12, 31, 12, 0, 0), PollOutcome::Good},
                         Case{LocalTime(2100, 1, 1, 12, 0, 0), PollOutcome::Good},
                         Case{LocalTime(2000, 1, 1, 12, 0, 0), PollOutcome::ClockSet},
                         Case{LocalTime(2099, 12, 31, 12, 0, 0), PollOutcome::ClockSet}}) {
        EXPECT_EQ(Tick(deviceClock, c.pc), c.outcome) << c.pc;
        if (c.outcome == PollOutcome::ClockSet) {
            ASSERT_TRUE(simulator.WaitForRequests(2, 1000));
        } else {
            EXPECT_FALSE(simulator.WaitForRequests(2, 200));
        }
        EXPECT_EQ(ClockWrites().size(), c.outcome == PollOutcome::ClockSet ? 1u : 0u) << c.pc;
        EXPECT_EQ(PcClockWritable(c.pc), c.outcome == PollOutcome::ClockSet);
    }
    // A damaged device clock with such a PC clock is not written either.
    EXPECT_EQ(Tick({0x58, 0x30, 0x1A, 0x04, 0x10, 0x12, 0x26}, LocalTime(1999, 6, 1, 12, 0, 0)), PollOutcome::Good);
    EXPECT_FALSE(simulator.WaitForRequests(2, 200));
}

}  // namespace
