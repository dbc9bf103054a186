#pragma once

#include "core/GoldenCard.h"
#include "core/Lyrics.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <optional>
#include <utility>

// Everything one share card shows: the card's texts, the lyric line it belongs to as the large
// "hero" text (with the line before it as context), and the song it comes from. When no line
// matches the card's time, the example sentence stands in as the hero and heroIsFallback says so.
struct ShareCardContent
{
    // What a card hands over to be shared.
    struct Input
    {
        QString phrase;
        QString translation;
        std::optional<QString> note;
        std::optional<PronunciationHint> pronunciationHint;
        std::optional<QString> culturalHint;
        QString example;
        QString tag;
        std::optional<double> lineTimestamp;
        QList<SyncedLine> lines;
        QString songTitle;
        QString songArtist;
        double tolerance = defaultTolerance;
    };

    static constexpr double defaultTolerance = 0.75;

    QUuid id;
    QString phrase;
    QString translation;
    std::optional<QString> note;      // absent when empty
    QString example;
    std::optional<PronunciationHint> pronunciationHint;
    std::optional<QString> culturalHint; // absent when blank; otherwise untrimmed
    QString tag;
    std::optional<double> lineTimestamp;
    QString heroLine;
    QStringList previousLyricLines; // at most one, earliest first; empty for a fallback hero
    bool heroIsFallback = false;
    QString songTitle;
    QString songArtist;

    // Never fails; every build gets a fresh id.
    static ShareCardContent build(const Input &input);

    // The line nearest to `time` within `tolerance` (ties: the earliest in `lines`), else the
    // latest line starting at or before `time`; with it up to `previousCount` lines before it
    // (empty texts left out). Nothing without a time, without lines, or before every line. The
    // lines are taken in the order given.
    struct HeroMatch
    {
        QStringList previousLines;
        QString heroLine;
        friend bool operator==(const HeroMatch &, const HeroMatch &) = default;
    };
    static std::optional<HeroMatch> resolveHeroLine(std::optional<double> time, const QList<SyncedLine> &lines,
                                                    int previousCount, double tolerance);

    // "m:ss" of the nearest whole second (halves away from zero); minutes are not capped.
    // Negative, NaN and −∞ give "0:00"; +∞ and huge values are capped before rounding.
    static QString formatTimestamp(double seconds);
};
