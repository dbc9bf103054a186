#include "session/player/PlayerSource.h"

#include <utility>

namespace PlayerSource {

const QHash<QString, QString> &table()
{
    static const QHash<QString, QString> players = [] {
        const std::pair<const char *, const char *> entries[] = {
            {"com.netease.163music", "NetEaseMusic"},
            {"com.apple.Music", "AppleMusic"},
            {"com.spotify.client", "Spotify"},
            {"com.tencent.QQMusicMac", "QQMusic"},
        };
        QHash<QString, QString> map;
        for (const auto &[identifier, name] : entries)
            map.insert(QString::fromLatin1(identifier), QString::fromLatin1(name));
        return map;
    }();
    return players;
}

QString defaultLabel()
{
    return QStringLiteral("AppleMusic");
}

QString label(const QString &bundleIdentifier)
{
    return table().value(bundleIdentifier, defaultLabel());
}

std::optional<QString> frontmostBundleIdentifier()
{
    return std::nullopt;
}

QString frontmostLabel()
{
    return label(frontmostBundleIdentifier().value_or(QString()));
}

} // namespace PlayerSource
