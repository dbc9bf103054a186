#pragma once

#include <QDBusConnection>
#include <QProcess>
#include <QString>
#include <QStringList>

// A dbus-daemon of the test's own, so that no other test, desktop player or service reaches
// the code under test. Started in the constructor; stopped (by its own process id) in the
// destructor.
class PrivateSessionBus
{
public:
    PrivateSessionBus();
    ~PrivateSessionBus();
    PrivateSessionBus(const PrivateSessionBus &) = delete;
    PrivateSessionBus &operator=(const PrivateSessionBus &) = delete;

    bool isRunning() const { return !m_address.isEmpty(); }
    QString address() const { return m_address; }

    // A new connection with the given name (distinct names give distinct bus clients).
    QDBusConnection connect(const QString &connectionName);
    // Points DBUS_SESSION_BUS_ADDRESS of this process, and so of its children, at this bus.
    // Call before anything in the process uses QDBusConnection::sessionBus().
    void exportToEnvironment() const;

private:
    QProcess m_daemon;
    QString m_address;
    QStringList m_connections;
};
