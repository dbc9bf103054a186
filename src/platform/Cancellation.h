#pragma once

#include <QObject>
#include <QPointer>

#include <atomic>
#include <exception>
#include <functional>
#include <memory>

// Thrown by cancellable waits when their token fires.
class CancelledError : public std::exception
{
public:
    const char *what() const noexcept override { return "cancelled"; }
};

namespace detail {
// Shared state behind a CancellationToken. Lives on the thread that created it; cancel() may
// be called from any thread (observers run on their context object's thread).
class CancellationState : public QObject
{
    Q_OBJECT
public:
    std::atomic_bool cancelled{false};
signals:
    void fired();
};
} // namespace detail

// A copyable handle onto one cancellation flag. A default-constructed token is fresh and
// independent. Cancelling is one-way and idempotent.
class CancellationToken
{
public:
    CancellationToken();

    void cancel() const;
    bool isCancelled() const { return m_state->cancelled.load(std::memory_order_acquire); }
    void throwIfCancelled() const
    {
        if (isCancelled())
            throw CancelledError();
    }

    // A new token that is cancelled whenever this one is (but not the other way round).
    CancellationToken child() const;

    // Runs f once, on context's thread, when the token is cancelled; queued at once if it
    // already is. The returned connection can be disconnected to stop observing.
    QMetaObject::Connection onCancelled(QObject *context, std::function<void()> f) const;

    bool operator==(const CancellationToken &other) const { return m_state == other.m_state; }

private:
    std::shared_ptr<detail::CancellationState> m_state;
};
