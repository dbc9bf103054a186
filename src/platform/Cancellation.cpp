#include "platform/Cancellation.h"

#include <QMetaObject>

CancellationToken::CancellationToken()
    : m_state(std::make_shared<detail::CancellationState>())
{
}

void CancellationToken::cancel() const
{
    if (m_state->cancelled.exchange(true, std::memory_order_acq_rel))
        return;
    emit m_state->fired();
}

CancellationToken CancellationToken::child() const
{
    CancellationToken child;
    if (isCancelled()) {
        child.m_state->cancelled.store(true);
        return child;
    }
    // The child holds only a weak link upward: a long-lived parent must not keep every
    // child it ever made alive.
    std::weak_ptr<detail::CancellationState> weakChild = child.m_state;
    QObject::connect(m_state.get(), &detail::CancellationState::fired, child.m_state.get(),
                     [weakChild]() {
                         if (auto state = weakChild.lock()) {
                             if (!state->cancelled.exchange(true))
                                 emit state->fired();
                         }
                     }, Qt::DirectConnection);
    return child;
}

QMetaObject::Connection CancellationToken::onCancelled(QObject *context, std::function<void()> f) const
{
    auto once = std::make_shared<std::atomic_bool>(false);
    auto run = [once, f]() {
        if (!once->exchange(true))
            f();
    };
    auto connection = QObject::connect(m_state.get(), &detail::CancellationState::fired, context, run);
    if (isCancelled())
        QMetaObject::invokeMethod(context, run, Qt::QueuedConnection);
    return connection;
}
