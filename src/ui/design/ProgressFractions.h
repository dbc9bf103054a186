#pragma once

#include <QObject>
#include <QtQml/qqmlregistration.h>

class QQmlEngine;
class QJSEngine;

// The filled fractions of the two progress bars, in [0, 1]; anything not a number is empty.
class ProgressFractions : public QObject
{
    Q_OBJECT
    QML_NAMED_ELEMENT(Progress)
    QML_SINGLETON

public:
    // elapsed ÷ duration; empty for a duration that is not positive.
    static double readOnly(double elapsed, double duration);
    static double learned(double fraction);

    Q_INVOKABLE double readOnlyFraction(double elapsed, double duration) const { return readOnly(elapsed, duration); }
    Q_INVOKABLE double learnedFraction(double fraction) const { return learned(fraction); }

    static ProgressFractions *create(QQmlEngine *, QJSEngine *) { return new ProgressFractions; }
};
