#include "shell/texts.h"

namespace veresk {

QString Tr(const TextPair& text, int uiLanguage) {
    return QString::fromUtf8(IsEnglish(uiLanguage) ? text.en : text.ru);
}

}  // namespace veresk
