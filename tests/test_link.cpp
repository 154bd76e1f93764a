// The serial link: opening rules, the exchanges' order of calls and the bytes that go
// over the wire to the simulator.
#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <QThread>

#include "link/codecs.h"
#include "link/link.h"
#include "monitor/status.h"
#include "support/test_support.h"

using namespace veresk;
using veresk::testing::FakePortLog;
using veresk::testing::Hex;
using veresk::testing::MakeFakePort;
using veresk::testing::PortMapSandbox;

namespace {

// Installs an opener that hands out fake ports and remembers which numbers were asked for.
struct FakeOpener {
    std::shared_ptr<FakePortLog> log = std::make_shared<FakePortLog>();
    std::vector<int> asked;
    std::vector<int> present{1, 3, 5, 12};
    FakeOpener() {
        SetPortOpener([this](int n) -> std::unique_ptr<SerialPort> {
            asked.push_back(n);
            if (std::find(present.begin(), present.end(), n) == present.end()) return nullptr;
            return MakeFakePort(log);
        });
    }
    ~FakeOpener() { SetPortOpener(nullptr); }
};

class LinkTest : public ::testing::Test {
protected:
    void SetUp() override { ResetLinkState(); }
    void TearDown() override { ResetLinkState(); }
};

std::vector<uint8_t> WithCrc(std::vector<uint8_t> data) {
    const CrcRegister c = CrcBlock(data.data(), data.size());
    data.push_back(c.first);
    data.push_back(c.second);
    return data;
}

}  // namespace

TEST_F(LinkTest, ReadPurgesThenSendsLeadInHeaderAndReadsWithItsTimeout) {
    FakeOpener fake;
    Link.DevicePort = 3;
    ASSERT_NE(OpenDevicePort(), nullptr);
    ReadTransaction(0x10, 69, 117);
    const std::vector<std::string> expected = {"purge", "write:00", "write:10 00 45 00 75 35 F1", "read:71:72"};
    EXPECT_EQ(fake.log->calls, expected);

    // The scan's open allows one more millisecond.
    fake.log->calls.clear();
    ASSERT_NE(OpenPortNumber(5), nullptr);
    EXPECT_TRUE(Link.PortOpened);
    ReadTransaction(0x10, 20, 128);
    EXPECT_EQ(fake.log->calls.back(), "read:22:24");
}

TEST_F(LinkTest, WriteNeverPurgesAndSendsPayloadWithCrc) {
    FakeOpener fake;
    Link.DevicePort = 1;
    ASSERT_NE(OpenDevicePort(), nullptr);
    Link.IoBuffer.fill(0xFF);
    WriteTransaction(0x40, 0, 0);
    const std::vector<std::string> zero = {"write:00", "write:40 00 00 00 00 25 CF"};
    EXPECT_EQ(fake.log->calls, zero);

    fake.log->calls.clear();
    const uint8_t clock[7] = {0x07, 0x05, 0x14, 0x00, 0x09, 0x12, 0x29};
    std::copy_n(clock, 7, Link.IoBuffer.begin());
    WriteTransaction(0xBB, 7, 0);
    const auto payload = WithCrc({clock, clock + 7});
    const std::vector<std::string> seven = {"write:00", "write:BB 00 07 00 00 71 DA", "write:" + Hex(payload)};
    EXPECT_EQ(fake.log->calls, seven);
}

TEST_F(LinkTest, JudgingTakesLengthFirstThenBothResidualBytes) {
    FakeOpener fake;
    Link.DevicePort = 1;
    OpenDevicePort();
    std::vector<uint8_t> data(20);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + 1);
    const auto good = WithCrc(data);

    fake.log->answer = good;
    ReadTransaction(0x10, 20, 128);
    EXPECT_EQ(JudgeAnswer(20), AnswerVerdict::Good);

    // One byte short, although the bytes that came form a valid CRC of their own.
    auto shortAnswer = WithCrc({data.begin(), data.end() - 1});
    fake.log->answer = shortAnswer;
    ReadTransaction(0x10, 20, 128);
    EXPECT_EQ(Link.BytesTransferred, 21u);
    EXPECT_EQ(JudgeAnswer(20), AnswerVerdict::WrongLength);

    // Full length with exactly one residual byte zero.
    auto half = good;
    bool found = false;
    for (int v = 0; v < 65536 && !found; ++v) {
        half[20] = static_cast<uint8_t>(v);
        half[21] = static_cast<uint8_t>(v >> 8);
        const CrcRegister r = CrcBlock(half.data(), 22);
        found = (r.first == 0) != (r.second == 0);
    }
    ASSERT_TRUE(found);
    fake.log->answer = half;
    ReadTransaction(0x10, 20, 128);
    EXPECT_EQ(JudgeAnswer(20), AnswerVerdict::CrcFailure);

    // No port at all: nothing is sent and the read is a link failure.
    CloseDevicePort();
    fake.log->calls.clear();
    EXPECT_EQ(ReadTransaction(0x10, 69, 117), 0u);
    EXPECT_TRUE(fake.log->calls.empty());
    EXPECT_EQ(JudgeAnswer(69), AnswerVerdict::WrongLength);
}

TEST_F(LinkTest, OpenDevicePortChoosesTheNumber) {
    FakeOpener fake;
    Link.PortFieldText = "12";
    Link.DevicePort = 5;
    EXPECT_NE(OpenDevicePort(), nullptr);
    Link.DevicePort = 0;
    EXPECT_NE(OpenDevicePort(), nullptr);
    EXPECT_EQ(fake.asked, (std::vector<int>{5, 12}));

    // A field that holds no number opens nothing.
    for (const char* text : {"", "abc", "0", "256", "-3"}) {
        Link.PortFieldText = text;
        fake.asked.clear();
        EXPECT_EQ(OpenDevicePort(), nullptr) << text;
        EXPECT_TRUE(fake.asked.empty()) << text;
    }
    // The dialog's own field wins over the stored text once installed.
    Link.PortField = [] { return QStringLiteral(" 3 "); };
    fake.asked.clear();
    EXPECT_NE(OpenDevicePort(), nullptr);
    EXPECT_EQ(fake.asked, std::vector<int>{3});
}

TEST_F(LinkTest, OldHandleIsClosedEvenWhenTheNewOpenFails) {
    int alive = 0;
    struct Counted : SerialPort {
        int& alive;
        explicit Counted(int& a) : alive(a) { ++alive; }
        ~Counted() override { --alive; }
        void Purge() override {}
        uint32_t Write(const uint8_t*, uint32_t n) override { return n; }
        uint32_t Read(uint8_t*, uint32_t, int) override { return 0; }
    };
    int openedWhileAlive = -1;
    SetPortOpener([&](int n) -> std::unique_ptr<SerialPort> {
        openedWhileAlive = alive;
        if (n == 2) return nullptr;
        return std::make_unique<Counted>(alive);
    });
    ASSERT_NE(OpenPortNumber(1), nullptr);
    EXPECT_EQ(alive, 1);
    EXPECT_EQ(OpenPortNumber(2), nullptr);
    EXPECT_EQ(openedWhileAlive, 0);  // closed before the new open was tried
    EXPECT_EQ(alive, 0);
    EXPECT_FALSE(Link.PortOpened);
    ASSERT_NE(OpenPortNumber(1), nullptr);
    EXPECT_TRUE(Link.PortOpened);
    SetPortOpener(nullptr);
}

TEST(PortMap, ResolvesNamesThroughTheFolderOrTheDefaultTable) {
    {
        PortMapSandbox sandbox;
        ASSERT_TRUE(sandbox.AddSilentPort(3));
        EXPECT_EQ(ResolveComPort(3), sandbox.Folder() + "/COM3");
        // With a port map, nothing else exists: not even COM1 = /dev/ttyS0.
        EXPECT_TRUE(ResolveComPort(1).isEmpty());
        EXPECT_TRUE(ResolveComPort(4).isEmpty());
        EXPECT_EQ(OpenSystemPort(1), nullptr);
        EXPECT_NE(OpenSystemPort(3), nullptr);
    }
    // Without the folder, the usual device names (only resolved here, never opened).
    QTemporaryDir empty;
    const QByteArray old = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", empty.path().toUtf8());
    const std::pair<int, const char*> table[] = {{1, "/dev/ttyS0"},    {32, "/dev/ttyS31"},  {33, "/dev/ttyUSB0"},
                                                 {64, "/dev/ttyUSB31"}, {65, "/dev/ttyACM0"}, {96, "/dev/ttyACM31"},
                                                 {97, ""},              {0, ""},              {256, ""}};
    for (const auto& [n, path] : table) EXPECT_EQ(ResolveComPort(n).toStdString(), path) << n;
    qputenv("XDG_CONFIG_HOME", old);
}

// Over a pseudo-terminal to the simulator: what the device actually receives.
class LinkOverPty : public LinkTest {
protected:
    PortMapSandbox sandbox;
    sim::Simulator simulator;
    void SetUp() override {
        LinkTest::SetUp();
        ASSERT_TRUE(simulator.Start(false));
        ASSERT_TRUE(sandbox.Link(simulator, 7));
        Link.DevicePort = 7;
    }
};

TEST_F(LinkOverPty, StatusReadArrivesWholeAndDecodes) {
    simulator.WithDevice([](sim::Device& d) { d.State().dose = 4.5; d.State().runningTime = 3600; });
    ASSERT_NE(OpenDevicePort(), nullptr);
    Link.IoBuffer.fill(0);
    ReadTransaction(StatusCommand, StatusLength, StatusAddress);
    EXPECT_EQ(JudgeAnswer(StatusLength), AnswerVerdict::Good);
    const LiveStatusValues s = DecodeStatusBlock(Link.IoBuffer.data());
    EXPECT_FLOAT_EQ(s.Dose, 4.5f);
    EXPECT_EQ(s.RunningTime, 3600u);
    ASSERT_TRUE(simulator.WaitForRequests(1, 1000));
    EXPECT_EQ(Hex(simulator.RawReceived()), "00 10 00 45 00 75 35 F1");
}

TEST_F(LinkOverPty, WritesPutExactlyTheirBytesOnTheWire) {
    ASSERT_NE(OpenDevicePort(), nullptr);
    Link.IoBuffer.fill(0xFF);
    WriteTransaction(0x40, 0, 0);
    ASSERT_TRUE(simulator.WaitForRequests(1, 1000));
    EXPECT_EQ(Hex(simulator.RawReceived()), "00 40 00 00 00 00 25 CF");

    simulator.ClearLog();
    const uint8_t clock[7] = {0x07, 0x05, 0x14, 0x00, 0x09, 0x12, 0x29};
    std::copy_n(clock, 7, Link.IoBuffer.begin());
    ASSERT_NE(OpenDevicePort(), nullptr);
    WriteTransaction(0xBB, 7, 0);
    ASSERT_TRUE(simulator.WaitForRequests(1, 1000));
    const auto raw = simulator.RawReceived();
    ASSERT_EQ(raw.size(), 1u + 7 + 9);
    EXPECT_EQ(Hex(raw.data(), 15), "00 BB 00 07 00 00 71 DA 07 05 14 00 09 12 29");
    const auto requests = simulator.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_TRUE(requests[0].payloadCrcOk);
}

TEST_F(LinkOverPty, StaleInputIsDroppedBeforeARead) {
    ASSERT_NE(OpenDevicePort(), nullptr);
    simulator.InjectToHost({0xDE, 0xAD, 0xBE, 0xEF, 0x01});
    QThread::msleep(50);  // let the stray bytes reach the host's input queue
    ReadTransaction(StatusCommand, StatusLength, StatusAddress);
    EXPECT_EQ(JudgeAnswer(StatusLength), AnswerVerdict::Good);
}

TEST_F(LinkOverPty, AWriteReachesTheDeviceThoughAReadOrAnOpenFollowsAtOnce) {
    // A write is not answered; the next exchange purges, and the next tick opens the port
    // afresh.  Neither may take back the request before the device has read it.
    constexpr int kRounds = 40;
    for (int i = 0; i < kRounds; ++i) {
        ASSERT_NE(OpenDevicePort(), nullptr);
        WriteTransaction(0x40, 0, 0);
        if (i % 2 == 0) {
            ASSERT_NE(OpenDevicePort(), nullptr);
        }
        ReadTransaction(StatusCommand, StatusLength, StatusAddress);
    }
    EXPECT_TRUE(simulator.WaitForRequests(2 * kRounds, 2000));
    size_t writes = 0;
    for (const auto& r : simulator.Requests()) writes += r.command == 0x40;
    EXPECT_EQ(writes, static_cast<size_t>(kRounds));
}

TEST_F(LinkOverPty, SilentDeviceGivesAShortRead) {
    simulator.SetSilent(true);
    ASSERT_NE(OpenDevicePort(), nullptr);
    ReadTransaction(StatusCommand, StatusLength, StatusAddress);
    EXPECT_EQ(Link.BytesTransferred, 0u);
    EXPECT_EQ(JudgeAnswer(StatusLength), AnswerVerdict::WrongLength);
}
