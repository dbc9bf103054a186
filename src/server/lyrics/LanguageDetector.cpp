#include "server/lyrics/LanguageDetector.h"

#include "core/LrcParser.h"

#include <cld2/public/compact_lang_det.h>

#include <cstring>

namespace server {

namespace {

// CLD2 names a few languages by codes ISO 639-1 has since replaced, and Chinese in traditional
// script as "zh-Hant"; everything else it names by the two-letter code, or by a longer one for
// languages that have none.
std::optional<QString> iso6391(CLD2::Language language)
{
    const char *code = CLD2::LanguageCode(language);
    if (!code)
        return std::nullopt;
    if (std::strcmp(code, "iw") == 0)
        return QStringLiteral("he");
    if (std::strcmp(code, "jw") == 0)
        return QStringLiteral("jv");
    if (std::strncmp(code, "zh", 2) == 0)
        return QStringLiteral("zh");
    if (std::strlen(code) != 2 || std::strcmp(code, "un") == 0)
        return std::nullopt;
    return QString::fromLatin1(code);
}

} // namespace

std::optional<QString> detectLyricsLanguage(const QString &lrcText)
{
    QString words;
    for (const SyncedLine &line : LRCParser::parse(lrcText)) {
        if (line.text.isEmpty())
            continue;
        words += line.text;
        words += QLatin1Char('\n');
    }
    // QString's encoder writes well-formed UTF-8 (a lone surrogate becomes U+FFFD), which is
    // what this entry point of CLD2 requires.
    const QByteArray utf8 = words.toUtf8();
    bool reliable = false;
    const CLD2::Language language = CLD2::DetectLanguage(utf8.constData(), int(utf8.size()), true, &reliable);
    if (!reliable || language == CLD2::UNKNOWN_LANGUAGE)
        return std::nullopt;
    return iso6391(language);
}

} // namespace server
