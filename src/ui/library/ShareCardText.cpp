#include "ui/library/ShareCardText.h"

#include "ui/design/Theme.h"
#include "ui/player/GlassCardLooks.h"

#include <QTextBoundaryFinder>

namespace ShareCardText {

const std::array<Palette, 5> &palettes()
{
    static const std::array<Palette, 5> table = {{
        {Theme::neonCyan(), Theme::neonViolet(), Theme::neonPink()},
        {Theme::neonViolet(), Theme::neonPink(), Theme::neonBlue()},
        {Theme::neonBlue(), Theme::neonCyan(), Theme::neonViolet()},
        {Theme::accentGold(), Theme::neonPink(), Theme::neonViolet()},
        {Theme::neonPink(), Theme::neonCyan(), Theme::neonBlue()},
    }};
    return table;
}

int paletteIndex(const ShareCardContent &content)
{
    const QString key = content.phrase + content.songTitle + content.songArtist + content.tag;
    quint32 h = 0;
    for (const char32_t scalar : key.toUcs4())
        h = (31u * h + quint32(scalar)) & 0x7fffffffu;
    return int(h % 5);
}

QString lyricsText(const ShareCardContent &content)
{
    QStringList lines = content.previousLyricLines;
    lines.append(content.heroLine);
    return lines.join(QLatin1Char('\n'));
}

namespace {
QString nfc(const QString &text)
{
    return text.normalized(QString::NormalizationForm_C);
}
} // namespace

bool phraseAppearsInLyrics(const ShareCardContent &content)
{
    if (content.phrase.isEmpty())
        return false;
    return nfc(lyricsText(content)).contains(nfc(content.phrase), Qt::CaseInsensitive);
}

QList<HeroRun> highlightedLyrics(const ShareCardContent &content)
{
    const QString text = nfc(lyricsText(content));
    const QString phrase = nfc(content.phrase);
    if (text.isEmpty())
        return {};
    if (phrase.isEmpty())
        return {{text, false}};
    QList<HeroRun> runs;
    qsizetype cursor = 0;
    while (cursor < text.size()) {
        const qsizetype at = text.indexOf(phrase, cursor, Qt::CaseInsensitive);
        if (at < 0) {
            runs.append({text.mid(cursor), false});
            break;
        }
        if (at > cursor)
            runs.append({text.mid(cursor, at - cursor), false});
        runs.append({text.mid(at, phrase.size()), true});
        cursor = at + phrase.size();
    }
    return runs;
}

QString pronunciationText(const ShareCardContent &content)
{
    return content.pronunciationHint ? GlassCardRules::pronunciationText(*content.pronunciationHint) : QString();
}

QString footerSongLine(const ShareCardContent &content)
{
    const QString title = content.songTitle.trimmed();
    const QString artist = content.songArtist.trimmed();
    if (title.isEmpty() && artist.isEmpty())
        return QStringLiteral("Cantorella");
    if (title.isEmpty())
        return artist;
    if (artist.isEmpty())
        return title;
    return title + QStringLiteral(" · ") + artist;
}

QList<StudyRow> studyRows(const ShareCardContent &content)
{
    QList<StudyRow> rows;
    if (!content.phrase.isEmpty())
        rows.append({QStringLiteral("短语"), QStringLiteral("quote.bubble"), content.phrase,
                     Theme::withAlpha(Theme::neonCyan(), 0.95), false});
    if (!content.translation.isEmpty())
        rows.append({QStringLiteral("释义"), QStringLiteral("character.book.closed"), content.translation,
                     Theme::white(0.7), false});
    if (content.note && !content.note->isEmpty())
        rows.append({QStringLiteral("用法"), QStringLiteral("text.book.closed"), *content.note, Theme::white(0.7),
                     true});
    if (!content.example.isEmpty())
        rows.append({QStringLiteral("例句"), QStringLiteral("text.quote"), content.example,
                     Theme::withAlpha(Theme::neonCyan(), 0.78), true});
    if (content.pronunciationHint)
        rows.append({QStringLiteral("发音"), QStringLiteral("waveform"), pronunciationText(content),
                     Theme::withAlpha(Theme::neonViolet(), 0.9), true});
    if (content.culturalHint && !content.culturalHint->isEmpty())
        rows.append({QStringLiteral("文化"), QStringLiteral("globe"), *content.culturalHint, Theme::white(0.7),
                     false});
    return rows;
}

namespace {
bool isAlphanumeric(char32_t scalar)
{
    switch (QChar::category(scalar)) {
    case QChar::Letter_Uppercase:
    case QChar::Letter_Lowercase:
    case QChar::Letter_Titlecase:
    case QChar::Letter_Modifier:
    case QChar::Letter_Other:
    case QChar::Mark_NonSpacing:
    case QChar::Mark_SpacingCombining:
    case QChar::Mark_Enclosing:
    case QChar::Number_DecimalDigit:
    case QChar::Number_Letter:
    case QChar::Number_Other:
        return true;
    default:
        return false;
    }
}

// The first `count` grapheme clusters of `text`.
QString leftGraphemes(const QString &text, int count)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int seen = 0;
    while (finder.toNextBoundary() >= 0) {
        if (++seen == count)
            return text.left(finder.position());
    }
    return text;
}
} // namespace

QString fileNameComponent(const QString &text, const QString &fallback)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return fallback;
    QString cleaned;
    bool lastWasDash = false;
    for (const char32_t scalar : trimmed.toUcs4()) {
        if (isAlphanumeric(scalar)) {
            cleaned += QString::fromUcs4(&scalar, 1);
            lastWasDash = false;
        } else if (!lastWasDash) { // a run of anything else (a "-" included) is one "-"
            cleaned += QLatin1Char('-');
            lastWasDash = true;
        }
    }
    while (cleaned.startsWith(QLatin1Char('-')))
        cleaned.remove(0, 1);
    while (cleaned.endsWith(QLatin1Char('-')))
        cleaned.chop(1);
    if (cleaned.isEmpty())
        return fallback;
    return leftGraphemes(cleaned, 40);
}

QString suggestedFileName(const ShareCardContent &content)
{
    return QStringLiteral("Cantorella-") + fileNameComponent(content.songTitle, QStringLiteral("song")) +
           QLatin1Char('-') + fileNameComponent(content.phrase, QStringLiteral("phrase")) + QStringLiteral(".png");
}

} // namespace ShareCardText
