#pragma once

#include <QDBusConnection>
#include <QDBusVariant>
#include <QObject>
#include <QSet>
#include <QtQml/qqmlregistration.h>

#include <optional>

// Whether the user asked for reduced motion. The environment variable CANTORELLA_REDUCE_MOTION
// ("1" on, "0" off) decides when set; otherwise the desktop's settings portal does, read
// asynchronously and followed live. Off until the portal answers, and without a portal.
class MotionPreferences : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(bool reduceMotion READ reduceMotion NOTIFY reduceMotionChanged)

public:
    // What the desktop says; a setting it did not answer stays empty.
    struct DesktopSettings
    {
        std::optional<uint> appearanceReducedMotion; // org.freedesktop.appearance reduced-motion: 1 = reduce
        std::optional<bool> gnomeEnableAnimations;   // org.gnome.desktop.interface enable-animations
        std::optional<double> kdeAnimationFactor;    // org.kde.kdeglobals.KDE AnimationDurationFactor
    };
    static bool reduceMotionFrom(const DesktopSettings &settings);
    // "1" → on, "0" → off, anything else (or unset) → no decision.
    static std::optional<bool> fromEnvironment(const QByteArray &value);

    // The process environment and the session bus.
    explicit MotionPreferences(QObject *parent = nullptr);
    MotionPreferences(const QByteArray &environmentValue, QDBusConnection bus, QObject *parent = nullptr);

    bool reduceMotion() const { return m_reduceMotion; }

signals:
    void reduceMotionChanged();

private slots:
    void onSettingChanged(const QString &nameSpace, const QString &key, const QDBusVariant &value);

private:
    void readFromPortal(const QString &nameSpace, const QString &key);
    // Returns false for a namespace/key this object does not follow or a value of the wrong type.
    bool apply(const QString &nameSpace, const QString &key, const QVariant &value);
    void recompute();

    QDBusConnection m_bus;
    DesktopSettings m_settings;
    QSet<QString> m_liveKeys; // keys a change signal has set: a late Read answer must not undo them
    bool m_reduceMotion = false;
};

// The application's one Reduce Motion setting, which every view reads by default
// (`SystemMotion.reduceMotion`) instead of having it handed down: the QML engine makes it on
// first use, from the process environment and the session bus, and owns it.
class SystemMotionPreferences : public MotionPreferences
{
    Q_OBJECT
    QML_NAMED_ELEMENT(SystemMotion)
    QML_SINGLETON

public:
    explicit SystemMotionPreferences(QObject *parent = nullptr)
        : MotionPreferences(parent)
    {
    }
};
