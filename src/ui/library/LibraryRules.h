#pragma once

#include <QString>

// The study library's pure rules: the History search and the card grids' column count.
namespace LibraryRules {

// The form a title, artist or query is compared in: lower-cased, then canonically composed
// (NFC), so a decomposed accent matches a precomposed one.
QString foldForSearch(const QString &text);

// A History search text prepared once per keystroke. An empty text keeps every song; any other
// text is trimmed of white space and newlines and folded, and an empty result keeps none.
class HistoryQuery
{
public:
    explicit HistoryQuery(const QString &searchText);
    bool keepsAll() const { return m_keepsAll; }
    // Title first, then artist; both already folded.
    bool matchesFolded(const QString &foldedTitle, const QString &foldedArtist) const;

private:
    bool m_keepsAll = true;
    QString m_folded;
};

// Card grids: adaptive columns of at least 260 points, 12 points apart, inside a 16-point
// inset on both sides; never fewer than one.
constexpr double gridMinimumColumnWidth = 260.0;
constexpr double gridSpacing = 12.0;
constexpr double gridInset = 16.0;
int columnCount(double width);
// The width of one cell when `columns` share `width`.
double cellWidth(double width, int columns);

} // namespace LibraryRules
