#include "monitor/presentation.h"

#include <algorithm>
#include <cmath>

#include "shell/texts.h"

namespace veresk {

namespace {

constexpr int FixedPrecision = 8;      // significant digits of every live number
constexpr int FillRange = 3276;        // ProgressBar1 maximum: 32768-byte archive / 10-byte records

constexpr TextPair RateUnits[3] = {{"мкЗв/ч", "uSv/h"}, {"мЗв/ч", "mSv/h"}, {"Зв/ч", "Sv/h"}};
constexpr TextPair DoseUnits[3] = {{"мкЗв", "uSv"}, {"мЗв", "mSv"}, {"Зв", "Sv"}};
constexpr TextPair Hours{" ч ", " h "};
constexpr TextPair Minutes{" мин", " min"};
constexpr TextPair Seconds{" с", " sec"};
constexpr TextPair Charging{" Зарядка ", " Charge "};
constexpr TextPair NoLink1{" Нет связи ", " error "};
constexpr TextPair NoLink2{" Нет связи ", " Connection error "};
const QString NoThreshold = QStringLiteral(" - ");

// v shown in the given unit: the unit is applied by moving the decimal point, so the
// rounding works on the exact digits of the received float.
QString InUnit(double v, int unit, int decimals, const QLocale& locale) {
    return FormatFixedPrecisionScaled(v, -3 * unit, FixedPrecision, decimals, locale);
}

}  // namespace

QString Fixed(double v, int decimals, const QLocale& locale) {
    return FormatFixedPrecision(v, FixedPrecision, decimals, locale);
}

ScaledValue ScaleForDisplay(float v) {
    const double x = v;
    ScaledValue s;
    if (x < 1000.0) {
        s.unit = 0;
        s.scaled = x;
    } else if (x < 1000000.0) {
        s.unit = 1;
        s.scaled = x * 0.001;
    } else {
        s.unit = 2;
        s.scaled = x * 0.000001;
    }
    // The decimals follow the scaled value; compare v itself with the scaled limits
    // 10 and 100, which are exact, instead of the rounded product.
    const double unitSize = s.unit == 0 ? 1.0 : s.unit == 1 ? 1000.0 : 1000000.0;
    s.decimals = x < 10.0 * unitSize ? 3 : x < 100.0 * unitSize ? 2 : 1;
    return s;
}

QString UnitLabel(Quantity q, int unit, int uiLanguage) {
    if (unit < 0 || unit > 2) return QString();
    return Tr(q == Quantity::DoseRate ? RateUnits[unit] : DoseUnits[unit], uiLanguage);
}

QString DayWord(uint32_t days, int uiLanguage) {
    if (IsEnglish(uiLanguage)) return days == 1 ? QStringLiteral("day") : QStringLiteral("days");
    if (days == 1) return QStringLiteral("день");
    if (days == 2 || days == 3) return QStringLiteral("дня");
    return QStringLiteral("дней");
}

QString DurationText(uint32_t seconds, TimeTarget target, int uiLanguage) {
    const uint32_t d = seconds / 86400;
    const uint32_t h = (seconds - 86400 * d) / 3600;
    const uint32_t m = (seconds - 86400 * d - 3600 * h) / 60;
    QString body;
    if (d != 0) body = QString::number(d) + " " + DayWord(d, uiLanguage) + " ";
    if (d != 0 || h != 0) body += QString::number(h) + Tr(Hours, uiLanguage);
    body += QString::number(m) + Tr(Minutes, uiLanguage);
    const bool leadingSpace = !(IsEnglish(uiLanguage) && target == TimeTarget::Edit1);
    return leadingSpace ? " " + body : body;
}

QString BatteryText(float millivolts, bool charging, int uiLanguage, const QLocale& locale) {
    if (charging) return Tr(Charging, uiLanguage);
    // (V - 3050) / 1100 * 100, written as one division so that the percentage is the
    // correctly rounded quotient.
    double c = (static_cast<double>(millivolts) - 3050.0) / 11.0;
    if (c > 100) c = 100;
    if (c < 0) c = 0;
    return " " + Fixed(c, 0, locale) + "%";
}

QString MeasurementTimeText(uint16_t seconds, int uiLanguage) {
    return " " + QString::number(seconds) + Tr(Seconds, uiLanguage);
}

int MagnitudeClass(double truncated) {
    if (truncated < 1000.0) return 0;
    if (truncated < 1000000.0) return 1;
    if (truncated < 1000000000.0) return 2;
    return 255;
}

QString ThresholdText(Quantity q, const float thresholds[3], int index, int uiLanguage, const QLocale& locale) {
    if (index < 1 || index > 3) return NoThreshold;
    const float x = thresholds[index - 1];
    const int cls = MagnitudeClass(std::trunc(static_cast<double>(x)));
    if (cls == 255 || !(x > 0.0011f)) return NoThreshold;
    return " " + InUnit(x, cls, 1, locale) + " " + UnitLabel(q, cls, uiLanguage);
}

ArchiveFillView ArchiveFillPresentation(int recordCount, bool fullFlag, const QLocale& locale) {
    ArchiveFillView view;
    if (fullFlag) {
        view.label = QString::number(100) + "%";
        view.position = FillRange;
        view.color = QColor(255, 0, 0);
        return view;
    }
    const float p = static_cast<float>(recordCount * 100.0 / FillRange);
    view.label = Fixed(p, 0, locale) + "%";
    view.position = std::clamp(recordCount, 0, FillRange);
    // Three separate tests, as the bar has always been coloured; p never lands on 80 or 95.
    if (!(p > 80)) view.color = QColor(0, 128, 0);
    if (p > 80 && p < 95) view.color = QColor(255, 255, 0);
    if (p > 95) view.color = QColor(255, 0, 0);
    return view;
}

Presentation PresentStatus(const LiveStatusValues& s, const ParameterValuesT& p, int uiLanguage,
                           int compactSelection, const QLocale& locale) {
    Presentation out;
    out.edit4Red = (s.RateFlags & RateAboveThresholdBit) != 0;
    out.edit10Red = (s.StatusFlags & DoseAboveThresholdBit) != 0;

    out.panel3 = " " + Fixed(s.Temperature, 1, locale);
    out.panel4 = " " + QString::number(s.MeasurementCount);
    out.panel6 = " " + QString::number(s.PulseCount);

    out.fill = ArchiveFillPresentation(s.ArchiveFill, (s.StatusFlags & ArchiveFullBit) != 0, locale);
    out.label20 = Fixed(s.StatError, 0, locale) + "%";

    const bool english = IsEnglish(uiLanguage);
    const ScaledValue rate = ScaleForDisplay(s.DoseRate);
    const ScaledValue dose = ScaleForDisplay(s.Dose);
    out.edit4 = InUnit(s.DoseRate, rate.unit, rate.decimals, locale);
    out.label34 = UnitLabel(Quantity::DoseRate, rate.unit, uiLanguage);
    out.edit10 = InUnit(s.Dose, dose.unit, dose.decimals, locale);
    out.label39 = UnitLabel(Quantity::Dose, dose.unit, uiLanguage);

    // Compact window 1 uses the field's decimals (3 for the English dose), window 2 always 3.
    const bool showDose = compactSelection == 1;
    const float v = showDose ? s.Dose : s.DoseRate;
    const ScaledValue& sv = showDose ? dose : rate;
    const QString suffix = " " + (showDose ? out.label39 : out.label34);
    const int k1 = showDose && english ? 3 : sv.decimals;
    out.compact1 = " " + InUnit(v, sv.unit, k1, locale) + suffix;
    out.compact2 = " " + InUnit(v, sv.unit, 3, locale) + suffix;
    out.compactRed = showDose ? out.edit10Red : out.edit4Red;  // the alarm of the quantity shown

    out.panel1 = DurationText(s.RunningTime, TimeTarget::Panel1, uiLanguage);
    const uint32_t accumulated = s.RunningTime + p.AccumulatedDoseTime;  // unsigned 32-bit sum
    out.edit1 = DurationText(accumulated, TimeTarget::Edit1, uiLanguage);
    out.panel5 = MeasurementTimeText(s.MeasurementTime, uiLanguage);
    out.panel2 = BatteryText(s.BatteryVoltage, (s.StatusFlags & ChargingBit) != 0, uiLanguage, locale);
    out.panel7 = ThresholdText(Quantity::DoseRate, p.RateThresholds, s.RateThresholdIndex, uiLanguage, locale);
    out.panel8 = ThresholdText(Quantity::Dose, p.DoseThresholds, s.DoseThresholdIndex, uiLanguage, locale);
    return out;
}

QString NoLinkCompact1(int uiLanguage) { return Tr(NoLink1, uiLanguage); }
QString NoLinkCompact2(int uiLanguage) { return Tr(NoLink2, uiLanguage); }

}  // namespace veresk
