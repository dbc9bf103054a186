#include "core/AppLog.h"
#include "core/WithTimeout.h"

#include <QtTest>

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
    if (QByteArray(context.category).startsWith("com.cantorella."))
        captured.append({type, QString::fromUtf8(context.category), message});
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

// Moves the clock by d, then returns value or throws error.
QCoro::Task<int> advanceThen(ManualContinuousClock *clock, std::chrono::nanoseconds d, int value,
                             std::exception_ptr error = nullptr)
{
    clock->advance(d);
    if (error)
        std::rethrow_exception(error);
    co_return value;
}

QCoro::Task<void> advanceOnly(ManualContinuousClock *clock, std::chrono::nanoseconds d)
{
    clock->advance(d);
    co_return;
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
        QCOMPARE(await(AppLog::timed("LyricsLookup", lcLyrics(), [&] { return advanceThen(&clock, 1900us, 42); }, &clock)),
                 42);
        QCOMPARE(messagesOf("com.cantorella.Lyrics"), QStringList{QStringLiteral("LyricsLookup ok in 1 ms")});
        QCOMPARE(captured.last().type, QtDebugMsg);
        const QStringList signposts = messagesOf("com.cantorella.PointsOfInterest");
        QCOMPARE(signposts.size(), 2);
        QVERIFY(signposts[0].startsWith(QLatin1String("begin LyricsLookup id=")));
        QVERIFY(signposts[1].startsWith(QLatin1String("end LyricsLookup id=")));
        QCOMPARE(signpostId(signposts[0]), signpostId(signposts[1]));
        QCOMPARE(captured[1].message, signposts[1]); // the interval closes before the success line
    }

    void successIsSilentWithoutDebug()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("com.cantorella.*.debug=false"));
        ManualContinuousClock clock;
        await(AppLog::timed("CardGeneration", lcCards(), [&] { return advanceOnly(&clock, 5ms); }, &clock));
        QVERIFY(captured.isEmpty());
    }

    void failureLogsAndRethrowsTheSameError()
    {
        ManualContinuousClock clock;
        const std::exception_ptr thrown = std::make_exception_ptr(StepError());
        const void *thrownAddress = nullptr;
        const void *caughtAddress = nullptr;
        try {
            std::rethrow_exception(thrown);
        } catch (const StepError &e) {
            thrownAddress = &e;
        }
        try {
            await(AppLog::timed("CardGeneration", lcCards(),
                                [&] { return advanceThen(&clock, 2500999us, 0, thrown); }, &clock));
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
        const auto cancelled = std::make_exception_ptr(CancelledError());
        QVERIFY_THROWS_EXCEPTION(CancelledError, await(AppLog::timed("CardRetry", lcSession(), [&] {
            return advanceThen(&clock, 0ns, 0, cancelled);
        }, &clock)));
        QCOMPARE(messagesOf("com.cantorella.Session"),
                 QStringList{QStringLiteral("CardRetry failed in 0 ms: ") + AppLog::errorText(cancelled)});
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
        const QSet<quint64> begun{signpostId(signposts[0]), signpostId(signposts[1])};
        const QSet<quint64> ended{signpostId(signposts[2]), signpostId(signposts[3])};
        QCOMPARE(begun.size(), 2);
        QCOMPARE(ended, begun);
    }

    void elapsedMillisecondsKeepsSubMillisecondDigits()
    {
        ManualContinuousClock clock;
        const ContinuousInstant start = clock.now();
        clock.advance(3601s + 500ms + 123456ns);
        QCOMPARE(AppLog::elapsedMilliseconds(start, &clock), 3601500.123456);
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
        QCoreApplication::processEvents();
        QCOMPARE(clock.pendingSleepers(), 0); // the limit's sleep was cancelled
        QVERIFY(!*cancelled);
        QVERIFY_THROWS_EXCEPTION(StepError, await(withTimeout<int>(2.0, failNow, &clock)));
    }

    void unusableLimitsDoNotOverflow()
    {
        ManualContinuousClock clock;
        auto cancelled = std::make_shared<bool>(false);
        const auto operation = [&clock, cancelled](CancellationToken token) {
            return sleepThenValue(&clock, 1s, 7, token, cancelled);
        };
        // A NaN or negative limit is already spent; an infinite one never ends first.
        QVERIFY_THROWS_EXCEPTION(CancelledError, await(withTimeout<int>(-1.0, operation, &clock)));
        QVERIFY_THROWS_EXCEPTION(CancelledError, await(withTimeout<int>(std::nan(""), operation, &clock)));
        auto unlimited = withTimeout<int>(std::numeric_limits<double>::infinity(), operation, &clock);
        clock.advance(1s);
        QCOMPARE(await(std::move(unlimited)), 7);
    }
};

QTEST_GUILESS_MAIN(TstAppLog)
#include "tst_applog.moc"
