#pragma once

#include <QObject>
#include <QtQml/qqmlregistration.h>

// Tells a tap on a grid cell's song label from a tap on the rest of the cell. One press can reach
// both the label and the cell's own tap handler, in either order; the decision waits until the
// whole press has been delivered (a queued call), and `cellTapped` follows only when the label
// took no part in it. Every press starts afresh: a label tap that the cell never saw does not
// swallow the next tap on the cell.
class CellTapArbiter : public QObject
{
    Q_OBJECT
    QML_ELEMENT

public:
    using QObject::QObject;

    Q_INVOKABLE void labelTapped();
    Q_INVOKABLE void cellTapped();

signals:
    // A tap on the cell outside its song label.
    void cellTapConfirmed();

private:
    void decideLater();
    void decide();

    bool m_label = false;
    bool m_cell = false;
    bool m_pending = false;
};
