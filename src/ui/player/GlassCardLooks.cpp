#include "GlassCardLooks.h"

#include "ui/design/Motion.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace GlassCardRules {

GlassCardLook look(bool isActive, bool isDimmed, bool mastered, double preflightProgress, bool reduceMotion)
{
    GlassCardLook result;
    // NaN counts as no approach.
    const double p = preflightProgress > 0 ? preflightProgress : 0.0;
    if (isActive) {
        result.borderWidth = 1.8;
        result.borderOpacity = 1.0;
        result.scale = 1.015;
        result.glow = true;
        return result;
    }
    result.borderOpacity = Motion::Amplitude::pulseMin + (Motion::Amplitude::pulseMax - Motion::Amplitude::pulseMin) * p;
    if (isDimmed)
        result.opacity = mastered ? 0.35 : 0.55;
    else
        result.opacity = mastered ? 0.55 : 1.0;
    result.saturation = mastered ? 0.6 : 1.0;
    result.scale = reduceMotion ? 1.0 : 1.0 + (Motion::Amplitude::scaleUp - 1.0) * p;
    return result;
}

QColor desaturated(const QColor &color, double saturation)
{
    if (!(saturation < 1)) // NaN too: as it is
        return color;
    const double amount = 1.0 - std::max(0.0, saturation);
    const double mean = (color.redF() + color.greenF() + color.blueF()) / 3.0;
    const auto toward = [&](double channel) { return float(channel + (mean - channel) * amount); };
    return QColor::fromRgbF(toward(color.redF()), toward(color.greenF()), toward(color.blueF()), color.alphaF());
}

namespace {

std::optional<std::pair<int, int>> minutesAndSeconds(std::optional<double> lineTimestamp)
{
    if (!lineTimestamp || !std::isfinite(*lineTimestamp))
        return std::nullopt;
    const double truncated = std::trunc(*lineTimestamp);
    if (truncated > double(std::numeric_limits<int>::max()))
        return std::nullopt;
    const int seconds = truncated < 0 ? 0 : int(truncated);
    return std::pair{seconds / 60, seconds % 60};
}

} // namespace

std::optional<QString> timeChipText(std::optional<double> lineTimestamp)
{
    const auto ms = minutesAndSeconds(lineTimestamp);
    if (!ms)
        return std::nullopt;
    return QStringLiteral("%1:%2").arg(ms->first).arg(ms->second, 2, 10, QLatin1Char('0'));
}

std::optional<QString> timeChipAccessibleText(std::optional<double> lineTimestamp)
{
    const auto ms = minutesAndSeconds(lineTimestamp);
    if (!ms)
        return std::nullopt;
    return QStringLiteral("Lyric line at %1 minutes %2 seconds").arg(ms->first).arg(ms->second);
}

QString pronunciationLabel(PronunciationKind kind)
{
    switch (kind) {
    case PronunciationKind::linking:
        return QStringLiteral("连读");
    case PronunciationKind::weak_form:
        return QStringLiteral("弱读");
    case PronunciationKind::contraction:
        return QStringLiteral("缩读");
    case PronunciationKind::elision:
        return QStringLiteral("省音");
    case PronunciationKind::stress:
        return QStringLiteral("重音");
    case PronunciationKind::intonation:
        return QStringLiteral("语调");
    }
    return {};
}

QString pronunciationText(const PronunciationHint &hint)
{
    QString text = QLatin1Char('[') + pronunciationLabel(hint.kind) + QStringLiteral("] ") + hint.tip;
    if (hint.ipa && !hint.ipa->isEmpty())
        text += QStringLiteral("  /") + *hint.ipa + QLatin1Char('/');
    return text;
}

} // namespace GlassCardRules
