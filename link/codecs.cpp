#include "link/codecs.h"

#include <cmath>

#include "link/link.h"

namespace veresk {

void PutBE16(uint16_t value, int offset) { PutBE16(Link.IoBuffer.data() + offset, value); }
void PutBE32(uint32_t value, int offset) { PutBE32(Link.IoBuffer.data() + offset, value); }

int DaysInMonth(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

bool BcdDateTimeValid(uint8_t second, uint8_t minute, uint8_t hour, uint8_t day, uint8_t month, uint8_t year) {
    for (const uint8_t b : {second, minute, hour, day, month, year})
        if (!IsPackedBcd(b)) return false;
    if (DecodeBcd(second) > 59 || DecodeBcd(minute) > 59 || DecodeBcd(hour) > 23) return false;
    const int m = DecodeBcd(month);
    if (m < 1 || m > 12) return false;
    const int d = DecodeBcd(day);
    return d >= 1 && d <= DaysInMonth(2000 + DecodeBcd(year), m);
}

double DecodeDeviceFloat(const uint8_t* p) {
    if (p[0] == 0xFF && p[1] == 0xFF && p[2] == 0xFF && p[3] == 0xFF) return 0.0;
    const bool negative = (p[0] & 0x80) != 0;
    const int e = (p[0] & 0x7F) * 2 + (p[1] >> 7);
    if (e == 0) return 0.0;
    const uint32_t m = (static_cast<uint32_t>(p[1] | 0x80) << 16) | (static_cast<uint32_t>(p[2]) << 8) | p[3];
    const double v = std::ldexp(static_cast<double>(m), e - 150);
    return negative ? -v : v;
}

bool EncodeDeviceFloat(double value, uint8_t* p) {
    if (!std::isfinite(value)) return false;
    double x = std::fabs(value);
    if (x == 0.0) {
        p[0] = p[1] = p[2] = p[3] = 0;
        return true;
    }
    int e = 0;
    x = std::frexp(x, &e);  // 0.5 <= x < 1, |value| = x * 2^e
    const int biased = e + 126;
    if (biased < 1 || biased > 254) return false;
    const uint32_t m = static_cast<uint32_t>(x * 16777216.0);  // truncated: 2^23 .. 2^24-1
    p[0] = static_cast<uint8_t>(biased >> 1);
    p[1] = static_cast<uint8_t>(((biased & 1) << 7) | ((m >> 16) & 0x7F));
    p[2] = static_cast<uint8_t>(m >> 8);
    p[3] = static_cast<uint8_t>(m);
    return true;
}

bool EncodeDeviceFloat(double value, int offset) { return EncodeDeviceFloat(value, Link.IoBuffer.data() + offset); }

uint8_t EncodeBcd(int n) {
    if (n < 0) n = 0;
    n %= 100;
    const int tens = n / 10;
    return static_cast<uint8_t>(tens * 16 + (n - tens * 10));
}

}  // namespace veresk
