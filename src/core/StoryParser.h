#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The structured view of a song-story article.
//
// Article format: plain text in lines. An optional header of tagged lines
//   TITLE: …   TITLE_CN: …   YEAR: …   GENRE: …   MOOD: a, b, c   QUOTE: "…"
// then a line "EN:" opening the English section and a line "CN:" opening the Chinese one.
// Inside a section, blank lines separate paragraphs. Tags and markers are case-insensitive;
// a marker must stand alone on its line.
struct ParsedStory
{
    std::optional<QString> titleEN = {};
    std::optional<QString> titleCN = {};
    std::optional<int> year = {};              // 1900 … 2100 only
    std::optional<QString> genre = {};
    QStringList moodTags = {};                 // lower case, at most five
    std::optional<QString> signatureLine = {}; // outer quotation marks removed
    QStringList paragraphsEN = {};
    QStringList paragraphsCN = {};

    static constexpr int maxMoodTags = 5;

    // Pure; never fails. Malformed tags and out-of-range years are ignored.
    static ParsedStory parse(const QString &article);

    bool isEmpty() const { return *this == ParsedStory(); }
    bool operator==(const ParsedStory &) const = default;
};
