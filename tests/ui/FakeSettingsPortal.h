#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QHash>
#include <QObject>

namespace fakeportal {
inline const QString service = QStringLiteral("org.freedesktop.portal.Desktop");
inline const QString path = QStringLiteral("/org/freedesktop/portal/desktop");
} // namespace fakeportal

// The settings interface of the desktop portal: Read answers a variant inside a variant, as the
// portal does; a missing setting is an error.
class FakeSettingsPortal : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")

public:
    explicit FakeSettingsPortal(QDBusConnection bus) : m_bus(std::move(bus)) {}

    bool publish()
    {
        return m_bus.registerObject(fakeportal::path, this, QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals)
            && m_bus.registerService(fakeportal::service);
    }
    void set(const QString &ns, const QString &key, const QVariant &value) { m_values.insert(ns + '/' + key, value); }
    void change(const QString &ns, const QString &key, const QVariant &value)
    {
        set(ns, key, value);
        emit SettingChanged(ns, key, QDBusVariant(value));
    }
    // Reads are answered only when released (to order them after live changes).
    void holdReads() { m_holding = true; }
    void releaseReads()
    {
        m_holding = false;
        for (const auto &[message, key] : std::as_const(m_held))
            answer(message, key);
        m_held.clear();
    }

public slots:
    QDBusVariant Read(const QString &ns, const QString &key)
    {
        const QString id = ns + '/' + key;
        if (m_holding) {
            setDelayedReply(true);
            m_held.append({message(), id});
            return {};
        }
        if (!m_values.contains(id)) {
            sendErrorReply(QStringLiteral("org.freedesktop.portal.Error.NotFound"), QStringLiteral("no such setting"));
            return {};
        }
        return QDBusVariant(QVariant::fromValue(QDBusVariant(m_values.value(id))));
    }

signals:
    void SettingChanged(const QString &ns, const QString &key, const QDBusVariant &value);

private:
    void answer(const QDBusMessage &request, const QString &id)
    {
        if (!m_values.contains(id)) {
            m_bus.send(request.createErrorReply(QStringLiteral("org.freedesktop.portal.Error.NotFound"), {}));
            return;
        }
        m_bus.send(request.createReply(QVariant::fromValue(QDBusVariant(QVariant::fromValue(QDBusVariant(m_values.value(id)))))));
    }

    QDBusConnection m_bus;
    QHash<QString, QVariant> m_values;
    bool m_holding = false;
    QList<std::pair<QDBusMessage, QString>> m_held;
};

