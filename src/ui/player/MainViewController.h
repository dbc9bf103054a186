#pragma once

#include "session/player/PlayerViewModel.h"

#include <QObject>
#include <QPointer>

#include <QtQml/qqmlregistration.h>

// The main view's own logic: its body trace whenever the playing track or song session changes,
// and the width the study panel gets beside the fixed lyrics column.
class MainViewController : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(PlayerViewModel *vm READ vm WRITE setVm NOTIFY vmChanged)

public:
    static constexpr double lyricsColumnWidth = 360.0;
    static constexpr double minimumWidth = 680.0;
    static constexpr double minimumHeight = 800.0;

    using QObject::QObject;

    PlayerViewModel *vm() const { return m_vm; }
    void setVm(PlayerViewModel *vm);

    // "MainView.body" detail: "track=<song key or nil> session=<id>".
    static QString bodyDetail(const PlayerViewModel *vm);

signals:
    void vmChanged();

private:
    void traceBody();

    QPointer<PlayerViewModel> m_vm;
};
