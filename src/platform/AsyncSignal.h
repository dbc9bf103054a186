#pragma once

#include <QObject>

// A bare "something finished" notifier that coroutines await with qCoro(obj, &AsyncSignal::fired).
class AsyncSignal : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    void fire() { emit fired(); }
signals:
    void fired();
};
