#pragma once

#include "LyricLineRules.h"

#include "core/Lyrics.h"

#include <QAbstractListModel>
#include <QList>

#include <QtQml/qqmlregistration.h>

#include <optional>

// The rows of the lyrics list: each line's text, its words, its state and its opacity.
//
// Resets only when the lines change. A new active line announces the rows whose state changed
// (the rows between the old and the new active line); a tick of the position announces only
// the rows whose opacity changed (past lines inside their fade), so a tick within one line and
// outside every fade announces nothing.
class LyricLinesModel : public QAbstractListModel
{
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Made by the lyrics view's controller.")

public:
    enum Role {
        WordsRole = Qt::UserRole + 1,
        LineStateRole, // 0 active, 1 past, 2 future
        LineOpacityRole,
    };

    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    const QList<SyncedLine> &lines() const { return m_lines; }
    std::optional<qsizetype> activeIndex() const { return m_active; }
    LineState stateAt(qsizetype row) const { return LyricLineRules::stateOf(row, m_active); }
    double opacityAt(qsizetype row) const { return m_opacity.at(row); }
    const QStringList &wordsAt(qsizetype row) const { return m_words.at(row); }

    void setLines(const QList<SyncedLine> &lines, std::optional<qsizetype> active, double elapsed);
    // The position (offset applied) and the active line as of the latest tick.
    void update(std::optional<qsizetype> active, double elapsed);
    void setReduceMotion(bool reduceMotion);

private:
    double computeOpacity(qsizetype row, double elapsed) const;
    void recomputeAll();
    void announce(const QList<qsizetype> &rows, const QList<int> &roles);
    void traceRows(qsizetype first, qsizetype last, bool wordsRedrawn) const;

    QList<SyncedLine> m_lines;
    QList<QStringList> m_words;
    QList<double> m_opacity;
    std::optional<qsizetype> m_active;
    double m_elapsed = 0.0;
    bool m_reduceMotion = false;
};
