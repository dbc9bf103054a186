#pragma once

#include "backend/ConnectionSettings.h"
#include "platform/HttpSession.h"

#include <QString>
#include <QUrl>

// Where the hosted authentication service lives and its fixed rules. The program's one value
// (standard()): CANTORELLA_AUTH_BASE_URL and CANTORELLA_AUTH_ANON_KEY as ConnectionSettings finds
// them; tests build their own.
struct SupabaseConfig
{
    QUrl baseURL;    // an origin: scheme and host (and port), no path
    QString anonKey; // sent as the "apikey" header of every authentication request
    // Where anonKey came from, for the log when the service refuses it (the key itself is never logged).
    ConnectionSettings::Source anonKeySource = ConnectionSettings::Source::compiledIn;

    static constexpr int minimumPasswordLength = 6;
    static constexpr double refreshLeeway = 60.0; // seconds before expiry a session counts as expired

    // baseURL with `path` appended ("/auth/v1/token"), the query only when `query` is non-empty.
    QUrl url(const QString &path, const Http::QueryItems &query = {}) const;

    // Read once, on first use.
    static const SupabaseConfig &standard();
};
