#include "backend/ConnectionSettings.h"

#include <QSettings>

namespace ConnectionSettings {
namespace {

bool isHttpOrigin(const QUrl &url)
{
    return url.isValid() && !url.host().isEmpty()
        && (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https"));
}

QString settingsKey(const char *name)
{
    return QStringLiteral("Server/") + QLatin1String(name);
}

// The layers above the compiled-in default, strongest first, that hold a non-empty text.
struct Candidate
{
    QString text;
    Source source;
};

QList<Candidate> candidates(const char *name, const QSettings &system)
{
    QList<Candidate> found;
    const QString fromEnvironment = qEnvironmentVariable(name);
    if (!fromEnvironment.isEmpty())
        found.append({fromEnvironment, Source::environment});
    // A value with a comma would read as a list, whose text is empty: skipped like an empty one.
    const QString fromSystem = system.value(settingsKey(name)).toString().trimmed();
    if (!fromSystem.isEmpty())
        found.append({fromSystem, Source::systemSettings});
    return found;
}

} // namespace

QString describe(Source source)
{
    switch (source) {
    case Source::environment:
        return QStringLiteral("the environment");
    case Source::systemSettings:
        return QStringLiteral("the system settings (%1)").arg(systemSettings()->fileName());
    case Source::compiledIn:
        return QStringLiteral("the compiled-in default");
    }
    return {};
}

Address address(const char *name, const char *compiledDefault, const QSettings &system)
{
    for (const Candidate &candidate : candidates(name, system)) {
        const QUrl url(candidate.text, QUrl::StrictMode);
        if (isHttpOrigin(url))
            return {url, candidate.source};
        qWarning("Ignoring %s from %s: \"%s\" is not an http(s) address", name, qPrintable(describe(candidate.source)),
                 qPrintable(candidate.text));
    }
    const QUrl url(QString::fromUtf8(compiledDefault), QUrl::StrictMode);
    if (!isHttpOrigin(url))
        qFatal("The compiled-in base address \"%s\" is not an http(s) address", compiledDefault);
    return {url, Source::compiledIn};
}

Key key(const char *name, const char *compiledDefault, const QSettings &system)
{
    const QList<Candidate> found = candidates(name, system);
    if (!found.isEmpty())
        return {found.first().text, found.first().source};
    return {QString::fromUtf8(compiledDefault), Source::compiledIn};
}

std::unique_ptr<QSettings> systemSettings()
{
    // The application's names (ApplicationShell): its users' settings live beside, in their own scope.
    return std::make_unique<QSettings>(QSettings::SystemScope, QStringLiteral("com.cantorella"),
                                       QStringLiteral("Cantorella"));
}

} // namespace ConnectionSettings
