#pragma once
// CRC-16/MODBUS as the dosimeter computes it: polynomial 0xA001 (reflected 0x8005),
// register preset to 0xFFFF, no final XOR, worked bytewise through the two 256-entry
// tables of the Modbus serial line ("high" and "low").  The register is kept as two
// bytes: `first` goes on the wire first and is the low byte of the CRC value.
#include <array>
#include <cstddef>
#include <cstdint>

namespace veresk {

struct CrcRegister {
    uint8_t first = 0xFF;
    uint8_t second = 0xFF;
    void Reset() { first = 0xFF; second = 0xFF; }
    // Both bytes zero: a message followed by its own CRC came through intact.
    bool Zero() const { return first == 0 && second == 0; }
    uint16_t Value() const { return static_cast<uint16_t>(second << 8 | first); }
};

namespace crc_tables {
// Built at compile time from the polynomial; identical to the published tables.
constexpr std::array<uint16_t, 256> MakeWordTable() {
    std::array<uint16_t, 256> t{};
    for (int i = 0; i < 256; ++i) {
        uint16_t c = static_cast<uint16_t>(i);
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? static_cast<uint16_t>((c >> 1) ^ 0xA001) : static_cast<uint16_t>(c >> 1);
        t[i] = c;
    }
    return t;
}
constexpr std::array<uint8_t, 256> MakeHigh() {
    auto w = MakeWordTable();
    std::array<uint8_t, 256> t{};
    for (int i = 0; i < 256; ++i) t[i] = static_cast<uint8_t>(w[i] & 0xFF);
    return t;
}
constexpr std::array<uint8_t, 256> MakeLow() {
    auto w = MakeWordTable();
    std::array<uint8_t, 256> t{};
    for (int i = 0; i < 256; ++i) t[i] = static_cast<uint8_t>(w[i] >> 8);
    return t;
}
inline constexpr std::array<uint8_t, 256> High = MakeHigh();
inline constexpr std::array<uint8_t, 256> Low = MakeLow();
}  // namespace crc_tables

// Runs the CRC over `length` bytes, continuing from the register's current content.
inline void CrcUpdate(CrcRegister& reg, const uint8_t* bytes, size_t length) {
    uint8_t first = reg.first, second = reg.second;
    for (size_t k = 0; k < length; ++k) {
        const uint8_t i = bytes[k] ^ first;
        first = crc_tables::High[i] ^ second;
        second = crc_tables::Low[i];
    }
    reg.first = first;
    reg.second = second;
}

// The CRC over a block from a fresh register.
CrcRegister CrcBlock(const uint8_t* bytes, size_t length);

}  // namespace veresk
