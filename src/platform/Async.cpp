#include "platform/Async.h"

#include <QCoreApplication>

namespace detail {

QCoro::Task<bool> waitUntil(AsyncSignal *signal, std::function<bool()> ready, CancellationToken token)
{
    while (!ready()) {
        if (token.isCancelled())
            co_return false;
        // One awaitable for both outcomes, so the wake-up and the cancellation can't both resume us.
        AsyncSignal either;
        auto fromSignal = QObject::connect(signal, &AsyncSignal::fired, &either, &AsyncSignal::fire);
        auto fromToken = token.onCancelled(&either, [&either] { either.fire(); });
        co_await qCoro(&either, &AsyncSignal::fired);
        QObject::disconnect(fromSignal);
        QObject::disconnect(fromToken);
    }
    co_return true;
}

} // namespace detail

SerialExecutor::SerialExecutor(const QString &threadName)
    : m_thread(new QThread)
    , m_worker(new QObject)
{
    m_thread->setObjectName(threadName);
    m_worker->moveToThread(m_thread);
    QObject::connect(m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    m_thread->start();
}

SerialExecutor::~SerialExecutor()
{
    // Jobs already queued still run; then the thread ends.
    m_thread->quit();
    m_thread->wait();
    delete m_thread;
}

void SerialExecutor::post(std::function<void()> job)
{
    QMetaObject::invokeMethod(m_worker, std::move(job), Qt::QueuedConnection);
}

void SerialExecutor::postBlocking(std::function<void()> job)
{
    Q_ASSERT(QThread::currentThread() != m_thread);
    QMetaObject::invokeMethod(m_worker, std::move(job), Qt::BlockingQueuedConnection);
}
