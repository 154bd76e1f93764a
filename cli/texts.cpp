#include "cli/texts.h"

namespace veresk::cli {

int LanguageOfLocale(const QString& localeName) { return localeName.startsWith(QLatin1String("ru")) ? 1 : 2; }

int CliLanguage() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const QString value = qEnvironmentVariable(name);
        if (!value.isEmpty()) return LanguageOfLocale(value);
    }
    return 2;
}

QString T(const TextPair& text) { return Tr(text, CliLanguage()); }

}  // namespace veresk::cli
