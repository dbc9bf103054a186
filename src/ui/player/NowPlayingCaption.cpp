#include "ui/player/NowPlayingCaption.h"


void NowPlayingCaption::setVm(PlayerViewModel *vm)
{
    if (m_vm == vm)
        return;
    if (m_vm)
        m_vm->disconnect(this);
    m_vm = vm;
    if (vm) {
        connect(vm, &PlayerViewModel::trackChanged, this, &NowPlayingCaption::changed);
    }
    emit vmChanged();
    emit changed();
}

QString NowPlayingCaption::title() const
{
    return m_vm && m_vm->track() ? m_vm->track()->title : QString();
}

QString NowPlayingCaption::artist() const
{
    return m_vm && m_vm->track() ? m_vm->track()->artist : QString();
}
