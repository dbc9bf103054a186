#pragma once

#include <QObject>
#include <QString>

#include <QtQml/qqmlregistration.h>

#include <optional>

// Texts of the player screen computed from numbers.
namespace PlayerFormat {

// "m:ss" of whole seconds, truncated toward zero; negative and non-finite give "0:00"
// (65.9 → "1:05", 3600 → "60:00").
QString timeLabel(double seconds);

// The lyrics offset: "+1.25 s", "-0.35 s". Anything that prints as zero is "+0.00 s".
QString offsetLabel(double seconds);

// Trace texts: a Double as its shortest round-trip decimal with a fraction ("812.0", "0.35");
// an optional index as "nil" or "Optional(7)"; a Bool as "true"/"false".
QString traceDouble(double value);
QString traceIndex(std::optional<qsizetype> index);
inline QString traceBool(bool value) { return value ? QStringLiteral("true") : QStringLiteral("false"); }

} // namespace PlayerFormat

// The formatting functions for QML bindings.
class PlayerTexts : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

public:
    using QObject::QObject;
    // The playing row: its first `litPieces` pieces in the lit colour (rich text, escaped).
    Q_INVOKABLE QString wordRowRichText(const QStringList &words, int litPieces) const;
};
