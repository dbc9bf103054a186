#pragma once

#include "core/ShareCardContent.h"

#include <QColor>
#include <QList>
#include <QString>

#include <array>

// The texts and colours a share card derives from its content: pure functions, shared by the
// painter, the sheet and the tests.
namespace ShareCardText {

struct Palette
{
    QColor c0, c1, c2;
};
// The five accent triples, indexed by paletteIndex().
const std::array<Palette, 5> &palettes();
// h = (31·h + scalar) mod 2^31 over the Unicode scalars of phrase + title + artist + tag; h mod 5.
int paletteIndex(const ShareCardContent &content);

// The previous lines and the hero line joined with "\n".
QString lyricsText(const ShareCardContent &content);
// Whether the phrase occurs in the lyric text, ignoring case (both sides compared in NFC).
bool phraseAppearsInLyrics(const ShareCardContent &content);

// One run of the hero text: plain, or an occurrence of the phrase (in the lyric's own case).
struct HeroRun
{
    QString text;
    bool highlighted = false;
    friend bool operator==(const HeroRun &, const HeroRun &) = default;
};
// Every occurrence of the phrase, in every line, is its own highlighted run.
QList<HeroRun> highlightedLyrics(const ShareCardContent &content);

// The card view's pronunciation text (GlassCardRules::pronunciationText); empty without a hint.
QString pronunciationText(const ShareCardContent &content);
// "title · artist" trimmed; one of them alone; "Cantorella" when both are blank.
QString footerSongLine(const ShareCardContent &content);

struct StudyRow
{
    QString title;
    QString symbol;
    QString value;
    QColor valueColor;
    bool monospaced = false;
};
// The rows the card shows, in their fixed order, each only when it has a value.
QList<StudyRow> studyRows(const ShareCardContent &content);

// A file-name-safe piece: letters, marks and digits of any script pass, every run of anything
// else becomes one "-", none at the ends, at most 40 characters (grapheme clusters, never a
// split surrogate pair or combining mark). `fallback` when nothing is left.
QString fileNameComponent(const QString &text, const QString &fallback);
// "Cantorella-<title>-<phrase>.png".
QString suggestedFileName(const ShareCardContent &content);

} // namespace ShareCardText
