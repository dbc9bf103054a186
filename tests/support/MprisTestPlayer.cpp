#include "MprisTestPlayer.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QEventLoop>
#include <QTimer>

#include <cmath>

namespace {
const QString objectPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString rootInterface = QStringLiteral("org.mpris.MediaPlayer2");
const QString playerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
constexpr double trackLength = 600; // seconds

ContinuousInstant now()
{
    return ContinuousClock::system()->now();
}

qlonglong microseconds(double seconds)
{
    return qlonglong(std::llround(seconds * 1e6));
}
} // namespace

MprisTestPlayer::MprisTestPlayer(QDBusConnection connection, QString busNameSuffix, Reporting reporting)
    : m_connection(std::move(connection))
    , m_busName(QStringLiteral("org.mpris.MediaPlayer2.") + busNameSuffix)
    , m_reporting(reporting)
    , m_startInstant(now())
{
}

void MprisTestPlayer::serveFor(std::chrono::milliseconds span)
{
    QEventLoop loop;
    QTimer::singleShot(span, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

bool MprisTestPlayer::publish()
{
    return m_connection.registerVirtualObject(objectPath, this) && m_connection.registerService(m_busName);
}

double MprisTestPlayer::truePosition(ContinuousInstant at) const
{
    if (!m_playing)
        return m_startPosition;
    return m_startPosition + double((at - m_startInstant).count()) / 1e9;
}

void MprisTestPlayer::restartAt(double position)
{
    m_startPosition = position;
    m_startInstant = now();
}

void MprisTestPlayer::play()
{
    if (m_playing)
        return;
    restartAt(m_startPosition);
    m_playing = true;
    announceStatus();
}

void MprisTestPlayer::pause()
{
    if (!m_playing)
        return;
    restartAt(truePosition(now()));
    m_playing = false;
    announceStatus();
}

void MprisTestPlayer::seek(double seconds)
{
    restartAt(seconds);
    QDBusMessage seeked = QDBusMessage::createSignal(objectPath, playerInterface, QStringLiteral("Seeked"));
    seeked << microseconds(seconds);
    m_connection.send(seeked);
}

void MprisTestPlayer::announceStatus()
{
    QDBusMessage changed = QDBusMessage::createSignal(objectPath, propertiesInterface,
                                                      QStringLiteral("PropertiesChanged"));
    changed << playerInterface
            << QVariantMap{{QStringLiteral("PlaybackStatus"),
                            m_playing ? QStringLiteral("Playing") : QStringLiteral("Paused")}}
            << QStringList();
    m_connection.send(changed);
}

double MprisTestPlayer::reportedPosition(ContinuousInstant at)
{
    const double position = truePosition(at);
    if (!m_playing)
        return position;
    switch (m_reporting) {
    case Reporting::exact:
        return position;
    case Reporting::stepped: {
        const double played = position - m_startPosition;
        return m_startPosition + std::floor(played / stepLength) * stepLength;
    }
    case Reporting::jittered:
        return position + std::uniform_real_distribution<double>(-jitter, jitter)(m_random);
    }
    return position;
}

QVariantMap MprisTestPlayer::playerProperties(ContinuousInstant at)
{
    const QVariantMap metadata{
        {QStringLiteral("mpris:trackid"), QVariant::fromValue(QDBusObjectPath("/track/1"))},
        {QStringLiteral("mpris:length"), microseconds(trackLength)},
        {QStringLiteral("xesam:title"), QStringLiteral("Known Position")},
        {QStringLiteral("xesam:artist"), QStringList{QStringLiteral("Test Player")}},
        {QStringLiteral("xesam:album"), QStringLiteral("Timing")}};
    return {{QStringLiteral("PlaybackStatus"), m_playing ? QStringLiteral("Playing") : QStringLiteral("Paused")},
            {QStringLiteral("Rate"), 1.0},
            {QStringLiteral("Position"), microseconds(reportedPosition(at))},
            {QStringLiteral("Metadata"), metadata}};
}

QString MprisTestPlayer::introspect(const QString &) const
{
    return {};
}

bool MprisTestPlayer::handleMessage(const QDBusMessage &message, const QDBusConnection &connection)
{
    if (message.interface() != propertiesInterface)
        return false;
    const ContinuousInstant at = now();
    const QString interface = message.arguments().value(0).toString();
    QVariantMap properties;
    if (interface == playerInterface)
        properties = playerProperties(at);
    else if (interface == rootInterface)
        properties = {{QStringLiteral("Identity"), m_busName}};
    if (message.member() == QLatin1String("GetAll"))
        return connection.send(message.createReply(QVariant::fromValue(properties)));
    const QString name = message.arguments().value(1).toString();
    if (message.member() == QLatin1String("Get") && properties.contains(name))
        return connection.send(message.createReply(QVariant::fromValue(QDBusVariant(properties.value(name)))));
    return connection.send(message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"),
                                                    QStringLiteral("no such property")));
}
