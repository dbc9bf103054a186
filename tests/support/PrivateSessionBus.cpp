#include "PrivateSessionBus.h"

#include "ChildProcess.h"

#include <QDeadlineTimer>

PrivateSessionBus::PrivateSessionBus()
{
    m_daemon.setProgram(QStringLiteral("dbus-daemon"));
    m_daemon.setArguments({QStringLiteral("--session"), QStringLiteral("--print-address"), QStringLiteral("--nofork")});
    // The daemon warns that it cannot raise its file limit when not root; not our concern.
    m_daemon.setStandardErrorFile(QProcess::nullDevice());
    ChildProcess::diesWithTest(m_daemon);
    m_daemon.start(QIODevice::ReadOnly);
    if (!m_daemon.waitForStarted(5000))
        return;
    const QDeadlineTimer deadline(5000);
    while (!m_daemon.canReadLine() && !deadline.hasExpired() && m_daemon.state() == QProcess::Running)
        m_daemon.waitForReadyRead(int(deadline.remainingTime()));
    m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
}

PrivateSessionBus::~PrivateSessionBus()
{
    for (const QString &name : std::as_const(m_connections))
        QDBusConnection::disconnectFromBus(name);
    if (m_daemon.state() != QProcess::NotRunning) {
        m_daemon.terminate();
        if (!m_daemon.waitForFinished(3000)) {
            m_daemon.kill();
            m_daemon.waitForFinished(3000);
        }
    }
}

QDBusConnection PrivateSessionBus::connect(const QString &connectionName)
{
    m_connections.append(connectionName);
    return QDBusConnection::connectToBus(m_address, connectionName);
}

void PrivateSessionBus::exportToEnvironment() const
{
    qputenv("DBUS_SESSION_BUS_ADDRESS", m_address.toUtf8());
}
