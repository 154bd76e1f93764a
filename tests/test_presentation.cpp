// The live status: decoding the 69-byte block and the texts and colours shown for it.
#include <gtest/gtest.h>

#include <QLocale>
#include <array>
#include <bit>
#include <cstdint>
#include <vector>

#include "link/codecs.h"
#include "monitor/presentation.h"
#include "monitor/status.h"

namespace veresk {
namespace {

constexpr int Ru = 1;
constexpr int En = 2;

// Expected texts are written with a point; the comma locales get the same text with
// their separator.
QString InLocale(QString pointText, const QLocale& locale) { return pointText.replace('.', locale.decimalPoint()); }

std::vector<QLocale> Locales() { return {QLocale::c(), QLocale(QLocale::Russian), QLocale(QLocale::German)}; }

void PutFloat(uint8_t* p, float v) { PutBE32(p, std::bit_cast<uint32_t>(v)); }

TEST(PresentationLocales, CommaLocalesReallyUseAComma) {
    EXPECT_EQ(QLocale(QLocale::Russian).decimalPoint(), ",");
    EXPECT_EQ(QLocale(QLocale::German).decimalPoint(), ",");
    EXPECT_EQ(QLocale::c().decimalPoint(), ".");
}

// ---------------------------------------------------------------- status block

TEST(StatusBlock, DecodesEveryField) {
    std::array<uint8_t, StatusLength> b{};
    for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>(0xA0 + i);  // noise in the unused bytes
    PutBE16(&b[0], 0xBEEF);
    PutFloat(&b[2], 12.5f);
    b[6] = 0x04;
    b[13] = 0x26;
    b[14] = 2;
    PutFloat(&b[16], 1234.5f);
    PutBE32(&b[20], 0xFEDCBA98u);
    PutFloat(&b[24], -3.25f);
    PutFloat(&b[28], 3987.5f);
    PutBE32(&b[34], 4000000001u);
    PutBE16(&b[39], 0x8001);
    PutBE16(&b[55], 26219);  // 2621 records and 9 stray bytes
    b[57] = 3;
    PutFloat(&b[58], 0.1234f);
    // 14:05:07 on 9 December 2029; the weekday byte is not a real weekday, only a
    // two-digit number to show that it is decoded like the others.
    const uint8_t clock[7] = {0x07, 0x05, 0x14, 0x15, 0x09, 0x12, 0x29};
    std::copy(std::begin(clock), std::end(clock), &b[62]);

    const LiveStatusValues s = DecodeStatusBlock(b.data());
    EXPECT_EQ(s.MeasurementCount, 0xBEEF);
    EXPECT_EQ(s.StatError, 12.5f);
    EXPECT_EQ(s.RateFlags, 0x04);
    EXPECT_EQ(s.StatusFlags, 0x26);
    EXPECT_EQ(s.DoseThresholdIndex, 2);
    EXPECT_EQ(s.Dose, 1234.5f);
    EXPECT_EQ(s.RunningTime, 0xFEDCBA98u);
    EXPECT_EQ(s.Temperature, -3.25f);
    EXPECT_EQ(s.BatteryVoltage, 3987.5f);
    EXPECT_EQ(s.PulseCount, 4000000001u);
    EXPECT_EQ(s.MeasurementTime, 0x8001);
    EXPECT_EQ(s.ArchiveFill, 2621);
    EXPECT_EQ(s.RateThresholdIndex, 3);
    EXPECT_EQ(s.DoseRate, 0.1234f);
    EXPECT_EQ(s.DeviceClock.second, 7);
    EXPECT_EQ(s.DeviceClock.minute, 5);
    EXPECT_EQ(s.DeviceClock.hour, 14);
    EXPECT_EQ(s.DeviceClock.weekday, 15);
    EXPECT_EQ(s.DeviceClock.day, 9);
    EXPECT_EQ(s.DeviceClock.month, 12);
    EXPECT_EQ(s.DeviceClock.year, 29);
}

TEST(StatusBlock, ErasedFloatsReadAsZeroAndResetClearsPolling) {
    std::array<uint8_t, StatusLength> b;
    b.fill(0xFF);
    const LiveStatusValues s = DecodeStatusBlock(b.data());
    EXPECT_EQ(s.Dose, 0.0f);
    EXPECT_EQ(s.DoseRate, 0.0f);
    EXPECT_EQ(s.ArchiveFill, 6553);

    Polling.LiveStatus = s;
    Polling.StatusFresh = true;
    Polling.MaxDoseRate = 5;
    Polling.LastArchiveFill = 7;
    Polling.NewRecordPending = true;
    ResetPollingState();
    EXPECT_EQ(Polling.LiveStatus.ArchiveFill, 0);
    EXPECT_FALSE(Polling.StatusFresh);
    EXPECT_EQ(Polling.MaxDoseRate, 0.0);
    EXPECT_EQ(Polling.LastArchiveFill, 0);
    EXPECT_FALSE(Polling.NewRecordPending);
}

// ---------------------------------------------------------------- Fixed

TEST(Fixed, RoundsTheExactValueHalfAwayFromZero) {
    struct Case { double v; int d; const char* text; };
    const Case cases[] = {
        {999.96f, 1, "1000.0"},   {9.9996f, 3, "10.000"},   {0.1234f, 3, "0.123"},
        {123.46f, 3, "123.460"},  {123.46f, 1, "123.5"},    {12.3456f, 3, "12.346"},
        {2500, 0, "2500"},        {0.005f, 2, "0.00"},      // the float lies just below 0.005
        {0.125, 2, "0.13"},       {2.5, 0, "3"},            {-2.5, 0, "-3"},
        {-12.345f, 2, "-12.35"},  {-0.0004, 3, "0.000"},    {0, 3, "0.000"},
        {1234567, 1, "1234567.0"},                          // no thousands separator
        {12345678.9, 1, "12345679.0"},                      // eight significant digits
        {99999999.6, 0, "1.0000000E+08"},                   // rounds up past eight digits
        {123456789, 2, "1.2345679E+08"},
    };
    for (const QLocale& locale : Locales())
        for (const Case& c : cases)
            EXPECT_EQ(Fixed(c.v, c.d, locale), InLocale(c.text, locale)) << c.v << " " << c.d;
}

// ---------------------------------------------------------------- dose rate and dose fields

TEST(ValueFields, UnitChosenBeforeRoundingAndDecimalsOnTheScaledValue) {
    struct Case { float v; const char* text; int unit; };
    const Case cases[] = {
        {0.1234f, "0.123", 0},   {9.9996f, "10.000", 0}, {10, "10.00", 0},     {99.996f, "100.00", 0},
        {123.46f, "123.5", 0},   {999.96f, "1000.0", 0}, {-5, "-5.000", 0},    {1000, "1.000", 1},
        {1234.5f, "1.235", 1},   // exactly 1.2345 mSv: no binary artefact from the scaling
        {2500, "2.500", 1},      {10000, "10.00", 1},    {999999, "1000.0", 1}, {1000000, "1.000", 2},
        {2.5e8f, "250.0", 2},
    };
    const char* rateUnits[2][3] = {{"мкЗв/ч", "мЗв/ч", "Зв/ч"}, {"uSv/h", "mSv/h", "Sv/h"}};
    const char* doseUnits[2][3] = {{"мкЗв", "мЗв", "Зв"}, {"uSv", "mSv", "Sv"}};
    for (const QLocale& locale : Locales())
        for (int lang : {Ru, En})
            for (const Case& c : cases) {
                LiveStatusValues s;
                s.DoseRate = c.v;
                s.Dose = c.v;
                const Presentation p = PresentStatus(s, ParameterValuesT{}, lang, 0, locale);
                const int l = lang == En ? 1 : 0;
                EXPECT_EQ(p.edit4, InLocale(c.text, locale)) << c.v;
                EXPECT_EQ(p.edit10, InLocale(c.text, locale)) << c.v;
                EXPECT_EQ(p.label34, QString::fromUtf8(rateUnits[l][c.unit])) << c.v;
                EXPECT_EQ(p.label39, QString::fromUtf8(doseUnits[l][c.unit])) << c.v;
                EXPECT_EQ(ScaleForDisplay(c.v).unit, c.unit) << c.v;
            }
}

TEST(CompactTexts, DecimalsPerWindowLanguageAndSelection) {
    struct Case { int lang; int selection; float rate; float dose; const char* compact1; const char* compact2; };
    const Case cases[] = {
        {Ru, 0, 0.1234f, 5, " 0.123 мкЗв/ч", " 0.123 мкЗв/ч"},
        {Ru, 0, 123.46f, 5, " 123.5 мкЗв/ч", " 123.460 мкЗв/ч"},
        {Ru, 1, 5, 12.3456f, " 12.35 мкЗв", " 12.346 мкЗв"},
        {Ru, 1, 5, 2500, " 2.500 мЗв", " 2.500 мЗв"},
        {En, 0, 45.678f, 5, " 45.68 uSv/h", " 45.678 uSv/h"},
        {En, 0, 2.5e6f, 5, " 2.500 Sv/h", " 2.500 Sv/h"},
        {En, 1, 5, 12.3456f, " 12.346 uSv", " 12.346 uSv"},
        {En, 1, 5, 123.46f, " 123.460 uSv", " 123.460 uSv"},
        {0, 1, 5, 12.3456f, " 12.35 мкЗв", " 12.346 мкЗв"},  // no language chosen yet: Russian
    };
    for (const QLocale& locale : Locales())
        for (const Case& c : cases) {
            LiveStatusValues s;
            s.DoseRate = c.rate;
            s.Dose = c.dose;
            const Presentation p = PresentStatus(s, ParameterValuesT{}, c.lang, c.selection, locale);
            EXPECT_EQ(p.compact1, InLocale(QString::fromUtf8(c.compact1), locale)) << c.compact1;
            EXPECT_EQ(p.compact2, InLocale(QString::fromUtf8(c.compact2), locale)) << c.compact2;
        }
}

TEST(CompactTexts, NoLink) {
    struct Case { int lang; const char* compact1; const char* compact2; };
    const Case cases[] = {
        {Ru, " Нет связи ", " Нет связи "}, {En, " error ", " Connection error "}, {0, " Нет связи ", " Нет связи "}};
    for (const Case& c : cases) {
        EXPECT_EQ(NoLinkCompact1(c.lang), QString::fromUtf8(c.compact1));
        EXPECT_EQ(NoLinkCompact2(c.lang), QString::fromUtf8(c.compact2));
    }
}

// ---------------------------------------------------------------- times

TEST(Durations, DayWords) {
    struct Case { uint32_t days; const char* ru; const char* en; };
    const Case cases[] = {{0, "дней", "days"}, {1, "день", "day"}, {2, "дня", "days"},  {3, "дня", "days"},
                          {4, "дней", "days"}, {5, "дней", "days"}, {21, "дней", "days"}, {22, "дней", "days"}};
    for (const Case& c : cases) {
        EXPECT_EQ(DayWord(c.days, Ru), QString::fromUtf8(c.ru)) << c.days;
        EXPECT_EQ(DayWord(c.days, En), QString::fromUtf8(c.en)) << c.days;
    }
}

TEST(Durations, Texts) {
    struct Case { uint32_t t; int lang; TimeTarget target; const char* text; };
    using enum TimeTarget;
    const Case cases[] = {
        {59, Ru, Panel1, " 0 мин"},           {0, En, Panel1, " 0 min"},       {0, En, Edit1, "0 min"},
        {120, En, Edit1, "2 min"},            {120, Ru, Edit1, " 2 мин"},      {18420, Ru, Panel1, " 5 ч 7 мин"},
        {18420, En, Edit1, "5 h 7 min"},      {86400, Ru, Panel1, " 1 день 0 ч 0 мин"},
        {93784, Ru, Panel1, " 1 день 2 ч 3 мин"}, {93784, Ru, Edit1, " 1 день 2 ч 3 мин"},
        {93784, En, Panel1, " 1 day 2 h 3 min"},  {93784, En, Edit1, "1 day 2 h 3 min"},
        {2 * 86400 + 59, Ru, Panel1, " 2 дня 0 ч 0 мин"}, {4 * 86400 + 3660, En, Panel1, " 4 days 1 h 1 min"},
    };
    for (const Case& c : cases) EXPECT_EQ(DurationText(c.t, c.target, c.lang), QString::fromUtf8(c.text)) << c.t;
}

TEST(Durations, Edit1AddsTheCarriedTimeAsUnsigned32BitSum) {
    struct Case { uint32_t running; uint32_t carried; const char* panel1; const char* edit1; };
    const Case cases[] = {
        {86400, 7384, " 1 день 0 ч 0 мин", " 1 день 2 ч 3 мин"},
        {0xFFFFFFF0u, 0x50, " 49710 дней 6 ч 28 мин", " 1 мин"},  // wraps to 64 s
    };
    for (const Case& c : cases) {
        LiveStatusValues s;
        s.RunningTime = c.running;
        ParameterValuesT params;
        params.AccumulatedDoseTime = c.carried;
        const Presentation p = PresentStatus(s, params, Ru, 0, QLocale::c());
        EXPECT_EQ(p.panel1, QString::fromUtf8(c.panel1));
        EXPECT_EQ(p.edit1, QString::fromUtf8(c.edit1));
    }
}

TEST(Durations, MeasurementTime) {
    EXPECT_EQ(MeasurementTimeText(30, Ru), QString::fromUtf8(" 30 с"));
    EXPECT_EQ(MeasurementTimeText(65535, En), QString::fromUtf8(" 65535 sec"));
}

// ---------------------------------------------------------------- battery

TEST(Battery, PercentClampedOrCharging) {
    struct Case { float mv; bool charging; int lang; const char* text; };
    const Case cases[] = {
        {3000, false, Ru, " 0%"},   {3050, false, Ru, " 0%"},   {3055.5f, false, Ru, " 1%"},  // exactly 0.5 %
        {3105, false, En, " 5%"},   {3600, false, Ru, " 50%"},  {4150, false, Ru, " 100%"},
        {5000, false, En, " 100%"}, {3600, true, Ru, " Зарядка "}, {5000, true, En, " Charge "},
    };
    for (const QLocale& locale : Locales())
        for (const Case& c : cases)
            EXPECT_EQ(BatteryText(c.mv, c.charging, c.lang, locale), QString::fromUtf8(c.text)) << c.mv;

    LiveStatusValues s;
    s.BatteryVoltage = 3600;
    s.StatusFlags = ChargingBit;
    EXPECT_EQ(PresentStatus(s, ParameterValuesT{}, Ru, 0, QLocale::c()).panel2, QString::fromUtf8(" Зарядка "));
    s.StatusFlags = 0;
    EXPECT_EQ(PresentStatus(s, ParameterValuesT{}, Ru, 0, QLocale::c()).panel2, QString::fromUtf8(" 50%"));
}

// ---------------------------------------------------------------- archive fill

TEST(ArchiveFill, LabelPositionAndColour) {
    const QColor green(0, 128, 0), yellow(255, 255, 0), red(255, 0, 0);
    struct Case { uint16_t raw; uint8_t flags; const char* label; int position; QColor color; };
    const Case cases[] = {
        {0, 0, "0%", 0, green},           {26200, 0, "80%", 2620, green},   {26210, 0, "80%", 2621, yellow},
        {31120, 0, "95%", 3112, yellow},  {31130, 0, "95%", 3113, red},     {32760, 0, "100%", 3276, red},
        {100, ArchiveFullBit, "100%", 3276, red},
    };
    for (const Case& c : cases) {
        std::array<uint8_t, StatusLength> b{};
        PutBE16(&b[status_offset::ArchiveFill], c.raw);
        b[status_offset::StatusFlags] = c.flags;
        const Presentation p = PresentStatus(DecodeStatusBlock(b.data()), ParameterValuesT{}, Ru, 0, QLocale::c());
        EXPECT_EQ(p.fill.label, QString(c.label)) << c.raw;
        EXPECT_EQ(p.fill.position, c.position) << c.raw;
        EXPECT_EQ(p.fill.color, c.color) << c.raw;
    }
}

// ---------------------------------------------------------------- thresholds

TEST(Thresholds, MagnitudeClass) {
    struct Case { double x; int cls; };
    const Case cases[] = {{-5, 0}, {999, 0}, {1000, 1}, {999999, 1}, {1e6, 2}, {999999999, 2}, {1e9, 255}};
    for (const Case& c : cases) EXPECT_EQ(MagnitudeClass(c.x), c.cls) << c.x;
}

TEST(Thresholds, PanelTexts) {
    struct Case { Quantity q; float x; int lang; const char* text; };
    const Case cases[] = {
        {Quantity::DoseRate, 0.001f, Ru, " - "},        {Quantity::DoseRate, 0.0011f, Ru, " - "},
        {Quantity::DoseRate, 0, Ru, " - "},             {Quantity::DoseRate, -5, Ru, " - "},
        {Quantity::DoseRate, 0.0012f, Ru, " 0.0 мкЗв/ч"}, {Quantity::DoseRate, 0.5f, Ru, " 0.5 мкЗв/ч"},
        {Quantity::DoseRate, 2500, Ru, " 2.5 мЗв/ч"},   {Quantity::DoseRate, 2500000, Ru, " 2.5 Зв/ч"},
        {Quantity::DoseRate, 999999.9f, Ru, " 1000.0 мЗв/ч"},
        {Quantity::DoseRate, 1e9f, Ru, " - "},          {Quantity::DoseRate, 0.5f, En, " 0.5 uSv/h"},
        {Quantity::DoseRate, 2500000, En, " 2.5 Sv/h"}, {Quantity::Dose, 0.5f, Ru, " 0.5 мкЗв"},
        {Quantity::Dose, 2500, Ru, " 2.5 мЗв"},         {Quantity::Dose, 2500, En, " 2.5 mSv"},
        {Quantity::Dose, 2500000, Ru, " 2.5 Зв"},       {Quantity::Dose, 0.001f, En, " - "},
    };
    for (const QLocale& locale : Locales())
        for (const Case& c : cases) {
            const float thresholds[3] = {7, c.x, 9};
            EXPECT_EQ(ThresholdText(c.q, thresholds, 2, c.lang, locale), InLocale(QString::fromUtf8(c.text), locale))
                << c.x;
        }
}

TEST(Thresholds, PanelsPickTheEntryOfTheCurrentIndex) {
    ParameterValuesT params;
    params.RateThresholds[0] = 1;
    params.RateThresholds[1] = 2;
    params.RateThresholds[2] = 3;
    params.DoseThresholds[0] = 10;
    params.DoseThresholds[1] = 20;
    params.DoseThresholds[2] = 30;
    struct Case { uint8_t index; const char* panel7; const char* panel8; };
    const Case cases[] = {{0, " - ", " - "},
                          {1, " 1.0 мкЗв/ч", " 10.0 мкЗв"},
                          {3, " 3.0 мкЗв/ч", " 30.0 мкЗв"},
                          {4, " - ", " - "},
                          {255, " - ", " - "}};
    for (const Case& c : cases) {
        LiveStatusValues s;
        s.RateThresholdIndex = c.index;
        s.DoseThresholdIndex = c.index;
        const Presentation p = PresentStatus(s, params, Ru, 0, QLocale::c());
        EXPECT_EQ(p.panel7, QString::fromUtf8(c.panel7)) << int(c.index);
        EXPECT_EQ(p.panel8, QString::fromUtf8(c.panel8)) << int(c.index);
    }
    LiveStatusValues s;
    s.RateThresholdIndex = 2;
    s.DoseThresholdIndex = 1;
    const Presentation p = PresentStatus(s, params, En, 0, QLocale::c());
    EXPECT_EQ(p.panel7, QString(" 2.0 uSv/h"));
    EXPECT_EQ(p.panel8, QString(" 10.0 uSv"));
}

// ---------------------------------------------------------------- the remaining fields

TEST(PresentStatus, ColoursPanelsAndStatisticalError) {
    struct Case { uint8_t rateFlags; uint8_t statusFlags; float temperature; float statError;
                  uint16_t count; uint32_t pulses; bool red4; bool red10; const char* panel3; const char* label20; };
    const Case cases[] = {
        {0x04, 0x00, 23.45f, 12.5f, 65535, 4000000000u, true, false, " 23.5", "13%"},
        {0xFB, 0x04, -3.25f, 0.4f, 0, 0, false, true, " -3.3", "0%"},
        {0x00, 0xFB, 0, 99.5f, 7, 12, false, false, " 0.0", "100%"},
    };
    for (const QLocale& locale : Locales())
        for (const Case& c : cases) {
            LiveStatusValues s;
            s.RateFlags = c.rateFlags;
            s.StatusFlags = c.statusFlags;
            s.Temperature = c.temperature;
            s.StatError = c.statError;
            s.MeasurementCount = c.count;
            s.PulseCount = c.pulses;
            s.MeasurementTime = 40;
            for (int lang : {Ru, En}) {
                const Presentation p = PresentStatus(s, ParameterValuesT{}, lang, 0, locale);
                EXPECT_EQ(p.edit4Red, c.red4);
                EXPECT_EQ(p.edit10Red, c.red10);
                EXPECT_EQ(p.panel3, InLocale(c.panel3, locale));
                EXPECT_EQ(p.panel4, " " + QString::number(c.count));
                EXPECT_EQ(p.panel6, " " + QString::number(c.pulses));
                EXPECT_EQ(p.label20, QString(c.label20));
                EXPECT_EQ(p.panel5, QString::fromUtf8(lang == En ? " 40 sec" : " 40 с"));
            }
        }
}

}  // namespace
}  // namespace veresk
