// The 66-byte parameter block: decoding, the grid cells and the selectors.
#include <gtest/gtest.h>

#include <QLocale>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "link/codecs.h"
#include "settings/parameters.h"

namespace veresk {
namespace {

QString InLocale(QString pointText, const QLocale& locale) { return pointText.replace('.', locale.decimalPoint()); }

std::vector<QLocale> Locales() { return {QLocale::c(), QLocale(QLocale::Russian), QLocale(QLocale::German)}; }

void PutFloat(uint8_t* p, float v) { PutBE32(p, std::bit_cast<uint32_t>(v)); }
void PutPattern(uint8_t* p, uint32_t bits) { PutBE32(p, bits); }

std::array<uint8_t, ParameterLength> SampleBlock() {
    std::array<uint8_t, ParameterLength> b{};
    PutBE16(&b[0], 0x1234);
    PutBE32(&b[2], 0xFEDCBA98u);
    PutBE32(&b[6], 0x00012345u);
    b[10] = 12;
    b[11] = 60;
    b[12] = 2;
    b[13] = 1;
    b[14] = 1;
    b[15] = 1;
    b[16] = 3;
    b[17] = 2;
    PutFloat(&b[18], 0.3f);
    PutFloat(&b[22], 12.5f);
    PutPattern(&b[26], 0xFFFFFFFFu);  // erased
    PutPattern(&b[30], 0x7F800000u);  // exponent 255: 2^128, beyond the float range
    PutPattern(&b[34], 0x7F800000u);
    PutFloat(&b[38], -2.5f);
    PutFloat(&b[42], 1234.5678f);
    PutBE32(&b[46], 0x7FFFFFFFu);
    PutFloat(&b[50], 0.0005f);
    PutFloat(&b[54], 2500);
    PutPattern(&b[58], 0x00400000u);  // biased exponent 0
    b[62] = 1;
    b[63] = 0x04;
    b[64] = 0xAA;
    b[65] = 0x55;
    return b;
}

TEST(ParameterBlock, DecodesEveryField) {
    const auto b = SampleBlock();
    const ParameterValuesT v = DecodeParameterBlock(b.data());
    EXPECT_EQ(v.Word0, 0x1234);
    EXPECT_EQ(v.Long2, static_cast<int32_t>(0xFEDCBA98u));
    EXPECT_EQ(v.AccumulatedDoseTime, 0x00012345u);
    EXPECT_EQ(v.FirmwareVersion, 12);
    EXPECT_EQ(v.BacklightTime, 60);
    EXPECT_EQ(v.DisplayMode, 2);
    EXPECT_EQ(v.SoundOn, 1);
    EXPECT_EQ(v.DeviceLanguage, 1);
    EXPECT_EQ(v.DisplayView, 1);
    EXPECT_EQ(v.RateThresholdSetting, 3);
    EXPECT_EQ(v.Backlight, 2);
    EXPECT_EQ(v.RateThresholds[0], 0.3f);
    EXPECT_EQ(v.RateThresholds[1], 12.5f);
    EXPECT_EQ(v.RateThresholds[2], 0.0f);
    EXPECT_EQ(v.Float30, std::ldexp(1.0, 128));  // kept in double precision
    EXPECT_EQ(v.Float34, std::numeric_limits<float>::max());
    EXPECT_EQ(v.Float38, -2.5f);
    EXPECT_EQ(v.StoredDose, 1234.5678f);
    EXPECT_EQ(v.Long46, 0x7FFFFFFF);
    EXPECT_EQ(v.DoseThresholds[0], 0.0005f);
    EXPECT_EQ(v.DoseThresholds[1], 2500.0f);
    EXPECT_EQ(v.DoseThresholds[2], 0.0f);
    EXPECT_EQ(v.DoseThresholdSetting, 1);
    EXPECT_EQ(v.EditionFlags, 0x04);
}

TEST(ParameterBlock, EditionBitAndStoredState) {
    struct Case { uint8_t flags; int edition; };
    const Case cases[] = {{0x04, 1}, {0xFB, 0}, {0xFF, 1}, {0x00, 0}};
    for (const Case& c : cases) {
        ResetParameterState();
        auto b = SampleBlock();
        b[param_offset::EditionFlags] = c.flags;
        StoreParameterBlock(b.data());
        EXPECT_EQ(DeviceEditionOf(c.flags), c.edition);
        EXPECT_EQ(Params.DeviceEdition, c.edition) << int(c.flags);
        EXPECT_TRUE(Params.ParamsRead);
        EXPECT_EQ(Params.ParameterValues.EditionFlags, c.flags);
        EXPECT_EQ(Params.ParameterValues.FirmwareVersion, 12);
    }
    ResetParameterState();
    EXPECT_FALSE(Params.ParamsRead);
    EXPECT_EQ(Params.DeviceEdition, 0);
    EXPECT_EQ(Params.ParameterValues.FirmwareVersion, 0);
}

TEST(ParameterGrids, ThresholdCells) {
    struct Case { float v; const char* text; };
    const Case cases[] = {
        {0, "-"},         {0.0005f, "-"},    {-2, "-"},        {0.001f, "-"},
        {0.0011f, "0.00"}, {0.005f, "0.00"},  // the float of 0.005 lies below it
        {0.3f, "0.30"},   {12.5f, "12.50"},  {0.125f, "0.13"}, {2500, "2500.00"},
        {123456789.0f, "123456792.00"},      // the float's own digits, ten significant allowed
        {34359738368.0f, "3.435973837E+10"},  // 2^35: eleven digits before the point
    };
    for (const QLocale& locale : Locales())
        for (const Case& c : cases) EXPECT_EQ(FormatThresholdCell(c.v, locale), InLocale(c.text, locale)) << c.v;
}

TEST(ParameterGrids, ErasedThresholdShowsDash) {
    const auto b = SampleBlock();
    const ParameterValuesT v = DecodeParameterBlock(b.data());
    EXPECT_EQ(FormatThresholdCell(v.RateThresholds[2], QLocale::c()), QString("-"));
    EXPECT_EQ(FormatThresholdCell(v.RateThresholds[0], QLocale::c()), QString("0.30"));
}

TEST(ParameterGrids, FixedPointWithPrecision) {
    struct Case { double v; int precision; int decimals; const char* text; };
    const Case cases[] = {
        {12345.678, 7, 2, "12345.68"},     {123456.78, 7, 2, "123456.80"},  // precision before decimals
        {1234567.4, 7, 2, "1234567.00"},   {12345678, 7, 2, "1.234568E+07"},
        {0.1f, 7, 2, "0.10"},              {1234.5678f, 10, 4, "1234.5677"},  // the float is 1234.56774...
        {0.00005, 10, 4, "0.0001"},        {-1.23456, 10, 4, "-1.2346"},    {0, 10, 4, "0.0000"},
    };
    for (const QLocale& locale : Locales())
        for (const Case& c : cases)
            EXPECT_EQ(FormatFixedPrecision(c.v, c.precision, c.decimals, locale), InLocale(c.text, locale)) << c.v;
}

TEST(ParameterGrids, ScaledFormattingMovesTheDecimalPoint) {
    struct Case { double v; int pow10; int decimals; const char* text; };
    const Case cases[] = {
        {1234.5f, -3, 3, "1.235"},  // 1234.5 * 0.001 in binary would be 1.23449999...
        {2500, -6, 4, "0.0025"},    {0.5, -3, 3, "0.001"},  {1.5, 2, 0, "150"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FormatFixedPrecisionScaled(c.v, c.pow10, 8, c.decimals, QLocale::c()), QString(c.text)) << c.v;
}

TEST(ParameterSelectors, Items) {
    struct Case { uint8_t seconds; int item; };
    const Case cases[] = {{10, 0}, {60, 1}, {180, 2}, {0, -1}, {30, -1}, {255, -1}};
    for (const Case& c : cases) EXPECT_EQ(BacklightTimeItem(c.seconds), c.item) << int(c.seconds);

    struct ListCase { int value; int count; int item; };
    const ListCase lists[] = {{3 - 1, 3, 2}, {1 - 1, 4, 0}, {4 - 1, 4, 3}, {4 - 1, 3, -1}, {0 - 1, 3, -1}};
    for (const ListCase& c : lists) EXPECT_EQ(SelectorItem(c.value, c.count), c.item) << c.value;
}

}  // namespace
}  // namespace veresk
