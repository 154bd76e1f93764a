#pragma once
// The 66-byte parameter block (command 0x30 read / 0x80 write, address 0).
#include <QLocale>
#include <QString>
#include <cstdint>

namespace veresk {

inline constexpr uint8_t ParameterReadCommand = 0x30;
inline constexpr uint8_t ParameterWriteCommand = 0x80;
inline constexpr uint16_t ParameterLength = 66;
inline constexpr uint16_t ParameterAddress = 0;
inline constexpr uint8_t EditionBit = 0x04;  // offset 63

namespace param_offset {
inline constexpr int Word0 = 0;                  // BE16, kept
inline constexpr int Long2 = 2;                  // 32-bit, kept
inline constexpr int AccumulatedDoseTime = 6;    // BE32, s
inline constexpr int FirmwareVersion = 10;
inline constexpr int BacklightTime = 11;         // 10, 60, 180 s
inline constexpr int DisplayMode = 12;
inline constexpr int SoundOn = 13;
inline constexpr int DeviceLanguage = 14;
inline constexpr int DisplayView = 15;
inline constexpr int RateThresholdSetting = 16;  // 1..3
inline constexpr int Backlight = 17;
inline constexpr int RateThresholds = 18;        // 3 floats, uSv/h
inline constexpr int Float30 = 30;
inline constexpr int Float34 = 34;
inline constexpr int Float38 = 38;
inline constexpr int StoredDose = 42;
inline constexpr int Long46 = 46;
inline constexpr int DoseThresholds = 50;        // 3 floats, uSv
inline constexpr int DoseThresholdSetting = 62;  // 1..3
inline constexpr int EditionFlags = 63;
}  // namespace param_offset

struct ParameterValuesT {
    uint16_t Word0 = 0;
    int32_t Long2 = 0;
    uint32_t AccumulatedDoseTime = 0;
    uint8_t FirmwareVersion = 0;
    uint8_t BacklightTime = 0;
    uint8_t DisplayMode = 0;
    uint8_t SoundOn = 0;
    uint8_t DeviceLanguage = 0;
    uint8_t DisplayView = 0;
    uint8_t RateThresholdSetting = 0;
    uint8_t Backlight = 0;
    float RateThresholds[3] = {0, 0, 0};
    double Float30 = 0;  // held in double precision
    float Float34 = 0;
    float Float38 = 0;
    float StoredDose = 0;
    int32_t Long46 = 0;
    float DoseThresholds[3] = {0, 0, 0};
    uint8_t DoseThresholdSetting = 0;
    uint8_t EditionFlags = 0;
};

ParameterValuesT DecodeParameterBlock(const uint8_t* block);

struct ParameterState {
    ParameterValuesT ParameterValues;
    bool ParamsRead = false;
    int DeviceEdition = 0;  // 0 "Скворец", 1 "Кедр+"
};

extern ParameterState Params;
void ResetParameterState();

// Fixed-point with precision P (significant digits) and D decimals, in the locale's
// decimal separator; more than P digits before the point gives exponent notation.
QString FormatFixedPrecision(double value, int precision, int decimals, const QLocale& locale);
// The same for value * 10^pow10, scaled in decimal so that the rounding sees the exact
// decimal digits of value (no binary artefacts from multiplying by 0.001).
QString FormatFixedPrecisionScaled(double value, int pow10, int precision, int decimals, const QLocale& locale);
// A threshold cell: above 0.001 fixed (precision 10, 2 decimals); otherwise "-".
QString FormatThresholdCell(float value, const QLocale& locale);

// Selector item for a parameter byte; -1 = no selection (value outside the list).
int BacklightTimeItem(uint8_t seconds);  // 10, 60, 180 -> 0, 1, 2
// Item = value for a list of itemCount entries; -1 when value is outside the list.
// (ComboBox5/7 take the threshold setting minus 1.)
int SelectorItem(int value, int itemCount);

// 0 "Скворец", 1 "Кедр+": bit 2 of the edition byte.
int DeviceEditionOf(uint8_t editionFlags);
// A good read: decodes the block into Params (values and edition) and sets ParamsRead.
void StoreParameterBlock(const uint8_t* block);

}  // namespace veresk
