#include "PlayerFormat.h"

#include "LyricLineRules.h"
#include "diagnostics/RenderLoopProbe.h"

#include <QLocale>

#include <cmath>

namespace PlayerFormat {

QString timeLabel(double seconds)
{
    if (!std::isfinite(seconds) || seconds < 1.0)
        return QStringLiteral("0:00");
    // Clamped before converting: a huge value must not overflow the integer.
    const qint64 whole = qint64(std::trunc(std::min(seconds, 1e12)));
    return QStringLiteral("%1:%2").arg(whole / 60).arg(whole % 60, 2, 10, QLatin1Char('0'));
}

QString offsetLabel(double seconds)
{
    if (!std::isfinite(seconds))
        seconds = 0.0;
    QString digits = QString::number(seconds, 'f', 2);
    // -0.001 and -0.0 print as "-0.00": zero carries the plus sign.
    if (digits == u"-0.00")
        digits = QStringLiteral("0.00");
    if (!digits.startsWith(QLatin1Char('-')))
        digits.prepend(QLatin1Char('+'));
    return digits + QStringLiteral(" s");
}

QString traceDouble(double value)
{
    QString text = QString::number(value, 'g', QLocale::FloatingPointShortest);
    if (std::isfinite(value) && !text.contains(QLatin1Char('.')) && !text.contains(QLatin1Char('e')))
        text += QStringLiteral(".0");
    return text;
}

QString traceIndex(std::optional<qsizetype> index)
{
    return index ? QStringLiteral("Optional(%1)").arg(*index) : QStringLiteral("nil");
}

} // namespace PlayerFormat

QString PlayerTexts::wordRowRichText(const QStringList &words, int litPieces) const
{
    RenderLoopProbe::shared().trace(QStringLiteral("WrappingWordsView.body"),
                                    QStringLiteral("words=%1 lit=%2 state=active").arg(words.size()).arg(litPieces), 50);
    // sRGB (0.918, 0.988, 1.0): the pale cyan of lit words.
    return LyricLineRules::wordRowRichText(words, litPieces, QStringLiteral("#eafcff"));
}
