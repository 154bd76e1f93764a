#pragma once
// Every text the program shows exists in Russian and English; UiLanguage 2 picks the
// English one, every other value the Russian one.
#include <QString>

namespace veresk {

struct TextPair {
    const char* ru;  // UTF-8
    const char* en;
};

inline bool IsEnglish(int uiLanguage) { return uiLanguage == 2; }
QString Tr(const TextPair& text, int uiLanguage);

// Link messages drawn on the status line.
namespace msg {
inline constexpr TextPair Reading{"Чтение", "Reading"};
inline constexpr TextPair ErrorOpeningPort{"Невозможно открыть порт", "Error opening port"};
inline constexpr TextPair PortOpeningError{"Невозможно открыть порт", "Port opening error"};
inline constexpr TextPair ConnectionError{"Ошибка связи", "Connection error"};
inline constexpr TextPair CannotConnect{"Невозможно установить связь", "Connection error"};
inline constexpr TextPair CrcError{"Ошибка CRC", "CRC error"};
inline constexpr TextPair ReadOk{"Прочитано", "Read OK"};
inline constexpr TextPair WriteOk{"Записано", "Write OK"};
inline constexpr TextPair NoParameters{"Параметры не прочитаны!", "No parameters!"};
// A threshold cell that cannot be sent; %1 is the cell's text.
inline constexpr TextPair NotANumber{"\"%1\" — не число", "\"%1\" is not a number"};
// Added to a value's description for assistive technology while its threshold is passed.
inline constexpr TextPair ThresholdExceeded{", порог превышен", ", threshold exceeded"};
inline constexpr TextPair Searching{"Поиск устройства...", "Searching..."};
}  // namespace msg

}  // namespace veresk
