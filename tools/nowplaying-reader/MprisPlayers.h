#pragma once

#include <QDBusConnection>
#include <QJsonValue>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <chrono>
#include <optional>

namespace MprisPlayers {

inline constexpr const char *busNamePrefix = "org.mpris.MediaPlayer2.";
inline constexpr const char *objectPath = "/org/mpris/MediaPlayer2";
inline constexpr const char *rootInterface = "org.mpris.MediaPlayer2";
inline constexpr const char *playerInterface = "org.mpris.MediaPlayer2.Player";

// What one player answered to GetAll on its Player interface, with the D-Bus containers
// unpacked into plain Qt values.
struct PlayerState
{
    QString busName;
    QVariantMap properties;
    QVariantMap metadata;

    // xesam:title when it is a non-empty string.
    std::optional<QString> title() const;
    QString playbackStatus() const;
    bool isEligible() const;
};

// Players that report a title and are not "Stopped"; "Playing" beats everything else, then the
// bus name that sorts first. Absent when none qualifies.
std::optional<PlayerState> choose(const QList<PlayerState> &players);

// The whole read: the JSON object of the chosen player, null when nothing plays, or an
// {"error": …} object when the bus cannot be asked. A non-zero `watch` also watches the chosen
// player's Position for up to that long until it moves ("watch" in the object).
QJsonValue readNowPlaying(const QDBusConnection &bus, std::chrono::milliseconds watch = {});

} // namespace MprisPlayers
