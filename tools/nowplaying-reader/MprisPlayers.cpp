#include "MprisPlayers.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QJsonArray>
#include <QJsonObject>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

namespace MprisPlayers {
namespace {

// Every call has its own limit so that one player that never answers cannot keep the whole
// read past the caller's watchdog (list + all players in parallel + two single reads ≈ 3.5 s).
constexpr int listTimeoutMs = 1000;
constexpr int getAllTimeoutMs = 1500;
constexpr int propertyTimeoutMs = 500;
// Between the reads of a watch: a step is placed to within about this (plus one round trip).
constexpr std::chrono::milliseconds watchInterval{3};
// A watch ends this long after the read began whatever its own limit, so that slow players and
// a long watch together stay inside the caller's 5 s watchdog.
constexpr std::chrono::milliseconds watchEndsBy{4200};

using SteadyClock = std::chrono::steady_clock;

const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

double wallSeconds()
{
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

// Unpacks variants and a{sv} dictionaries into plain QVariant values. Other D-Bus containers
// are not used by this reader and come back as an invalid QVariant (a wrong type, like any other).
QVariant plain(const QVariant &value)
{
    if (value.metaType() == QMetaType::fromType<QDBusVariant>())
        return plain(qvariant_cast<QDBusVariant>(value).variant());
    if (value.metaType() == QMetaType::fromType<QDBusArgument>()) {
        const auto argument = qvariant_cast<QDBusArgument>(value);
        if (argument.currentSignature() != QLatin1String("a{sv}"))
            return {};
        QVariantMap map = qdbus_cast<QVariantMap>(argument);
        for (auto it = map.begin(); it != map.end(); ++it)
            it.value() = plain(it.value());
        return map;
    }
    return value;
}

// Any D-Bus integer or double; booleans, strings and the rest are not numbers.
std::optional<double> number(const QVariant &value)
{
    switch (value.metaType().id()) {
    case QMetaType::UChar:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double: {
        const double d = value.toDouble();
        if (std::isfinite(d))
            return d;
        return std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

QJsonValue nonEmptyString(const QVariant &value)
{
    if (value.metaType() != QMetaType::fromType<QString>())
        return QJsonValue::Null;
    const QString text = value.toString();
    return text.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(text);
}

// xesam:artist is a list of names; some players send a single string instead.
QJsonValue artistValue(const QVariant &value)
{
    if (value.metaType() == QMetaType::fromType<QStringList>()) {
        QStringList names = value.toStringList();
        names.removeAll(QString());
        return names.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(names.join(QStringLiteral(", ")));
    }
    return nonEmptyString(value);
}

QDBusMessage propertyCall(const QString &busName, const QString &method)
{
    return QDBusMessage::createMethodCall(busName, QString::fromLatin1(objectPath), propertiesInterface,
                                          method);
}

std::optional<QVariant> getProperty(const QDBusConnection &bus, const QString &busName,
                                    const QString &interface, const QString &property)
{
    QDBusMessage call = propertyCall(busName, QStringLiteral("Get"));
    call << interface << property;
    const QDBusMessage reply = bus.call(call, QDBus::Block, propertyTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1)
        return std::nullopt;
    return plain(reply.arguments().constFirst());
}

struct PositionSample
{
    double microseconds;
    double wallTime; // seconds since 1970 at which the position held
    // The player computed the value between these two wall-clock instants.
    double askedAt;
    double answeredAt;
    bool fromGetAll = false; // then both instants are wallTime, and the value is already stale
};

// Position is read on its own, bracketed by two clock readings, so that `ts` is close to the
// instant the player computed it (the round trip on a local bus is well under a millisecond).
std::optional<PositionSample> getPosition(const QDBusConnection &bus, const QString &busName)
{
    QDBusMessage call = propertyCall(busName, QStringLiteral("Get"));
    call << QString::fromLatin1(playerInterface) << QStringLiteral("Position");
    const double before = wallSeconds();
    const QDBusMessage reply = bus.call(call, QDBus::Block, propertyTimeoutMs);
    const double after = wallSeconds();
    if (reply.type() == QDBusMessage::ReplyMessage && reply.arguments().size() == 1) {
        if (const auto us = number(plain(reply.arguments().constFirst())))
            return PositionSample{*us, (before + after) / 2, before, after};
    }
    return std::nullopt;
}

std::optional<PositionSample> readPosition(const QDBusConnection &bus, const PlayerState &player,
                                           double batchTime)
{
    if (auto sample = getPosition(bus, player.busName))
        return sample;
    // Fall back to the value GetAll returned, timed by when all answers were in.
    if (const auto us = number(player.properties.value(QStringLiteral("Position"))))
        return PositionSample{*us, batchTime, batchTime, batchTime, true};
    return std::nullopt;
}

// Reads Position again every watchInterval until it differs from `first`, at most until `deadline`.
// A player that updates its position in steps answers the same value until its next step; the
// reads that bound that step tell when the new value became true:
//   {"held": further reads that still gave the first value,
//    "from": when the last of those (or the first read) was asked, wall-clock seconds,
//    "e": the next value in seconds (null: none within the limit or the player stopped answering),
//    "to": when that value's read was answered (null with "e")}
QJsonObject watchPosition(const QDBusConnection &bus, const QString &busName, const PositionSample &first,
                          SteadyClock::time_point deadline)
{
    int held = 0;
    double lastHeldAskedAt = first.askedAt;
    QJsonObject watch{{QStringLiteral("e"), QJsonValue::Null}, {QStringLiteral("to"), QJsonValue::Null}};
    while (SteadyClock::now() + watchInterval <= deadline) {
        std::this_thread::sleep_for(watchInterval);
        const auto next = getPosition(bus, busName);
        if (!next)
            break;
        if (next->microseconds == first.microseconds) {
            ++held;
            lastHeldAskedAt = next->askedAt;
            continue;
        }
        watch[QStringLiteral("e")] = std::max(0.0, next->microseconds / 1e6);
        watch[QStringLiteral("to")] = next->answeredAt;
        break;
    }
    watch[QStringLiteral("held")] = held;
    watch[QStringLiteral("from")] = lastHeldAskedAt;
    return watch;
}

QList<PlayerState> readPlayers(const QDBusConnection &bus, const QStringList &busNames)
{
    // All players are asked at once; waiting on each in turn then costs the slowest one only.
    QList<QDBusPendingCall> calls;
    for (const QString &name : busNames) {
        QDBusMessage call = propertyCall(name, QStringLiteral("GetAll"));
        call << QString::fromLatin1(playerInterface);
        calls.append(bus.asyncCall(call, getAllTimeoutMs));
    }
    QList<PlayerState> players;
    for (qsizetype i = 0; i < calls.size(); ++i) {
        calls[i].waitForFinished();
        const QDBusMessage reply = calls[i].reply();
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1)
            continue;
        PlayerState player;
        player.busName = busNames[i];
        player.properties = plain(reply.arguments().constFirst()).toMap();
        player.metadata = player.properties.value(QStringLiteral("Metadata")).toMap();
        players.append(player);
    }
    return players;
}

QJsonObject describe(const QDBusConnection &bus, const PlayerState &player, double batchTime,
                     const QStringList &busNames, std::chrono::milliseconds watch, SteadyClock::time_point started)
{
    const QVariantMap &meta = player.metadata;
    const QString status = player.playbackStatus();
    const bool playing = status == QLatin1String("Playing");
    const auto reportedRate = number(player.properties.value(QStringLiteral("Rate")));
    const auto lengthUs = number(meta.value(QStringLiteral("mpris:length")));
    const auto position = readPosition(bus, player, batchTime);

    QString desktopEntry;
    if (const auto entry = getProperty(bus, player.busName, QString::fromLatin1(rootInterface),
                                       QStringLiteral("DesktopEntry"));
        entry && entry->metaType() == QMetaType::fromType<QString>())
        desktopEntry = entry->toString();

    QJsonObject o;
    o[QStringLiteral("t")] = *player.title();
    o[QStringLiteral("a")] = artistValue(meta.value(QStringLiteral("xesam:artist")));
    o[QStringLiteral("l")] = nonEmptyString(meta.value(QStringLiteral("xesam:album")));
    // Lengths and positions are microseconds on MPRIS, seconds here. A zero or negative
    // length means none; a negative position is clamped to the start.
    o[QStringLiteral("d")] = lengthUs && *lengthUs > 0 ? QJsonValue(*lengthUs / 1e6) : QJsonValue::Null;
    o[QStringLiteral("e")] = position ? QJsonValue(std::max(0.0, position->microseconds / 1e6))
                                      : QJsonValue::Null;
    // Rate keeps its value while paused, so only "Playing" makes the rate count. A playing
    // player with no usable rate plays at normal speed.
    double rate = 0;
    if (playing)
        rate = reportedRate && *reportedRate > 0 ? *reportedRate : 1.0;
    o[QStringLiteral("r")] = rate;
    o[QStringLiteral("ts")] = position ? QJsonValue(position->wallTime) : QJsonValue::Null;
    o[QStringLiteral("b")] = desktopEntry.isEmpty() ? player.busName.mid(qsizetype(strlen(busNamePrefix)))
                                                    : desktopEntry;
    if (watch.count() > 0 && position && !position->fromGetAll)
        o[QStringLiteral("watch")] = watchPosition(bus, player.busName, *position,
                                                   std::min(SteadyClock::now() + watch, started + watchEndsBy));

    o[QStringLiteral("dbgBusName")] = player.busName;
    o[QStringLiteral("dbgDesktopEntry")] = desktopEntry.isEmpty() ? QJsonValue(QJsonValue::Null)
                                                                  : QJsonValue(desktopEntry);
    o[QStringLiteral("dbgPlaybackStatus")] = status.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(status);
    o[QStringLiteral("dbgRate")] = reportedRate ? QJsonValue(*reportedRate) : QJsonValue::Null;
    o[QStringLiteral("dbgPlayers")] = QJsonArray::fromStringList(busNames);
    o[QStringLiteral("dbgInfoKeys")] = QJsonArray::fromStringList(meta.keys()); // QVariantMap: sorted
    return o;
}

} // namespace

std::optional<QString> PlayerState::title() const
{
    const QVariant value = metadata.value(QStringLiteral("xesam:title"));
    if (value.metaType() != QMetaType::fromType<QString>() || value.toString().isEmpty())
        return std::nullopt;
    return value.toString();
}

QString PlayerState::playbackStatus() const
{
    const QVariant value = properties.value(QStringLiteral("PlaybackStatus"));
    return value.metaType() == QMetaType::fromType<QString>() ? value.toString() : QString();
}

bool PlayerState::isEligible() const
{
    return title().has_value() && playbackStatus() != QLatin1String("Stopped");
}

std::optional<PlayerState> choose(const QList<PlayerState> &players)
{
    const PlayerState *best = nullptr;
    for (const PlayerState &p : players) {
        if (!p.isEligible())
            continue;
        if (!best) {
            best = &p;
            continue;
        }
        const bool playing = p.playbackStatus() == QLatin1String("Playing");
        const bool bestPlaying = best->playbackStatus() == QLatin1String("Playing");
        if (playing != bestPlaying ? playing : p.busName < best->busName)
            best = &p;
    }
    if (!best)
        return std::nullopt;
    return *best;
}

QJsonValue readNowPlaying(const QDBusConnection &bus, std::chrono::milliseconds watch)
{
    const auto started = SteadyClock::now();
    if (!bus.isConnected())
        return QJsonObject{{QStringLiteral("error"), QStringLiteral("no session bus")}};

    const QDBusMessage list = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("ListNames"));
    const QDBusMessage names = bus.call(list, QDBus::Block, listTimeoutMs);
    if (names.type() != QDBusMessage::ReplyMessage || names.arguments().size() != 1)
        return QJsonObject{{QStringLiteral("error"), QStringLiteral("ListNames failed")}};

    QStringList busNames;
    for (const QString &name : names.arguments().constFirst().toStringList()) {
        if (name.startsWith(QLatin1String(busNamePrefix)))
            busNames.append(name);
    }
    busNames.sort();

    const QList<PlayerState> players = readPlayers(bus, busNames);
    const double batchTime = wallSeconds();
    const auto chosen = choose(players);
    if (!chosen)
        return QJsonValue::Null;
    return describe(bus, *chosen, batchTime, busNames, watch, started);
}

} // namespace MprisPlayers
