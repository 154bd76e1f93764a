// CRC and field codecs: the check value, the request headers as they go on the wire,
// and the device's number encodings.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "archive/export.h"
#include "link/codecs.h"
#include "link/crc.h"
#include "link/link.h"
#include "monitor/status.h"
#include "support/test_support.h"

using namespace veresk;
using veresk::testing::Hex;

TEST(Crc, CheckValueAndWireOrder) {
    const char* text = "123456789";
    const CrcRegister reg = CrcBlock(reinterpret_cast<const uint8_t*>(text), 9);
    EXPECT_EQ(reg.Value(), 0x4B37);
    EXPECT_EQ(reg.first, 0x37);  // sent first
    EXPECT_EQ(reg.second, 0x4B);
}

TEST(Crc, RequestHeadersByteForByte) {
    struct Case { uint8_t cmd; uint16_t len, addr; const char* wire; };
    const Case cases[] = {
        {0x10, 69, 117, "10 00 45 00 75 35 F1"},   // status
        {0x10, 20, 128, "10 00 14 00 80 A4 67"},   // probe
        {0x30, 66, 0, "30 00 42 00 00 C4 10"},     // parameter read
        {0x80, 66, 0, "80 00 42 00 00 85 CA"},     // parameter write
        {0x25, 2048, 0, "25 08 00 00 00 6B A7"},   // first archive block
        {0x40, 0, 0, "40 00 00 00 00 25 CF"},      // reset dose
        {0x50, 0, 0, "50 00 00 00 00 E4 0C"},      // factory settings
        {0x55, 0, 0, "55 00 00 00 00 28 0C"},      // erase archive
        {0xBB, 7, 0, "BB 00 07 00 00 71 DA"},      // set clock
    };
    for (const Case& c : cases) {
        std::array<uint8_t, 7> h{};
        BuildRequestHeader(h, c.cmd, c.len, c.addr);
        EXPECT_EQ(Hex(h.data(), 7), c.wire);
    }
}

TEST(Crc, ResidualIsZeroOnlyForIntactMessage) {
    std::mt19937 rng(7);
    std::vector<uint8_t> msg(71);
    for (auto& b : msg) b = static_cast<uint8_t>(rng());
    const CrcRegister crc = CrcBlock(msg.data(), 69);
    msg[69] = crc.first;
    msg[70] = crc.second;
    EXPECT_TRUE(CrcBlock(msg.data(), 71).Zero());
    for (size_t i = 0; i < msg.size(); ++i) {
        for (uint8_t flip : {0x01, 0x80, 0xFF}) {
            auto damaged = msg;
            damaged[i] ^= flip;
            EXPECT_FALSE(CrcBlock(damaged.data(), 71).Zero()) << "byte " << i;
        }
    }
}

namespace {
std::string Encoded(double v) {
    uint8_t b[4] = {0xAA, 0xAA, 0xAA, 0xAA};
    if (!EncodeDeviceFloat(v, b)) return "refused";
    return Hex(b, 4);
}
double Decoded(std::array<uint8_t, 4> b) { return DecodeDeviceFloat(b.data()); }
}  // namespace

TEST(DeviceFloat, EncodeVectors) {
    const std::pair<double, const char*> cases[] = {
        {1.0, "3F 80 00 00"},  {0.5, "3F 00 00 00"},  {100, "42 C8 00 00"},   {3.0, "40 40 00 00"},
        {0.3, "3E 99 99 99"},  {0.1, "3D CC CC CC"},  {0.001, "3A 83 12 6E"}, {0.301, "3E 9A 1C AC"},
        {0, "00 00 00 00"},    {-2.5, "40 20 00 00"}, {2.5, "40 20 00 00"},   {12.001, "41 40 04 18"},
        {5.001, "40 A0 08 31"},
    };
    for (const auto& [v, wire] : cases) EXPECT_EQ(Encoded(v), wire) << v;
}

TEST(DeviceFloat, EncodeRefusesWhatCannotBeSent) {
    const double cases[] = {std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                            std::numeric_limits<double>::quiet_NaN(), 1e-39, 3.5e38, 1e300, -1e300};
    for (double v : cases) EXPECT_EQ(Encoded(v), "refused") << v;
    // The edges of the normal range still go through.
    EXPECT_EQ(Encoded(std::numeric_limits<float>::min()), "00 80 00 00");
    EXPECT_EQ(Encoded(std::numeric_limits<float>::max()), "7F 7F FF FF");
}

TEST(DeviceFloat, DecodeVectors) {
    EXPECT_EQ(Decoded({0x3F, 0x80, 0, 0}), 1.0);
    EXPECT_EQ(Decoded({0xBF, 0x80, 0, 0}), -1.0);
    EXPECT_EQ(Decoded({0x42, 0xC8, 0, 0}), 100.0);
    EXPECT_EQ(Decoded({0xFF, 0xFF, 0xFF, 0xFF}), 0.0);
    EXPECT_EQ(Decoded({0x00, 0x40, 0, 0}), 0.0);
    EXPECT_DOUBLE_EQ(Decoded({0x3E, 0x99, 0x99, 0x99}), static_cast<double>(0.29999998f));
    EXPECT_GT(Decoded({0x7F, 0x80, 0, 0}), 3e38);  // exponent 255 is just a large number
}

TEST(DeviceFloat, RoundTripNeverGrowsInMagnitude) {
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> mantissa(0.5, 1.0);
    std::uniform_int_distribution<int> exponent(-120, 120);
    for (int i = 0; i < 20000; ++i) {
        const double v = std::ldexp(mantissa(rng), exponent(rng));
        uint8_t b[4];
        ASSERT_TRUE(EncodeDeviceFloat(v, b));
        const double back = DecodeDeviceFloat(b);
        ASSERT_LE(back, v);
        // ... and it is the nearest single below (or the value itself).
        ASSERT_GT(std::nextafter(static_cast<float>(back), std::numeric_limits<float>::infinity()), v);
    }
}

TEST(Codecs, BcdAndBigEndian) {
    for (auto [byte, n] : {std::pair{0x00, 0}, {0x07, 7}, {0x59, 59}, {0x99, 99}}) {
        EXPECT_EQ(DecodeBcd(static_cast<uint8_t>(byte)), n);
        EXPECT_EQ(EncodeBcd(n), byte);
    }
    EXPECT_EQ(EncodeBcd(129), 0x29);  // brought into 0..99

    Link.IoBuffer.fill(0xEE);
    PutBE16(0x1234, 0);
    PutBE32(0x01020304u, 2);
    EXPECT_EQ(Hex(Link.IoBuffer.data(), 7), "12 34 01 02 03 04 EE");
    EXPECT_EQ(GetBE16(Link.IoBuffer.data()), 0x1234);
    EXPECT_EQ(GetBE32(Link.IoBuffer.data() + 2), 0x01020304u);
    const uint8_t high[4] = {0xFF, 0xFF, 0xFF, 0xFE};
    EXPECT_EQ(GetBE32(high), 0xFFFFFFFEu);
}

// The device keeps a date and time the same way in its clock and in every archive
// record; one rule says whether the bytes hold one, and the clock check and the CSV
// export both follow it.
TEST(Codecs, BcdDateTimeIsOneRuleForTheClockAndTheRecords) {
    struct Case {
        const char* what;
        std::array<uint8_t, 6> smhdmy;  // second, minute, hour, day, month, year-2000
        bool valid;
        const char* iso;
    };
    const Case cases[] = {
        {"an ordinary time", {0x09, 0x05, 0x07, 0x21, 0x03, 0x09}, true, "2009-03-21T07:05:09"},
        {"the last second of 2099", {0x59, 0x59, 0x23, 0x31, 0x12, 0x99}, true, "2099-12-31T23:59:59"},
        {"29 February 2000 (a leap year)", {0x00, 0x00, 0x00, 0x29, 0x02, 0x00}, true, "2000-02-29T00:00:00"},
        {"29 February 2026", {0x00, 0x00, 0x00, 0x29, 0x02, 0x26}, false, ""},
        {"31 April", {0x00, 0x00, 0x00, 0x31, 0x04, 0x26}, false, ""},
        {"hour nibble above 9", {0x58, 0x30, 0x1A, 0x10, 0x12, 0x26}, false, ""},
        {"year nibble above 9", {0x58, 0x30, 0x20, 0x10, 0x12, 0xA0}, false, ""},
        {"second 60", {0x60, 0x30, 0x20, 0x10, 0x12, 0x26}, false, ""},
        {"minute 60", {0x00, 0x60, 0x20, 0x10, 0x12, 0x26}, false, ""},
        {"hour 24", {0x00, 0x00, 0x24, 0x10, 0x12, 0x26}, false, ""},
        {"day 0", {0x00, 0x00, 0x00, 0x00, 0x12, 0x26}, false, ""},
        {"month 0", {0x00, 0x00, 0x00, 0x10, 0x00, 0x26}, false, ""},
        {"month 13", {0x00, 0x00, 0x00, 0x10, 0x13, 0x26}, false, ""},
        {"erased memory", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto& b = c.smhdmy;
        EXPECT_EQ(BcdDateTimeValid(b[0], b[1], b[2], b[3], b[4], b[5]), c.valid);
        // The device clock: s, min, h, weekday, day, month, year.
        const uint8_t clock[7] = {b[0], b[1], b[2], 0x04, b[3], b[4], b[5]};
        EXPECT_EQ(DeviceClockBytesValid(clock), c.valid);
        // An archive record: the value, then s, min, h, day, month, year.
        uint8_t record[10] = {0x3E, 0x19, 0x99, 0x9A, b[0], b[1], b[2], b[3], b[4], b[5]};
        EXPECT_EQ(RecordIsoTime(record), QByteArray(c.iso));
    }
    EXPECT_EQ(DaysInMonth(2000, 2), 29);
    EXPECT_EQ(DaysInMonth(2100, 2), 28);
    EXPECT_EQ(DaysInMonth(2024, 2), 29);
    EXPECT_EQ(DaysInMonth(2026, 12), 31);
}
