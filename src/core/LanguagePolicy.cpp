#include "core/LanguagePolicy.h"

namespace LanguagePolicy {

const QSet<QString> &targetLanguages()
{
    static const QSet<QString> languages{QStringLiteral("en")};
    return languages;
}

bool isTarget(const std::optional<QString> &languageCode)
{
    if (!languageCode || languageCode->isEmpty())
        return false;
    return targetLanguages().contains(*languageCode);
}

} // namespace LanguagePolicy
