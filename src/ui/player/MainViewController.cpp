#include "MainViewController.h"

#include "diagnostics/RenderLoopProbe.h"

void MainViewController::setVm(PlayerViewModel *vm)
{
    if (m_vm == vm)
        return;
    if (m_vm)
        m_vm->disconnect(this);
    m_vm = vm;
    if (vm) {
        connect(vm, &PlayerViewModel::trackChanged, this, &MainViewController::traceBody);
        connect(vm, &PlayerViewModel::songSessionIdChanged, this, &MainViewController::traceBody);
    }
    emit vmChanged();
    traceBody();
}

QString MainViewController::bodyDetail(const PlayerViewModel *vm)
{
    const QString key = vm && vm->track() ? vm->track()->songKey() : QStringLiteral("nil");
    return QStringLiteral("track=%1 session=%2").arg(key).arg(vm ? vm->songSessionId() : 0);
}

void MainViewController::traceBody()
{
    RenderLoopProbe::shared().trace(QStringLiteral("MainView.body"), bodyDetail(m_vm), 20);
}
