#pragma once

#include "session/player/PlayerViewModel.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <QtQml/qqmlregistration.h>

// What the player's window shows until the lyrics panel and the study panel take its place: the
// playing song's title and artist.
class NowPlayingCaption : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(PlayerViewModel *vm READ vm WRITE setVm NOTIFY vmChanged)
    Q_PROPERTY(QString title READ title NOTIFY changed)
    Q_PROPERTY(QString artist READ artist NOTIFY changed)

public:
    using QObject::QObject;

    PlayerViewModel *vm() const { return m_vm; }
    void setVm(PlayerViewModel *vm);
    QString title() const;
    QString artist() const;

signals:
    void vmChanged();
    void changed();

private:
    QPointer<PlayerViewModel> m_vm;
};
