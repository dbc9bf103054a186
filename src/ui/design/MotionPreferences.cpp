#include "ui/design/MotionPreferences.h"

#include "core/AppLog.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace {
const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString settingsInterface = QStringLiteral("org.freedesktop.portal.Settings");

const QString appearanceNs = QStringLiteral("org.freedesktop.appearance");
const QString appearanceKey = QStringLiteral("reduced-motion");
const QString gnomeNs = QStringLiteral("org.gnome.desktop.interface");
const QString gnomeKey = QStringLiteral("enable-animations");
const QString kdeNs = QStringLiteral("org.kde.kdeglobals.KDE");
const QString kdeKey = QStringLiteral("AnimationDurationFactor");

// The portal's Read answers a variant holding a variant; peel every layer.
QVariant unwrap(QVariant v)
{
    while (v.canConvert<QDBusVariant>() && v.metaType() == QMetaType::fromType<QDBusVariant>())
        v = qvariant_cast<QDBusVariant>(v).variant();
    return v;
}

bool isNumber(const QVariant &v)
{
    switch (v.metaType().id()) {
    case QMetaType::Int: case QMetaType::UInt: case QMetaType::LongLong: case QMetaType::ULongLong:
    case QMetaType::Short: case QMetaType::UShort: case QMetaType::UChar: case QMetaType::Double:
        return true;
    default:
        return false;
    }
}
} // namespace

bool MotionPreferences::reduceMotionFrom(const DesktopSettings &s)
{
    return (s.appearanceReducedMotion && *s.appearanceReducedMotion == 1)
        || (s.gnomeEnableAnimations && !*s.gnomeEnableAnimations)
        || (s.kdeAnimationFactor && *s.kdeAnimationFactor == 0.0);
}

std::optional<bool> MotionPreferences::fromEnvironment(const QByteArray &value)
{
    if (value == "1")
        return true;
    if (value == "0")
        return false;
    return std::nullopt;
}

MotionPreferences::MotionPreferences(QObject *parent)
    : MotionPreferences(qgetenv("CANTORELLA_REDUCE_MOTION"), QDBusConnection::sessionBus(), parent)
{
}

MotionPreferences::MotionPreferences(const QByteArray &environmentValue, QDBusConnection bus, QObject *parent)
    : QObject(parent), m_bus(std::move(bus))
{
    if (const auto fixed = fromEnvironment(environmentValue)) {
        m_reduceMotion = *fixed;
        return;
    }
    if (!m_bus.isConnected())
        return;
    // Subscribe before reading, so a change between the two is not lost.
    m_bus.connect(portalService, portalPath, settingsInterface, QStringLiteral("SettingChanged"), this,
                  SLOT(onSettingChanged(QString, QString, QDBusVariant)));
    readFromPortal(appearanceNs, appearanceKey);
    readFromPortal(gnomeNs, gnomeKey);
    readFromPortal(kdeNs, kdeKey);
}

void MotionPreferences::readFromPortal(const QString &nameSpace, const QString &key)
{
    // Read, not ReadOne: the portal on Debian 12 predates ReadOne.
    QDBusMessage call = QDBusMessage::createMethodCall(portalService, portalPath, settingsInterface,
                                                       QStringLiteral("Read"));
    call << nameSpace << key;
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, nameSpace, key](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        const QDBusMessage reply = w->reply();
        // No portal, or a setting this desktop does not have: nothing to learn.
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
            return;
        if (m_liveKeys.contains(nameSpace + u'\n' + key))
            return;
        if (apply(nameSpace, key, unwrap(reply.arguments().constFirst())))
            recompute();
    });
}

void MotionPreferences::onSettingChanged(const QString &nameSpace, const QString &key, const QDBusVariant &value)
{
    if (apply(nameSpace, key, unwrap(value.variant()))) {
        m_liveKeys.insert(nameSpace + u'\n' + key);
        recompute();
    }
}

bool MotionPreferences::apply(const QString &nameSpace, const QString &key, const QVariant &value)
{
    if (nameSpace == appearanceNs && key == appearanceKey && isNumber(value)) {
        m_settings.appearanceReducedMotion = value.toUInt();
        return true;
    }
    if (nameSpace == gnomeNs && key == gnomeKey && value.metaType().id() == QMetaType::Bool) {
        m_settings.gnomeEnableAnimations = value.toBool();
        return true;
    }
    if (nameSpace == kdeNs && key == kdeKey && isNumber(value)) {
        m_settings.kdeAnimationFactor = value.toDouble();
        return true;
    }
    if ((nameSpace == appearanceNs && key == appearanceKey) || (nameSpace == gnomeNs && key == gnomeKey)
        || (nameSpace == kdeNs && key == kdeKey))
        qCWarning(lcUi) << "Motion preference" << nameSpace << key << "has an unexpected type" << value.typeName();
    return false;
}

void MotionPreferences::recompute()
{
    const bool reduce = reduceMotionFrom(m_settings);
    if (reduce == m_reduceMotion)
        return;
    m_reduceMotion = reduce;
    emit reduceMotionChanged();
}
