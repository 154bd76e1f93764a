#pragma once
// Building the parameter block that "Сохранить параметры" sends (command 0x80, 66 bytes,
// address 0) from what the parameters tab holds and from the last good parameter read.
// No windows here: the tab copies its controls into ParameterControls first.
#include <QLocale>
#include <QString>
#include <array>
#include <optional>

#include "settings/parameters.h"

namespace veresk {

// What the parameters tab holds at the moment of the click.  Selector fields are the
// current item indexes (-1: nothing selected); the cells are column 1, rows 1-3, of
// the two threshold grids, exactly as the grid holds them.
struct ParameterControls {
    int ComboBox8 = -1;  // backlight time: 10 s, 1 min, 3 min
    int ComboBox3 = -1;  // display mode
    int ComboBox1 = -1;  // sound
    int ComboBox4 = -1;  // device language
    int ComboBox2 = -1;  // display view
    int ComboBox5 = -1;  // dose-rate threshold in force, 1-3
    int ComboBox6 = -1;  // backlight colour
    int ComboBox7 = -1;  // dose threshold in force, 1-3 (its fourth item is empty)
    std::array<QString, 3> RateCells;  // StringGrid1, uSv/h
    std::array<QString, 3> DoseCells;  // StringGrid4, uSv
};

// The byte a selector sends: `mapping` lists the byte of each item.  With no selection,
// or with an item the mapping does not cover (ComboBox7's empty fourth item), the byte
// the device reported in the last good read is sent again, so an unset control never
// changes the device's setting.
uint8_t SelectorByte(int item, std::initializer_list<uint8_t> mapping, uint8_t lastRead);

// A threshold cell read as a number: exactly "-" is 0, anything else must be a decimal
// number in `locale` (its decimal separator; group separators are refused, so that
// "1,5" is not taken as 15 where the separator is a point).  No value when the text is
// not a number.
std::optional<double> ParseThresholdCell(const QString& text, const QLocale& locale);

// The value a threshold cell is sent as: dose-rate cells above 0, and dose cells of 0
// or more, are raised by 0.001 (the read shows 0.001 and below as "-").
enum class ThresholdKind { DoseRate, Dose };
double ThresholdToSend(double value, ThresholdKind kind);

// The message of the error a cell that cannot be sent raises, in the interface language:
// «"abc" — не число» / «"abc" is not a number».
QString NotANumberMessage(const QString& text, int uiLanguage);

// Reads every threshold cell as it would be sent.  A cell that is neither "-" nor a
// number, or whose value the device float cannot carry (infinity, NaN, a magnitude
// outside the normal single-precision range), throws std::runtime_error with
// NotANumberMessage for the first such cell.  Changes nothing.
void CheckThresholdCells(const ParameterControls& controls, const QLocale& locale, int uiLanguage);

// Fills Link.IoBuffer: bytes 0-999 set to 0xFF, then the 66 payload bytes, in the order
// 0, 2, 6, 46, 10, 11-16, 62, 17, the dose-rate thresholds, the dose thresholds, 30, 34,
// 38, 42, 63.  Offsets 64 and 65 stay FF FF.  `liveDose` (uSv, from the latest status
// block) goes to offset 42.
//
// Every threshold cell is read before the buffer is touched: a cell that cannot be sent
// throws as CheckThresholdCells does, and the buffer is left as it was.
void BuildParameterPayload(const ParameterControls& controls, const ParameterValuesT& lastRead, float liveDose,
                           const QLocale& locale, int uiLanguage);

}  // namespace veresk
