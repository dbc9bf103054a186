#pragma once

#include <QColor>
#include <QObject>
#include <QtQml/qqmlregistration.h>

class QQmlEngine;
class QJSEngine;

// The texts and colours of the language, source and repeat badges. Sources are their raw
// values ("lrclib", "netease", "cache", "manualImport"); a value that is none of these is shown
// as it is.
class Badges : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

public:
    // Green for exactly "en" (case-sensitive), else white at 0.12.
    static QColor languageFill(const QString &code);
    static QString sourceName(const QString &rawSource);
    // Name " — " home page for the two outside services, the name alone otherwise.
    static QString sourceHelp(const QString &rawSource);

    Q_INVOKABLE QColor languageFillColor(const QString &code) const { return languageFill(code); }
    Q_INVOKABLE QString sourceDisplayName(const QString &rawSource) const { return sourceName(rawSource); }
    Q_INVOKABLE QString sourceHelpText(const QString &rawSource) const { return sourceHelp(rawSource); }

    static Badges *create(QQmlEngine *, QJSEngine *) { return new Badges; }
};
