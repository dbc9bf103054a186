#include "ui/design/Badges.h"

#include "core/Lyrics.h"
#include "ui/design/Theme.h"

QColor Badges::languageFill(const QString &code)
{
    return code == QLatin1String("en") ? Theme::withAlpha(Theme::systemGreen(), 0.18) : Theme::white(0.12);
}

QString Badges::sourceName(const QString &rawSource)
{
    const auto source = lyricsSourceFromRawValue(rawSource);
    return source ? displayName(*source) : rawSource;
}

QString Badges::sourceHelp(const QString &rawSource)
{
    const auto source = lyricsSourceFromRawValue(rawSource);
    if (!source)
        return rawSource;
    const QString name = displayName(*source);
    const auto url = attributionURL(*source);
    if (!url || !url->isValid() || url->isRelative())
        return name;
    return name + QStringLiteral(" — ") + url->toString();
}
