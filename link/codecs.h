#pragma once
// The device's field encodings: big-endian integers, packed BCD and its 4-byte float
// (IEEE-754 single precision, big-endian, erased memory FF FF FF FF reading as 0).
#include <cstdint>

namespace veresk {

inline uint16_t GetBE16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
inline uint32_t GetBE32(const uint8_t* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | p[3];
}
inline void PutBE16(uint8_t* p, uint16_t v) { p[0] = static_cast<uint8_t>(v >> 8); p[1] = static_cast<uint8_t>(v); }
inline void PutBE32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24); p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);  p[3] = static_cast<uint8_t>(v);
}
// The same writers aimed at the shared transfer buffer, at a byte offset.
void PutBE16(uint16_t value, int offset);
void PutBE32(uint32_t value, int offset);

// Four bytes to a number.  FF FF FF FF and any biased exponent of 0 read as 0; an
// exponent of 255 is an ordinary large number (the device has no infinities or NaNs).
double DecodeDeviceFloat(const uint8_t* p);

// A number to four bytes: the magnitude is sent (sign bit always 0), the fraction is
// truncated, not rounded.  Infinity, NaN and magnitudes outside the normal
// single-precision range cannot be sent: the function then writes nothing and returns
// false, for the caller to report.  0 gives 00 00 00 00.
bool EncodeDeviceFloat(double value, uint8_t* p);
bool EncodeDeviceFloat(double value, int offset);  // into the transfer buffer

// Packed BCD.  Nibbles above 9 are taken at face value (0xFF gives 165), so a damaged
// clock byte reads as a time far from any real one.
inline int DecodeBcd(uint8_t b) { return (b >> 4) * 10 + (b & 0x0F); }
// 0..99 packed; a number outside is first brought into 0..99 (modulo 100, negatives to 0).
uint8_t EncodeBcd(int n);
// Whether both digits of a packed-BCD byte are 0-9.
inline bool IsPackedBcd(uint8_t b) { return (b >> 4) <= 9 && (b & 0x0F) <= 9; }

// Days in a month (1-12) of a year of the Gregorian calendar.
int DaysInMonth(int year, int month);
// Whether six packed-BCD bytes, as the device keeps a date and time (its clock and every
// archive record), hold a real one: each byte with both digits 0-9, second 0-59, minute
// 0-59, hour 0-23, month 1-12, year 00-99 (20yy), and the day existing in that month.
bool BcdDateTimeValid(uint8_t second, uint8_t minute, uint8_t hour, uint8_t day, uint8_t month, uint8_t year);

}  // namespace veresk
