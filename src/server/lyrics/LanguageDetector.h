#pragma once

#include <QString>

#include <optional>

namespace server {

// The language of a song's lyrics: the words of its timed lines (stamps, ID tags and untimed
// lines left out) as CLD2 sees them, as an ISO 639-1 code ("en", "fr", "zh"). Nothing when CLD2
// does not call its guess reliable or the language has no two-letter code. Safe to call from
// any thread.
std::optional<QString> detectLyricsLanguage(const QString &lrcText);

} // namespace server
