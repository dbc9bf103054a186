#pragma once

#include <QSet>
#include <QString>

#include <optional>

// The languages the program teaches. Lyrics in any other language get no study cards.
namespace LanguagePolicy {

const QSet<QString> &targetLanguages();

// True exactly when the code, unchanged (no trimming, case-sensitive), is a target language:
// "en" is, "EN", "en-US", "" and an absent code are not.
bool isTarget(const std::optional<QString> &languageCode);

} // namespace LanguagePolicy
