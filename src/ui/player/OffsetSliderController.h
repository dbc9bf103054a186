#pragma once

#include "platform/Cancellation.h"
#include "session/player/PlayerViewModel.h"
#include "session/qml/ClockHandle.h"

#include <QObject>
#include <QPointer>

#include <QtQml/qqmlregistration.h>

// The lyrics offset slider's logic: the offset in force and its label, whether the song's own
// offset can be reset, and the 0.1 s pink flash when a value had to be brought inside ±2 s.
class OffsetSliderController : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(PlayerViewModel *vm READ vm WRITE setVm NOTIFY vmChanged)
    Q_PROPERTY(ClockHandle *clocks READ clocks WRITE setClocks NOTIFY clocksChanged)
    Q_PROPERTY(double value READ value NOTIFY valueChanged)
    Q_PROPERTY(QString valueText READ valueText NOTIFY valueChanged)
    Q_PROPERTY(bool showsReset READ showsReset NOTIFY showsResetChanged)
    Q_PROPERTY(bool atBoundary READ atBoundary NOTIFY atBoundaryChanged)

public:
    static constexpr double limit = 2.0;
    static constexpr double step = 0.05;
    static constexpr std::chrono::milliseconds flashDuration{100};

    explicit OffsetSliderController(QObject *parent = nullptr);
    ~OffsetSliderController() override;

    PlayerViewModel *vm() const { return m_vm; }
    void setVm(PlayerViewModel *vm);
    ClockHandle *clocks() const { return m_clocks; }
    void setClocks(ClockHandle *clocks);

    double value() const;
    QString valueText() const;
    bool showsReset() const;
    bool atBoundary() const { return m_atBoundary; }

    // A value the user moved to: kept inside ±2 s (a value outside flashes the tint) and given to
    // the view model as the song's own offset.
    Q_INVOKABLE void setValue(double value);
    // "重置": the song goes back to the global offset.
    Q_INVOKABLE void reset();

signals:
    void vmChanged();
    void clocksChanged();
    void valueChanged();
    void showsResetChanged();
    void atBoundaryChanged();

private:
    void setAtBoundary(bool atBoundary);
    static QCoro::Task<void> endFlashLater(QPointer<OffsetSliderController> self, ContinuousClock *clock,
                                           CancellationToken token);

    QPointer<PlayerViewModel> m_vm;
    QPointer<ClockHandle> m_clocks;
    bool m_atBoundary = false;
    CancellationToken m_lifetime;
};
