#pragma once

#include "core/GoldenCard.h"

#include <QColor>
#include <QObject>
#include <QString>
#include <QVariant>

#include <QtQml/qqmlregistration.h>

#include <optional>

class QQmlEngine;
class QJSEngine;

// How a study card looks in one state: lit, dimmed, mastered, approaching its line.
struct GlassCardLook
{
    Q_GADGET
    QML_VALUE_TYPE(glassCardLook)
    Q_PROPERTY(double opacity MEMBER opacity CONSTANT)
    Q_PROPERTY(double saturation MEMBER saturation CONSTANT)
    Q_PROPERTY(double scale MEMBER scale CONSTANT)
    Q_PROPERTY(double borderWidth MEMBER borderWidth CONSTANT)
    Q_PROPERTY(double borderOpacity MEMBER borderOpacity CONSTANT)
    Q_PROPERTY(bool glow MEMBER glow CONSTANT)

public:
    double opacity = 1.0;
    double saturation = 1.0;
    double scale = 1.0;
    double borderWidth = 1.0;
    double borderOpacity = 0.55;
    bool glow = false;

    friend bool operator==(const GlassCardLook &, const GlassCardLook &) = default;
};

namespace GlassCardRules {

// Lit wins over dimmed. Mastered fades (0.55, 0.35 when dimmed) and desaturates (0.6) unless
// lit. The approach swell (scale 1 + 0.008 p) is off under Reduce Motion; the border's rise
// (0.55 + 0.30 p) is not. A progress of 0 or less is no approach.
GlassCardLook look(bool isActive, bool isDimmed, bool mastered, double preflightProgress, bool reduceMotion);
// `color` at `saturation` (1 as it is, 0 grey), greyed as the desaturation effect greys a
// texture: each channel moves towards the mean of the three by 1 − saturation; alpha stays.
QColor desaturated(const QColor &color, double saturation);
// "m:ss" of a line time truncated toward zero (negative → 0:00); none for no time, a time that
// is not finite or one too large for an int.
std::optional<QString> timeChipText(std::optional<double> lineTimestamp);
// "Lyric line at m minutes s seconds" for the same times.
std::optional<QString> timeChipAccessibleText(std::optional<double> lineTimestamp);
// "[连读] tip" and, with a non-empty IPA, two blanks and "/ipa/".
QString pronunciationText(const PronunciationHint &hint);
QString pronunciationLabel(PronunciationKind kind);

} // namespace GlassCardRules

// The rules for QML, as the `GlassCardLooks` singleton.
class GlassCardLooks : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

public:
    Q_INVOKABLE GlassCardLook look(bool isActive, bool isDimmed, bool mastered, double preflightProgress,
                                   bool reduceMotion) const
    {
        return GlassCardRules::look(isActive, isDimmed, mastered, preflightProgress, reduceMotion);
    }

    Q_INVOKABLE QColor desaturated(const QColor &color, double saturation) const
    {
        return GlassCardRules::desaturated(color, saturation);
    }

    static GlassCardLooks *create(QQmlEngine *, QJSEngine *) { return new GlassCardLooks; }
};
