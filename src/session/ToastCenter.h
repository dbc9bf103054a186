#pragma once

#include "platform/Cancellation.h"
#include "platform/Clock.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUuid>

#include <QtQml/qqmlregistration.h>

#include <qcoro/qcorotask.h>

#include <optional>

// The application's one toast service: at most one short message on screen. A newer toast
// replaces the older one at once (no queue) and clears itself when its time is up; the time
// restarts with every show(). GUI thread only.
class ToastCenter : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The application makes the one ToastCenter.")
    Q_PROPERTY(bool hasCurrent READ hasCurrent NOTIFY currentChanged)
    Q_PROPERTY(QString currentText READ currentText NOTIFY currentChanged)
    // A fresh identifier for every show(), so the same text shown twice is still a new toast.
    Q_PROPERTY(QString currentId READ currentId NOTIFY currentChanged)

public:
    struct Toast
    {
        QUuid id;
        QString text;
        friend bool operator==(const Toast &, const Toast &) = default;
    };

    // Dismissals timed on the system's continuous clock.
    explicit ToastCenter(QObject *parent = nullptr);
    // `clock` times the dismissals; it must outlive the center.
    explicit ToastCenter(ContinuousClock *clock, QObject *parent = nullptr);
    ~ToastCenter() override;

    const std::optional<Toast> &current() const { return m_current; }
    bool hasCurrent() const { return m_current.has_value(); }
    QString currentText() const { return m_current ? m_current->text : QString(); }
    QString currentId() const { return m_current ? m_current->id.toString(QUuid::WithoutBraces) : QString(); }

    // Shows `text` for `duration` seconds from now. A duration that is not finite or is
    // negative counts as 0 (with a warning): the toast then goes on the next turn of the
    // event loop.
    Q_INVOKABLE void show(const QString &text, double duration);

signals:
    void currentChanged();

private:
    void setCurrent(const std::optional<Toast> &toast);
    // The dismissal of one toast: sleeps until `deadline`, then clears the toast unless it was
    // replaced (its token fired) or the center is gone.
    static QCoro::Task<void> dismissAt(QPointer<ToastCenter> self, ContinuousClock *clock,
                                       ContinuousInstant deadline, CancellationToken token);

    ContinuousClock *m_clock;
    std::optional<Toast> m_current;
    std::optional<CancellationToken> m_dismissTask;
};
