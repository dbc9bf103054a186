#include "ui/library/LibraryRules.h"

#include "platform/Text.h"

#include <algorithm>
#include <cmath>

namespace LibraryRules {

QString foldForSearch(const QString &text)
{
    return text.toLower().normalized(QString::NormalizationForm_C);
}

HistoryQuery::HistoryQuery(const QString &searchText)
    : m_keepsAll(searchText.isEmpty())
    , m_folded(m_keepsAll ? QString() : foldForSearch(Text::trimmed(searchText)))
{
}

bool HistoryQuery::matchesFolded(const QString &foldedTitle, const QString &foldedArtist) const
{
    if (m_keepsAll)
        return true;
    // QString::contains answers yes for an empty needle; an empty query matches nothing.
    if (m_folded.isEmpty())
        return false;
    return foldedTitle.contains(m_folded) || foldedArtist.contains(m_folded);
}

int columnCount(double width)
{
    const double available = width - 2 * gridInset;
    if (!(available > 0))
        return 1;
    const int n = int(std::floor((available + gridSpacing) / (gridMinimumColumnWidth + gridSpacing)));
    return std::max(1, n);
}

double cellWidth(double width, int columns)
{
    columns = std::max(1, columns);
    const double available = std::max(0.0, width - 2 * gridInset);
    return std::max(0.0, (available - gridSpacing * (columns - 1)) / columns);
}

} // namespace LibraryRules
