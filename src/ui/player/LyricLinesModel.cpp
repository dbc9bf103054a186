#include "LyricLinesModel.h"

#include "PlayerFormat.h"

#include "diagnostics/RenderLoopProbe.h"

#include <algorithm>

using namespace LyricLineRules;

int LyricLinesModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_lines.size());
}

QVariant LyricLinesModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const qsizetype row = index.row();
    switch (role) {
    case Qt::DisplayRole: return m_lines.at(row).text;
    case WordsRole: return m_words.at(row);
    case LineStateRole: return int(stateAt(row));
    case LineOpacityRole: return m_opacity.at(row);
    default: return {};
    }
}

QHash<int, QByteArray> LyricLinesModel::roleNames() const
{
    return {{WordsRole, "words"}, {LineStateRole, "lineState"}, {LineOpacityRole, "lineOpacity"}};
}

double LyricLinesModel::computeOpacity(qsizetype row, double elapsed) const
{
    return lineOpacity(stateAt(row), elapsed, lineEndTime(m_lines, row), m_reduceMotion);
}

void LyricLinesModel::recomputeAll()
{
    m_opacity.resize(m_lines.size());
    for (qsizetype row = 0; row < m_lines.size(); ++row)
        m_opacity[row] = computeOpacity(row, m_elapsed);
}

void LyricLinesModel::setLines(const QList<SyncedLine> &lines, std::optional<qsizetype> active, double elapsed)
{
    beginResetModel();
    m_lines = lines;
    m_words.clear();
    m_words.reserve(lines.size());
    for (const SyncedLine &line : lines)
        m_words.append(words(line.text));
    m_active = active && *active < lines.size() ? active : std::nullopt;
    m_elapsed = elapsed;
    recomputeAll();
    endResetModel();
    if (!m_lines.isEmpty())
        traceRows(0, m_lines.size() - 1, true);
}

void LyricLinesModel::update(std::optional<qsizetype> active, double elapsed)
{
    if (active && (*active < 0 || *active >= m_lines.size()))
        active.reset();
    const double before = m_elapsed;
    m_elapsed = elapsed;

    if (active != m_active) {
        // Rows whose state changes: from the lower to the higher of the two active rows (a row
        // missing on one side counts as row 0's side, where every row is future).
        const std::optional<qsizetype> old = m_active;
        m_active = active;
        const qsizetype first = std::min(old.value_or(0), active.value_or(0));
        const qsizetype last = std::max(old.value_or(-1), active.value_or(-1));
        if (last >= first) {
            for (qsizetype row = first; row <= last; ++row)
                m_opacity[row] = computeOpacity(row, elapsed);
            emit dataChanged(index(int(first)), index(int(last)),
                             {LineStateRole, LineOpacityRole});
            traceRows(first, last, true);
        }
    }

    // Past rows age with the position. Their end times rise with the row, so walking back from
    // the active row, once a row is past its fade at both positions every earlier row is too.
    if (!m_active)
        return;
    QList<qsizetype> changed;
    const double fadeEnd = pastHoldSeconds + pastFadeSeconds;
    for (qsizetype row = *m_active - 1; row >= 0; --row) {
        const double end = lineEndTime(m_lines, row);
        if (elapsed - end > fadeEnd && before - end > fadeEnd && m_opacity.at(row) == computeOpacity(row, elapsed))
            break;
        const double opacity = computeOpacity(row, elapsed);
        if (opacity != m_opacity.at(row)) {
            m_opacity[row] = opacity;
            changed.append(row);
        }
    }
    announce(changed, {LineOpacityRole});
}

void LyricLinesModel::setReduceMotion(bool reduceMotion)
{
    if (m_reduceMotion == reduceMotion)
        return;
    m_reduceMotion = reduceMotion;
    QList<qsizetype> changed;
    for (qsizetype row = 0; row < m_lines.size(); ++row) {
        const double opacity = computeOpacity(row, m_elapsed);
        if (opacity != m_opacity.at(row)) {
            m_opacity[row] = opacity;
            changed.append(row);
        }
    }
    announce(changed, {LineOpacityRole});
}

void LyricLinesModel::announce(const QList<qsizetype> &rows, const QList<int> &roles)
{
    // `rows` is sorted one way or the other; announce each run of neighbours once.
    QList<qsizetype> sorted = rows;
    std::sort(sorted.begin(), sorted.end());
    for (qsizetype i = 0; i < sorted.size();) {
        qsizetype j = i;
        while (j + 1 < sorted.size() && sorted.at(j + 1) == sorted.at(j) + 1)
            ++j;
        emit dataChanged(index(int(sorted.at(i))), index(int(sorted.at(j))), roles);
        traceRows(sorted.at(i), sorted.at(j), false);
        i = j + 1;
    }
}

void LyricLinesModel::traceRows(qsizetype first, qsizetype last, bool wordsRedrawn) const
{
    // The rows redraw: each line view's body and word row, sampled like every row's. The word
    // view itself redraws only when its state changed; the playing row's word view traces its
    // own redraws as its words light up.
    RenderLoopProbe &probe = RenderLoopProbe::shared();
    for (qsizetype row = first; row <= last; ++row) {
        const LineState state = stateAt(row);
        const QString detail = QStringLiteral("idx=%1 state=%2").arg(PlayerFormat::traceIndex(row), lineStateName(state));
        probe.trace(QStringLiteral("LyricLineView.body"), detail, 50);
        probe.trace(QStringLiteral("LyricLineView.wordRow"), detail, 50);
        if (wordsRedrawn && state != LineState::active)
            probe.trace(QStringLiteral("WrappingWordsView.body"),
                        QStringLiteral("words=%1 lit=0 state=%2").arg(m_words.at(row).size()).arg(lineStateName(state)),
                        50);
    }
}
