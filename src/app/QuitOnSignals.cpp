#include "app/QuitOnSignals.h"

#include "core/AppLog.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalSockets[2] = {-1, -1};

extern "C" void writeSignalByte(int signalNumber)
{
    const char byte = char(signalNumber);
    // Nothing can be done about a failed write inside a signal handler.
    [[maybe_unused]] const ssize_t written = ::write(signalSockets[0], &byte, 1);
}

void setHandler(int signalNumber, void (*handler)(int))
{
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(signalNumber, &action, nullptr);
}

} // namespace

QuitOnSignals::QuitOnSignals(QObject *parent) : QObject(parent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalSockets) != 0) {
        qCWarning(lcApp, "No socket pair for SIGINT and SIGTERM; they end the program the default way");
        return;
    }
    m_notifier = new QSocketNotifier(signalSockets[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &QuitOnSignals::onSignalByte);
    setHandler(SIGINT, writeSignalByte);
    setHandler(SIGTERM, writeSignalByte);
}

QuitOnSignals::~QuitOnSignals()
{
    if (!m_notifier)
        return;
    setHandler(SIGINT, SIG_DFL);
    setHandler(SIGTERM, SIG_DFL);
    delete m_notifier;
    ::close(signalSockets[0]);
    ::close(signalSockets[1]);
    signalSockets[0] = signalSockets[1] = -1;
}

void QuitOnSignals::onSignalByte()
{
    char byte = 0;
    if (::read(signalSockets[1], &byte, 1) != 1)
        return;
    qCInfo(lcApp, "Signal %d received — quitting", int(byte));
    QCoreApplication::quit();
}
