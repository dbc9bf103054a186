#include "backend/SupabaseConfig.h"

#include "core/AppLog.h"

QUrl SupabaseConfig::url(const QString &path, const Http::QueryItems &query) const
{
    return Http::urlByAppending(baseURL, path, query);
}

const SupabaseConfig &SupabaseConfig::standard()
{
    static const SupabaseConfig config = [] {
        SupabaseConfig c;
        c.baseURL = Http::baseUrlFromEnvironment("CANTORELLA_AUTH_BASE_URL", CANTORELLA_AUTH_BASE_URL_DEFAULT);
        const QByteArray key = qgetenv("CANTORELLA_AUTH_ANON_KEY");
        c.anonKey = key.isEmpty() ? QStringLiteral(CANTORELLA_AUTH_ANON_KEY_DEFAULT) : QString::fromUtf8(key);
        return c;
    }();
    return config;
}
