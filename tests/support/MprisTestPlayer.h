#pragma once

#include "platform/Clock.h"

#include <QDBusConnection>
#include <QDBusVirtualObject>

#include <chrono>
#include <random>

// An MPRIS player whose true position is known: it plays along the continuous clock, and its
// `Position` answers either that position, or the position at the last step boundary (every
// stepLength of playback since the last play or seek), or the position with uniform jitter.
// While paused every kind answers the true position. play(), pause() and seek() announce
// themselves as players do (PropertiesChanged, Seeked).
class MprisTestPlayer final : public QDBusVirtualObject
{
public:
    enum class Reporting { exact, stepped, jittered };
    static constexpr double stepLength = 0.260; // seconds
    static constexpr double jitter = 0.025;     // seconds either way

    MprisTestPlayer(QDBusConnection connection, QString busNameSuffix, Reporting reporting);

    // Registers the player object and its bus name; false when either fails.
    bool publish();

    void play();
    void pause();
    void seek(double seconds);

    // Runs the event loop for `span`. Unlike QTest::qWait, which sleeps between rounds of events,
    // it wakes at once for a call on the bus, so players in this thread answer as promptly as
    // real ones (a late answer would be timed wrongly by the reader).
    static void serveFor(std::chrono::milliseconds span);

    bool isPlaying() const { return m_playing; }
    double truePosition(ContinuousInstant at) const;

    QString introspect(const QString &path) const override;
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override;

private:
    double reportedPosition(ContinuousInstant at);
    QVariantMap playerProperties(ContinuousInstant at);
    void restartAt(double position);
    void announceStatus();

    QDBusConnection m_connection;
    QString m_busName;
    Reporting m_reporting;
    std::mt19937 m_random{20240611};
    bool m_playing = false;
    double m_startPosition = 0;  // seconds, at m_startInstant
    ContinuousInstant m_startInstant;
};
