#include "settings/writeback.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

#include "link/codecs.h"
#include "link/link.h"
#include "shell/texts.h"

namespace veresk {

uint8_t SelectorByte(int item, std::initializer_list<uint8_t> mapping, uint8_t lastRead) {
    if (item < 0 || item >= static_cast<int>(mapping.size())) return lastRead;
    return *(mapping.begin() + item);
}

std::optional<double> ParseThresholdCell(const QString& text, const QLocale& locale) {
    if (text == QStringLiteral("-")) return 0.0;
    QLocale strict = locale;
    strict.setNumberOptions(strict.numberOptions() | QLocale::RejectGroupSeparator);
    bool ok = false;
    const double value = strict.toDouble(text, &ok);
    if (!ok) return std::nullopt;
    return value;
}

double ThresholdToSend(double value, ThresholdKind kind) {
    const bool raise = kind == ThresholdKind::DoseRate ? value > 0 : value >= 0;
    return raise ? value + 0.001 : value;
}

QString NotANumberMessage(const QString& text, int uiLanguage) { return Tr(msg::NotANumber, uiLanguage).arg(text); }

namespace {

// A cell's value as it will be sent; throws when the cell cannot be sent at all.
double CellToSend(const QString& text, ThresholdKind kind, const QLocale& locale, int uiLanguage) {
    const std::optional<double> parsed = ParseThresholdCell(text, locale);
    uint8_t scratch[4];
    if (parsed) {
        const double value = ThresholdToSend(*parsed, kind);
        if (EncodeDeviceFloat(value, scratch)) return value;
    }
    throw std::runtime_error(NotANumberMessage(text, uiLanguage).toStdString());
}

struct ThresholdValues {
    std::array<double, 3> rate{}, dose{};
};

ThresholdValues ThresholdsToSend(const ParameterControls& c, const QLocale& locale, int uiLanguage) {
    ThresholdValues t;
    for (int i = 0; i < 3; ++i) t.rate[i] = CellToSend(c.RateCells[i], ThresholdKind::DoseRate, locale, uiLanguage);
    for (int i = 0; i < 3; ++i) t.dose[i] = CellToSend(c.DoseCells[i], ThresholdKind::Dose, locale, uiLanguage);
    return t;
}

// The floats carried over from the read (and the live dose) go back only when they are
// 0 or more; a negative one leaves FF FF FF FF, the erased pattern.  A value beyond the
// single-precision range (the double-held offset-30 value decoded from an exponent-255
// pattern) is sent as the largest value the device float carries rather than dropped.
void PutKeptFloat(double value, int offset) {
    if (!(value >= 0)) return;
    EncodeDeviceFloat(std::min(value, static_cast<double>(std::numeric_limits<float>::max())), offset);
}

}  // namespace

void CheckThresholdCells(const ParameterControls& c, const QLocale& locale, int uiLanguage) {
    ThresholdsToSend(c, locale, uiLanguage);
}

void BuildParameterPayload(const ParameterControls& c, const ParameterValuesT& v, float liveDose,
                           const QLocale& locale, int uiLanguage) {
    namespace o = param_offset;
    // Read every cell first: a bad one stops the write-back with the buffer untouched.
    const auto [rate, dose] = ThresholdsToSend(c, locale, uiLanguage);

    uint8_t* b = Link.IoBuffer.data();
    std::fill_n(b, 1000, 0xFF);

    PutBE16(v.Word0, o::Word0);
    PutBE32(static_cast<uint32_t>(v.Long2), o::Long2);
    PutBE32(v.AccumulatedDoseTime, o::AccumulatedDoseTime);
    PutBE32(static_cast<uint32_t>(v.Long46), o::Long46);
    b[o::FirmwareVersion] = v.FirmwareVersion;
    b[o::BacklightTime] = SelectorByte(c.ComboBox8, {10, 60, 180}, v.BacklightTime);
    b[o::DisplayMode] = SelectorByte(c.ComboBox3, {0, 1, 2}, v.DisplayMode);
    b[o::SoundOn] = SelectorByte(c.ComboBox1, {0, 1}, v.SoundOn);
    b[o::DeviceLanguage] = SelectorByte(c.ComboBox4, {0, 1}, v.DeviceLanguage);
    b[o::DisplayView] = SelectorByte(c.ComboBox2, {0, 1}, v.DisplayView);
    b[o::RateThresholdSetting] = SelectorByte(c.ComboBox5, {1, 2, 3}, v.RateThresholdSetting);
    b[o::DoseThresholdSetting] = SelectorByte(c.ComboBox7, {1, 2, 3}, v.DoseThresholdSetting);
    b[o::Backlight] = SelectorByte(c.ComboBox6, {0, 1, 2, 3}, v.Backlight);
    for (int i = 0; i < 3; ++i) EncodeDeviceFloat(rate[i], o::RateThresholds + 4 * i);
    for (int i = 0; i < 3; ++i) EncodeDeviceFloat(dose[i], o::DoseThresholds + 4 * i);
    PutKeptFloat(v.Float30, o::Float30);
    PutKeptFloat(v.Float34, o::Float34);
    PutKeptFloat(v.Float38, o::Float38);
    PutKeptFloat(liveDose, o::StoredDose);
    b[o::EditionFlags] = v.EditionFlags;
}

}  // namespace veresk
