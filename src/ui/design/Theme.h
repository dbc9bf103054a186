#pragma once

#include <QColor>
#include <QFont>
#include <QObject>
#include <QtQml/qqmlregistration.h>

class QQmlEngine;
class QJSEngine;

// The palette and the named fonts. One definition for QML (the `Theme` singleton) and for
// C++ painters (the static functions). Sizes are logical pixels.
class Theme : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

    Q_PROPERTY(QColor accentGold READ accentGold CONSTANT)
    Q_PROPERTY(QColor neonCyan READ neonCyan CONSTANT)
    Q_PROPERTY(QColor neonPink READ neonPink CONSTANT)
    Q_PROPERTY(QColor neonViolet READ neonViolet CONSTANT)
    Q_PROPERTY(QColor neonBlue READ neonBlue CONSTANT)
    Q_PROPERTY(QColor backgroundInk READ backgroundInk CONSTANT)
    Q_PROPERTY(QColor textPrimary READ textPrimary CONSTANT)
    Q_PROPERTY(QColor textSecondary READ textSecondary CONSTANT)
    Q_PROPERTY(QColor textTertiary READ textTertiary CONSTANT)
    Q_PROPERTY(QColor surfaceFaint READ surfaceFaint CONSTANT)
    Q_PROPERTY(QColor surfaceFill READ surfaceFill CONSTANT)
    Q_PROPERTY(QColor surfaceFillStrong READ surfaceFillStrong CONSTANT)
    Q_PROPERTY(QColor strokeSubtle READ strokeSubtle CONSTANT)
    Q_PROPERTY(QColor strokeStrong READ strokeStrong CONSTANT)
    Q_PROPERTY(QColor systemGreen READ systemGreen CONSTANT)
    Q_PROPERTY(QColor frostedFill READ frostedFill CONSTANT)

    Q_PROPERTY(QFont cardHeadline READ cardHeadline CONSTANT)
    Q_PROPERTY(QFont smallLabel READ smallLabel CONSTANT)
    Q_PROPERTY(QFont timecode READ timecode CONSTANT)
    Q_PROPERTY(QFont caption2 READ caption2 CONSTANT)
    Q_PROPERTY(QFont caption2Mono READ caption2Mono CONSTANT)
    Q_PROPERTY(QString sansFamily READ sansFamily CONSTANT)
    Q_PROPERTY(QString monoFamily READ monoFamily CONSTANT)

    Q_PROPERTY(int zOverlay READ zOverlay CONSTANT)
    Q_PROPERTY(int zToast READ zToast CONSTANT)

public:
    static QColor accentGold() { return QColor(232, 195, 106); }
    static QColor neonCyan() { return QColor(34, 233, 255); }
    static QColor neonPink() { return QColor(255, 79, 216); }
    static QColor neonViolet() { return QColor(160, 107, 255); }
    static QColor neonBlue() { return QColor(91, 139, 255); }
    static QColor backgroundInk() { return QColor(6, 3, 15); }
    static QColor textPrimary() { return white(1.0); }
    static QColor textSecondary() { return white(0.7); }
    static QColor textTertiary() { return white(0.45); }
    static QColor surfaceFaint() { return white(0.05); }
    static QColor surfaceFill() { return white(0.1); }
    static QColor surfaceFillStrong() { return white(0.15); }
    static QColor strokeSubtle() { return white(0.12); }
    static QColor strokeStrong() { return white(0.2); }
    // The desktop's "green" accent (dark appearance).
    static QColor systemGreen() { return QColor(48, 209, 88); }
    // The frosted material's one fill. There is no backdrop blur, so the fill alone must keep
    // what lies behind from showing through as shapes: a dark, slightly violet glass opaque
    // enough that text on it keeps 4.5 : 1 over the brightest lyric or card behind it.
    static QColor frostedFill() { return QColor(22, 18, 36, 230); }

    // White at the given opacity (not grey: over a neon fill the hue shows through).
    static QColor white(double opacity) { return QColor::fromRgbF(1, 1, 1, float(opacity)); }
    static QColor withAlpha(QColor c, double opacity)
    {
        c.setAlphaF(float(opacity));
        return c;
    }

    // Families: the application's font (the shell sets Noto Sans CJK SC) and its monospaced twin.
    static QString sansFamily();
    static QString monoFamily() { return QStringLiteral("Noto Sans Mono CJK SC"); }

    static QFont cardHeadline() { return font(17, QFont::DemiBold, false); }
    static QFont smallLabel() { return font(11, QFont::Medium, false); }
    static QFont timecode() { return font(13, QFont::Normal, true); }
    // The desktop's smallest caption style.
    static QFont caption2() { return font(10, QFont::Normal, false); }
    static QFont caption2Mono() { return font(10, QFont::Normal, true); }
    static QFont font(int pixelSize, QFont::Weight weight, bool monospaced);

    // Stacking of window-wide overlays: toasts stay above a modal overlay opened later.
    static constexpr int zOverlayValue = 10;
    static constexpr int zToastValue = 100;
    static int zOverlay() { return zOverlayValue; }
    static int zToast() { return zToastValue; }

    static Theme *create(QQmlEngine *, QJSEngine *);
};
