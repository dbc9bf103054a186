#include "core/AppLog.h"
#include "core/WithTimeout.h"

#include <QtTest>

#include <qcoro/qcorotask.h>

#include <stdexcept>

using namespace std::chrono_literals;

namespace {

struct LogLine
{
    QtMsgType type;
    QString category;
    QString message;
};

QList<LogLine> captured;
QtMessageHandler previousHandler = nullptr;

void capture(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    const QString category = QString::fromUtf8(context.category);
    if (category.startsWith(QLatin1String("com.cantorella.")))
        captured.append({type, category, message});
    else if (previousHandler)
        previousHandler(type, context, message);
}

QStringList messagesOf(const char *category)
{
    QStringList messages;
    for (const LogLine &line : captured)
        if (line.category == QLatin1String(category))
            messages.append(line.message);
    return messages;
}

// "begin LyricsLookup id=12" → 12.
quint64 signpostId(const QString &line)
{
    return line.section(QLatin1String("id="), 1).toULongLong();
}

class StepError : public std::runtime_error
{
public:
    StepError() : std::runtime_error("网络不可用") {}
};

QCoro::Task<int> valueAfterAdvancing(ManualContinuousClock *clock, std::chrono::nanoseconds d, int value)
{
    clock->advance(d);
    co_return value;
}

QCoro::Task<void> nothingAfterAdvancing(ManualContinuousClock *clock, std::chrono::nanoseconds d)
{
    clock->advance(d);
    co_return;
}

QCoro::Task<int> throwAfterAdvancing(ManualContinuousClock *clock, std::chrono::nanoseconds d, std::exception_ptr error)
{
    clock->advance(d);
    std::rethrow_exception(error);
    co_return 0;
}

QCoro::Task<int> sleepThenValue(ManualContinuousClock *clock, std::chrono::nanoseconds d, int value,
                                CancellationToken token, std::shared_ptr<bool> cancelled)
{
    try {
        co_await clock->sleepFor(d, token);
    } catch (const CancelledError &) {
        *cancelled = true;
        throw;
    }
    co_return value;
}

QCoro::Task<int> failNow(CancellationToken)
{
    throw StepError();
    co_return 0;
}

// Runs a task to its end in a nested event loop and returns its value or rethrows its error.
// (QCoro::waitFor never returns when the task ends with an exception.)
template<class T>
T await(QCoro::Task<T> task)
{
    auto outcome = std::make_shared<AsyncOutcome<T>>();
    detail::captureOutcome<T>(std::move(task), outcome);
    QDeadlineTimer deadline(5000);
    while (!outcome->done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    if (!outcome->done())
        throw std::runtime_error("task did not finish");
    return outcome->take();
}

QCoro::Task<int> timedSleep(ManualContinuousClock *clock, std::chrono::nanoseconds d, int value)
{
    auto cancelled = std::make_shared<bool>(false);
    return AppLog::timed("LyricsLookup", lcLyrics(),
                         [=] { return sleepThenValue(clock, d, value, CancellationToken(), cancelled); }, clock);
}

} // namespace

class TstAppLog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { previousHandler = qInstallMessageHandler(capture); }
    void cleanupTestCase() { qInstallMessageHandler(previousHandler); }

    void init()
    {
        captured.clear();
        QLoggingCategory::setFilterRules(QStringLiteral("com.cantorella.*.debug=true"));
    }

    void successLogsTruncatedMilliseconds()
    {
        ManualContinuousClock clock;
        auto task = AppLog::timed("LyricsLookup", lcLyrics(),
                                  [&clock] { return valueAfterAdvancing(&clock, 1900us, 42); }, &clock);
        QCOMPARE(await(std::move(task)), 42);

        QCOMPARE(messagesOf("com.cantorella.Lyrics"), QStringList{QStringLiteral("LyricsLookup ok in 1 ms")});
        QCOMPARE(captured.last().type, QtDebugMsg);
        const QStringList signposts = messagesOf("com.cantorella.PointsOfInterest");
        QCOMPARE(signposts.size(), 2);
        QVERIFY(signposts[0].startsWith(QLatin1String("begin LyricsLookup id=")));
        QVERIFY(signposts[1].startsWith(QLatin1String("end LyricsLookup id=")));
        QCOMPARE(signpostId(signposts[0]), signpostId(signposts[1]));
        // The end signpost comes before the success line.
        QCOMPARE(captured[1].message, signposts[1]);
    }

    void successIsSilentWithoutDebug()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("com.cantorella.*.debug=false"));
        ManualContinuousClock clock;
        auto task = AppLog::timed("CardGeneration", lcCards(), [&clock] { return nothingAfterAdvancing(&clock, 5ms); },
                                  &clock);
        await(std::move(task));
        QVERIFY(captured.isEmpty());
    }

    void failureLogsAndRethrowsTheSameError()
    {
        ManualContinuousClock clock;
        const std::exception_ptr thrown = std::make_exception_ptr(StepError());
        const void *thrownAddress = nullptr;
        try {
            std::rethrow_exception(thrown);
        } catch (const StepError &e) {
            thrownAddress = &e;
        }

        auto task = AppLog::timed("CardGeneration", lcCards(),
                                  [&clock, thrown] { return throwAfterAdvancing(&clock, 2500999us, thrown); }, &clock);
        const void *caughtAddress = nullptr;
        try {
            await(std::move(task));
        } catch (const StepError &e) {
            caughtAddress = &e;
        }
        QCOMPARE(caughtAddress, thrownAddress);

        QCOMPARE(messagesOf("com.cantorella.Cards"),
                 QStringList{QStringLiteral("CardGeneration failed in 2500 ms: 网络不可用")});
        QCOMPARE(captured.last().type, QtWarningMsg);
        QVERIFY(captured[1].message.startsWith(QLatin1String("end CardGeneration id=")));
    }

    void cancellationIsReportedAsFailure()
    {
        ManualContinuousClock clock;
        auto task = AppLog::timed("CardRetry", lcSession(), [&clock] {
            return throwAfterAdvancing(&clock, 0ns, std::make_exception_ptr(CancelledError()));
        }, &clock);
        QVERIFY_THROWS_EXCEPTION(CancelledError, await(std::move(task)));
        QCOMPARE(messagesOf("com.cantorella.Session"),
                 QStringList{QStringLiteral("CardRetry failed in 0 ms: ") + AppLog::errorText(CancelledError())});
    }

    void overlappingStepsGetTheirOwnIds()
    {
        ManualContinuousClock clock;
        auto first = timedSleep(&clock, 100ms, 1);
        auto second = timedSleep(&clock, 50ms, 2);
        clock.advance(200ms);
        QCOMPARE(await(std::move(first)), 1);
        QCOMPARE(await(std::move(second)), 2);

        const QStringList signposts = messagesOf("com.cantorella.PointsOfInterest");
        QCOMPARE(signposts.size(), 4);
        QVERIFY(signposts[0].startsWith(QLatin1String("begin")) && signposts[1].startsWith(QLatin1String("begin")));
        const quint64 firstId = signpostId(signposts[0]);
        const quint64 secondId = signpostId(signposts[1]);
        QVERIFY(firstId != secondId);
        QSet<quint64> ended{signpostId(signposts[2]), signpostId(signposts[3])};
        QCOMPARE(ended, (QSet<quint64>{firstId, secondId}));
    }

    void elapsedMilliseconds()
    {
        ManualContinuousClock clock;
        const ContinuousInstant start = clock.now();
        clock.advance(1500ms + 123456ns);
        QCOMPARE(AppLog::elapsedMilliseconds(start, &clock), 1500.123456);
        clock.advance(3600s);
        QCOMPARE(AppLog::elapsedMilliseconds(start, &clock), 3601500.123456);
    }

    void errorTextOfAnythingThrown()
    {
        QCOMPARE(AppLog::errorText(std::make_exception_ptr(StepError())), QStringLiteral("网络不可用"));
        QCOMPARE(AppLog::errorText(std::make_exception_ptr(42)), QStringLiteral("unknown error"));
    }

    void timeoutWinsAndCancelsTheOperation()
    {
        ManualContinuousClock clock;
        auto cancelled = std::make_shared<bool>(false);
        auto task = withTimeout<int>(2.0, [&clock, cancelled](CancellationToken token) {
            return sleepThenValue(&clock, 5s, 7, token, cancelled);
        }, &clock);
        clock.advance(2s);
        QVERIFY_THROWS_EXCEPTION(CancelledError, await(std::move(task)));
        QTRY_VERIFY(*cancelled);
    }

    void operationWinsBeforeTheLimit()
    {
        ManualContinuousClock clock;
        auto cancelled = std::make_shared<bool>(false);
        auto task = withTimeout<int>(2.0, [&clock, cancelled](CancellationToken token) {
            return sleepThenValue(&clock, 1s, 7, token, cancelled);
        }, &clock);
        clock.advance(1s);
        QCOMPARE(await(std::move(task)), 7);
        clock.advance(5s);
        QCoreApplication::processEvents();
        QCOMPARE(clock.pendingSleepers(), 0);
        QVERIFY(!*cancelled);
    }

    void operationErrorPassesThrough()
    {
        ManualContinuousClock clock;
        auto task = withTimeout<int>(2.0, failNow, &clock);
        QVERIFY_THROWS_EXCEPTION(StepError, await(std::move(task)));
    }

    void unusableLimitsDoNotOverflow()
    {
        ManualContinuousClock clock;
        for (double seconds : {-1.0, std::nan("")}) {
            auto cancelled = std::make_shared<bool>(false);
            auto task = withTimeout<int>(seconds, [&clock, cancelled](CancellationToken token) {
                return sleepThenValue(&clock, 1s, 7, token, cancelled);
            }, &clock);
            QVERIFY_THROWS_EXCEPTION(CancelledError, await(std::move(task)));
        }
        auto cancelled = std::make_shared<bool>(false);
        auto unlimited = withTimeout<int>(std::numeric_limits<double>::infinity(),
                                          [&clock, cancelled](CancellationToken token) {
            return sleepThenValue(&clock, 1s, 7, token, cancelled);
        }, &clock);
        clock.advance(1s);
        QCOMPARE(await(std::move(unlimited)), 7);
    }
};

QTEST_GUILESS_MAIN(TstAppLog)
#include "tst_applog.moc"
