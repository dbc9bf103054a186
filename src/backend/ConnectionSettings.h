#pragma once

#include <QString>
#include <QUrl>

#include <memory>

class QSettings;

// Where the program finds its server and the key it sends there. Each value comes, strongest
// first, from
//  1. its environment variable (CANTORELLA_API_BASE_URL, CANTORELLA_AUTH_BASE_URL,
//     CANTORELLA_AUTH_ANON_KEY);
//  2. the key of the same name in the group [Server] of the system-wide settings file (Qt's
//     system scope: /etc/xdg/com.cantorella/Cantorella.conf), which the server's package writes
//     for the server it installs on the same machine;
//  3. the value compiled in (the CMake cache variable of the same name).
// The user's own settings file is not a layer: a value written there once would hide a server
// installed later.
namespace ConnectionSettings {

enum class Source { environment, systemSettings, compiledIn };

// For the log: "the environment", "the system settings (PATH)", "the compiled-in default".
QString describe(Source source);

struct Address
{
    QUrl url;
    Source source;
};

struct Key
{
    QString value;
    Source source;
};

// An http(s) origin for `name`. A layer that holds something else is skipped with a warning; a
// compiled-in default that is not one stops the process.
Address address(const char *name, const char *compiledDefault, const QSettings &system);
// A non-empty text for `name`.
Key key(const char *name, const char *compiledDefault, const QSettings &system);

// The system-wide settings file of the program, whatever the running process calls itself.
std::unique_ptr<QSettings> systemSettings();

} // namespace ConnectionSettings
