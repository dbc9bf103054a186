#include "session/player/OffsetPreferences.h"

#include "session/player/SongOffsetRules.h"

#include <QSettings>

#include <cmath>

OffsetPreferences::OffsetPreferences(const std::optional<QString> &userId, QSettings *settings,
                                     ContinuousClock *debounceClock, std::chrono::milliseconds quietPeriod)
    : m_prefix(userId.value_or(QStringLiteral("unknown")))
    , m_ownedSettings(settings ? nullptr : std::make_unique<QSettings>())
    , m_settings(settings ? settings : m_ownedSettings.get())
    , m_globalOffsetWrite(debounceClock, quietPeriod)
    , m_nudgeEnabledWrite(debounceClock, quietPeriod)
{
    bool ok = false;
    const double global = m_settings->value(SongOffsetRules::globalOffsetKey(m_prefix)).toDouble(&ok);
    m_globalOffset = ok && std::isfinite(global) ? global : 0.0;
    m_nudgeEnabled = m_settings->value(SongOffsetRules::nudgeEnabledKey(m_prefix), false).toBool();
}

OffsetPreferences::~OffsetPreferences()
{
    m_globalOffsetWrite.flush();
    m_nudgeEnabledWrite.flush();
}

bool OffsetPreferences::setGlobalOffset(double offset)
{
    const bool changed = offset != m_globalOffset;
    m_globalOffset = offset;
    m_globalOffsetWrite.schedule([this] { store(SongOffsetRules::globalOffsetKey(m_prefix), m_globalOffset); });
    return changed;
}

bool OffsetPreferences::setNudgeEnabled(bool enabled)
{
    const bool changed = enabled != m_nudgeEnabled;
    m_nudgeEnabled = enabled;
    m_nudgeEnabledWrite.schedule([this] { store(SongOffsetRules::nudgeEnabledKey(m_prefix), m_nudgeEnabled); });
    return changed;
}

void OffsetPreferences::store(const QString &key, const QVariant &value)
{
    m_settings->setValue(key, value);
    m_settings->sync();
}
