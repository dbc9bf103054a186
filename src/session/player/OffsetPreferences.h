#pragma once

#include "platform/Clock.h"
#include "session/player/DebouncedWrite.h"

#include <QString>

#include <chrono>
#include <memory>
#include <optional>

class QSettings;
class QVariant;

// The user's lyric-offset preferences in the user defaults: the global offset and the nudge
// switch, under the signed-in user's prefix ("unknown" when none). Read once when made (absent,
// unreadable or non-finite values read as the defaults); each change is written after a quiet
// period, and a write still pending when the object goes is made then. GUI thread only.
class OffsetPreferences
{
public:
    // `settings` null: a QSettings() of its own. Otherwise it must outlive this object.
    OffsetPreferences(const std::optional<QString> &userId, QSettings *settings, ContinuousClock *debounceClock,
                      std::chrono::milliseconds quietPeriod);
    ~OffsetPreferences();
    OffsetPreferences(const OffsetPreferences &) = delete;
    OffsetPreferences &operator=(const OffsetPreferences &) = delete;

    const QString &userDefaultsPrefix() const { return m_prefix; }
    double globalOffset() const { return m_globalOffset; }
    bool nudgeEnabled() const { return m_nudgeEnabled; }

    // Each keeps the value as given and schedules its write; true when the value changed.
    bool setGlobalOffset(double offset);
    bool setNudgeEnabled(bool enabled);

private:
    void store(const QString &key, const QVariant &value);

    QString m_prefix;
    std::unique_ptr<QSettings> m_ownedSettings;
    QSettings *m_settings;
    double m_globalOffset = 0.0;
    bool m_nudgeEnabled = false;
    DebouncedWrite m_globalOffsetWrite;
    DebouncedWrite m_nudgeEnabledWrite;
};
