#include "settings/parameters.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>

#include "link/codecs.h"

namespace veresk {

ParameterState Params;

void ResetParameterState() { Params = ParameterState{}; }

namespace {

// A device float stored as single precision.  An exponent of 255 decodes to a number
// beyond the float range; it is kept as the largest float rather than an infinity.
float ToSingle(double v) {
    constexpr double top = std::numeric_limits<float>::max();
    return static_cast<float>(std::clamp(v, -top, top));
}

float FloatAt(const uint8_t* block, int offset) { return ToSingle(DecodeDeviceFloat(block + offset)); }

// The exact decimal digits of a finite, non-negative double: every digit of the integer
// part followed by every digit of the fraction (a double is a finite binary fraction, so
// the expansion ends).  intLen tells how many of the digits stand before the point.
struct DecimalDigits {
    std::string digits;
    int intLen = 0;
};

DecimalDigits ExactDigits(double magnitude) {
    int exponent = 0;
    std::frexp(magnitude, &exponent);
    // magnitude = m * 2^(exponent - 53) with an integer m: 53 - exponent fraction digits
    // are enough, and no double needs more than 1074.
    const int fractionDigits = std::clamp(53 - exponent, 0, 1074);
    std::array<char, 1500> buffer;
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), magnitude,
                                      std::chars_format::fixed, fractionDigits);
    const std::string text(buffer.data(), result.ptr);
    DecimalDigits d;
    const auto point = text.find('.');
    if (point == std::string::npos) {
        d.digits = text;
        d.intLen = static_cast<int>(text.size());
    } else {
        d.digits = text.substr(0, point) + text.substr(point + 1);
        d.intLen = static_cast<int>(point);
    }
    return d;
}

}  // namespace

QString FormatFixedPrecisionScaled(double value, int pow10, int precision, int decimals, const QLocale& locale) {
    if (std::isnan(value)) return QStringLiteral("NAN");
    if (std::isinf(value)) return value < 0 ? QStringLiteral("-INF") : QStringLiteral("INF");
    precision = std::max(precision, 1);
    decimals = std::max(decimals, 0);
    const bool negative = std::signbit(value);

    DecimalDigits d = ExactDigits(std::fabs(value));
    std::string& digits = d.digits;
    // Scale by moving the point.
    d.intLen += pow10;
    if (d.intLen < 0) {
        digits.insert(0, static_cast<size_t>(-d.intLen), '0');
        d.intLen = 0;
    }
    if (d.intLen > static_cast<int>(digits.size())) digits.append(d.intLen - digits.size(), '0');

    // Keep the digits up to the last wanted decimal, or up to the last significant
    // digit the precision allows, whichever comes first; round once, half away from zero
    // (the digits are those of the magnitude, so "5 or more" means away from zero).
    const auto firstNonZero = digits.find_first_not_of('0');
    const int significantStart = firstNonZero == std::string::npos ? static_cast<int>(digits.size())
                                                                   : static_cast<int>(firstNonZero);
    const int keep = std::max(0, std::min(d.intLen + decimals, significantStart + precision));
    const bool roundUp = keep < static_cast<int>(digits.size()) && digits[keep] >= '5';
    digits.resize(keep);
    if (roundUp) {
        int i = keep - 1;
        for (; i >= 0 && digits[i] == '9'; --i) digits[i] = '0';
        if (i >= 0) {
            ++digits[i];
        } else {
            digits.insert(digits.begin(), '1');
            ++d.intLen;
        }
    }
    if (d.intLen > static_cast<int>(digits.size())) digits.append(d.intLen - digits.size(), '0');

    std::string intPart = digits.substr(0, d.intLen);
    std::string fracPart = digits.substr(d.intLen);
    intPart.erase(0, std::min(intPart.find_first_not_of('0'), intPart.size()));
    const bool zero = digits.find_first_not_of('0') == std::string::npos;
    const QString sign = negative && !zero ? QStringLiteral("-") : QString();
    const QString point = locale.decimalPoint();

    if (static_cast<int>(intPart.size()) > precision) {
        // Too large for fixed point: d.ddd...E+nn with the precision's digits.
        const int exponent = static_cast<int>(intPart.size()) - 1;
        const std::string mantissa = intPart.substr(0, precision);
        QString text = sign + QChar(mantissa[0]);
        if (precision > 1) text += point + QString::fromLatin1(mantissa.substr(1));
        return text + QStringLiteral("E+%1").arg(exponent, 2, 10, QChar('0'));
    }
    if (intPart.empty()) intPart = "0";
    fracPart.resize(decimals, '0');
    QString text = sign + QString::fromLatin1(intPart);
    if (decimals > 0) text += point + QString::fromLatin1(fracPart);
    return text;
}

QString FormatFixedPrecision(double value, int precision, int decimals, const QLocale& locale) {
    return FormatFixedPrecisionScaled(value, 0, precision, decimals, locale);
}

QString FormatThresholdCell(float value, const QLocale& locale) {
    // Compared in single precision, so that a threshold set to 0.001 counts as 0.001.
    if (!(value > 0.001f)) return QStringLiteral("-");
    return FormatFixedPrecision(value, 10, 2, locale);
}

int BacklightTimeItem(uint8_t seconds) {
    switch (seconds) {
        case 10: return 0;
        case 60: return 1;
        case 180: return 2;
        default: return -1;
    }
}

int SelectorItem(int value, int itemCount) { return value >= 0 && value < itemCount ? value : -1; }

int DeviceEditionOf(uint8_t editionFlags) { return (editionFlags & EditionBit) != 0 ? 1 : 0; }

ParameterValuesT DecodeParameterBlock(const uint8_t* block) {
    namespace o = param_offset;
    ParameterValuesT v;
    v.Word0 = GetBE16(block + o::Word0);
    v.Long2 = static_cast<int32_t>(GetBE32(block + o::Long2));
    v.AccumulatedDoseTime = GetBE32(block + o::AccumulatedDoseTime);
    v.FirmwareVersion = block[o::FirmwareVersion];
    v.BacklightTime = block[o::BacklightTime];
    v.DisplayMode = block[o::DisplayMode];
    v.SoundOn = block[o::SoundOn];
    v.DeviceLanguage = block[o::DeviceLanguage];
    v.DisplayView = block[o::DisplayView];
    v.RateThresholdSetting = block[o::RateThresholdSetting];
    v.Backlight = block[o::Backlight];
    for (int i = 0; i < 3; ++i) {
        v.RateThresholds[i] = FloatAt(block, o::RateThresholds + 4 * i);
        v.DoseThresholds[i] = FloatAt(block, o::DoseThresholds + 4 * i);
    }
    v.Float30 = DecodeDeviceFloat(block + o::Float30);
    v.Float34 = FloatAt(block, o::Float34);
    v.Float38 = FloatAt(block, o::Float38);
    v.StoredDose = FloatAt(block, o::StoredDose);
    v.Long46 = static_cast<int32_t>(GetBE32(block + o::Long46));
    v.DoseThresholdSetting = block[o::DoseThresholdSetting];
    v.EditionFlags = block[o::EditionFlags];
    return v;
}

void StoreParameterBlock(const uint8_t* block) {
    Params.ParameterValues = DecodeParameterBlock(block);
    Params.DeviceEdition = DeviceEditionOf(Params.ParameterValues.EditionFlags);
    Params.ParamsRead = true;
}

}  // namespace veresk
