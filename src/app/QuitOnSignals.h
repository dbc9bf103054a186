#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGINT and SIGTERM into QCoreApplication::quit(), so Ctrl+C and `kill` end the program
// through the same orderly shut-down as closing its window. The handler only writes one byte to
// a socket pair (async-signal-safe); the quit happens on the event loop. One instance at a time.
class QuitOnSignals : public QObject
{
    Q_OBJECT
public:
    explicit QuitOnSignals(QObject *parent = nullptr);
    ~QuitOnSignals() override;

private:
    void onSignalByte();
    QSocketNotifier *m_notifier = nullptr;
};
