#include "CellTapArbiter.h"

void CellTapArbiter::labelTapped()
{
    m_label = true;
    decideLater();
}

void CellTapArbiter::cellTapped()
{
    m_cell = true;
    decideLater();
}

void CellTapArbiter::decideLater()
{
    // Several taps within one delivery share one decision.
    if (m_pending)
        return;
    m_pending = true;
    QMetaObject::invokeMethod(this, &CellTapArbiter::decide, Qt::QueuedConnection);
}

void CellTapArbiter::decide()
{
    const bool confirmed = m_cell && !m_label;
    m_label = m_cell = m_pending = false;
    if (confirmed)
        emit cellTapConfirmed();
}
