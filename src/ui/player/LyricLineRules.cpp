#include "LyricLineRules.h"

#include <algorithm>
#include <cmath>

QString lineStateName(LineState state)
{
    switch (state) {
    case LineState::active: return QStringLiteral("active");
    case LineState::past: return QStringLiteral("past");
    case LineState::future: return QStringLiteral("future");
    }
    return {};
}

namespace LyricLineRules {

LineState stateOf(qsizetype index, std::optional<qsizetype> active)
{
    if (!active)
        return LineState::future;
    if (index == *active)
        return LineState::active;
    return index < *active ? LineState::past : LineState::future;
}

QStringList words(const QString &text)
{
    return text.split(QLatin1Char(' '), Qt::KeepEmptyParts);
}

double lineEndTime(const QList<SyncedLine> &lines, qsizetype index)
{
    if (index + 1 < lines.size())
        return lines.at(index + 1).timestamp;
    return lines.at(index).timestamp + lastLineSeconds;
}

double lineOpacity(LineState state, double elapsed, double endTime, bool reduceMotion)
{
    switch (state) {
    case LineState::active: return activeOpacity;
    case LineState::future: return restingOpacity;
    case LineState::past: break;
    }
    if (reduceMotion)
        return restingOpacity;
    const double age = elapsed - endTime;
    if (age <= 0)
        return activeOpacity;
    if (age <= pastHoldSeconds)
        return restingOpacity;
    if (age <= pastHoldSeconds + pastFadeSeconds)
        return restingOpacity - (age - pastHoldSeconds) / pastFadeSeconds * (restingOpacity - fadedOpacity);
    return fadedOpacity;
}

qsizetype litPieceCount(const QStringList &words, qsizetype litCount)
{
    if (litCount <= 0)
        return 0;
    qsizetype seen = 0;
    for (qsizetype i = 0; i < words.size(); ++i) {
        if (!words.at(i).isEmpty() && ++seen == litCount)
            return i + 1;
    }
    return words.size();
}

QString wordRowRichText(const QStringList &words, qsizetype litPieces, const QString &litColor)
{
    const qsizetype lit = std::clamp<qsizetype>(litPieces, 0, words.size());
    QString litPart;
    QString restPart;
    for (qsizetype i = 0; i < words.size(); ++i) {
        QString &part = i < lit ? litPart : restPart;
        part += words.at(i).toHtmlEscaped();
        if (i + 1 < words.size())
            part += QLatin1Char(' ');
    }
    QString html = QStringLiteral("<span style=\"white-space: pre-wrap\">");
    if (!litPart.isEmpty())
        html += QStringLiteral("<span style=\"color: %1\">").arg(litColor) + litPart + QStringLiteral("</span>");
    html += restPart + QStringLiteral("</span>");
    return html;
}

} // namespace LyricLineRules
