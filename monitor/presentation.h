#pragma once
// What the user reads: the live status turned into texts and colours.  Pure functions;
// the main window only copies the results into its controls.
#include <QColor>
#include <QLocale>
#include <QString>
#include <array>

#include "monitor/status.h"
#include "settings/parameters.h"

namespace veresk {

// Fixed(v, d): rounded half away from zero to d decimals (at most 8 significant
// digits; more than 8 digits before the point gives exponent notation), the locale's
// decimal separator, no thousands separator.  v is the single-precision value as received.
QString Fixed(double v, int decimals, const QLocale& locale);

enum class Quantity { DoseRate, Dose };

struct ScaledValue {
    double scaled = 0;  // v, v*0.001 or v*0.000001
    int unit = 0;       // 0 micro, 1 milli, 2 whole
    int decimals = 3;   // 3, 2 or 1, chosen on the scaled value
};
ScaledValue ScaleForDisplay(float v);  // unit chosen before rounding
QString UnitLabel(Quantity q, int unit, int uiLanguage);  // "мкЗв/ч" ...; suffix = " " + label

// Running time (panel 1) and dose accumulation time (Edit1).
enum class TimeTarget { Panel1, Edit1 };
QString DurationText(uint32_t seconds, TimeTarget target, int uiLanguage);
QString DayWord(uint32_t days, int uiLanguage);

QString BatteryText(float millivolts, bool charging, int uiLanguage, const QLocale& locale);
QString MeasurementTimeText(uint16_t seconds, int uiLanguage);

// 0 below 1000 (negatives too), 1 up to 999 999, 2 up to 999 999 999, 255 above.
int MagnitudeClass(double truncated);
// Panel 7 (dose rate) or 8 (dose); index 1..3 into the thresholds, other indexes " - ".
QString ThresholdText(Quantity q, const float thresholds[3], int index, int uiLanguage, const QLocale& locale);

struct ArchiveFillView {
    QString label;        // Label21, e.g. "42%"
    int position = 0;     // ProgressBar1, 0..3276
    QColor color;         // bar colour
};
ArchiveFillView ArchiveFillPresentation(int recordCount, bool fullFlag, const QLocale& locale);

// Everything one displayed tick writes.
struct Presentation {
    bool edit4Red = false, edit10Red = false;
    QString panel3, panel4, panel6;      // language-independent
    ArchiveFillView fill;
    QString label20;                     // "12%"
    QString edit4, label34, edit10, label39;
    QString compact1, compact2;          // Label1 of TForm6 and TForm9
    bool compactRed = false;             // the compact windows in the alarm colour
    QString panel1, edit1, panel5, panel2, panel7, panel8;
};
Presentation PresentStatus(const LiveStatusValues& s, const ParameterValuesT& p, int uiLanguage,
                           int compactSelection, const QLocale& locale);

// The no-link texts of the two compact windows.
QString NoLinkCompact1(int uiLanguage);
QString NoLinkCompact2(int uiLanguage);

}  // namespace veresk
