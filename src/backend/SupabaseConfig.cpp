#include "backend/SupabaseConfig.h"

#include "core/AppLog.h"

#include <QSettings>

QUrl SupabaseConfig::url(const QString &path, const Http::QueryItems &query) const
{
    return Http::urlByAppending(baseURL, path, query);
}

const SupabaseConfig &SupabaseConfig::standard()
{
    static const SupabaseConfig config = [] {
        SupabaseConfig c;
        const auto system = ConnectionSettings::systemSettings();
        c.baseURL = ConnectionSettings::address("CANTORELLA_AUTH_BASE_URL", CANTORELLA_AUTH_BASE_URL_DEFAULT, *system).url;
        const ConnectionSettings::Key key =
            ConnectionSettings::key("CANTORELLA_AUTH_ANON_KEY", CANTORELLA_AUTH_ANON_KEY_DEFAULT, *system);
        c.anonKey = key.value;
        c.anonKeySource = key.source;
        return c;
    }();
    return config;
}
