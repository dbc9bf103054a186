// ToastCenter on a manual clock: replacement, restart of the timer, and durations that are not
// a plain positive number.

#include "platform/Clock.h"
#include "session/ToastCenter.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <chrono>
#include <cmath>
#include <limits>

using namespace std::chrono_literals;

namespace {

// Lets queued work (the dismissal's start, a woken sleeper) run.
void settle()
{
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
}

} // namespace

class TestToastCenter : public QObject
{
    Q_OBJECT

private slots:
    void newerToastReplacesOlderAndKeepsItsOwnTime()
    {
        ManualContinuousClock clock;
        ToastCenter center(&clock);

        center.show(QStringLiteral("A"), 1.5);
        settle();
        QCOMPARE(center.currentText(), QStringLiteral("A"));

        clock.advance(1s);
        settle();
        center.show(QStringLiteral("B"), 1.5);
        QCOMPARE(center.currentText(), QStringLiteral("B"));
        settle();

        // A's time ends here; B stays.
        clock.advance(500ms);
        settle();
        QCOMPARE(center.currentText(), QStringLiteral("B"));

        clock.advance(999ms);
        settle();
        QVERIFY(center.hasCurrent());

        // 1.5 s after B, 2.5 s after A.
        clock.advance(1ms);
        settle();
        QVERIFY(!center.hasCurrent());
        QCOMPARE(clock.pendingSleepers(), 0);
    }

    void sameTextTwiceIsANewToastAndRestartsTheTime()
    {
        ManualContinuousClock clock;
        ToastCenter center(&clock);
        QSignalSpy changes(&center, &ToastCenter::currentChanged);

        center.show(QStringLiteral("已复制 / Copied"), 1.5);
        const QString firstId = center.currentId();
        settle();
        clock.advance(1s);
        settle();
        center.show(QStringLiteral("已复制 / Copied"), 1.5);
        QVERIFY(center.currentId() != firstId);
        QCOMPARE(changes.count(), 2);

        clock.advance(1s);
        settle();
        QVERIFY(center.hasCurrent());
        clock.advance(500ms);
        settle();
        QVERIFY(!center.hasCurrent());
    }

    void unusableDurationCountsAsZero_data()
    {
        QTest::addColumn<double>("duration");
        QTest::addColumn<bool>("warns");
        QTest::newRow("zero") << 0.0 << false;
        QTest::newRow("NaN") << std::nan("") << true;
        QTest::newRow("negative") << -1.5 << true;
        QTest::newRow("infinite") << std::numeric_limits<double>::infinity() << true;
        QTest::newRow("negative infinite") << -std::numeric_limits<double>::infinity() << true;
    }

    void unusableDurationCountsAsZero()
    {
        QFETCH(double, duration);
        QFETCH(bool, warns);
        ManualContinuousClock clock;
        ToastCenter center(&clock);

        if (warns)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("Toast duration .* using 0")));
        center.show(QStringLiteral("生成图片失败"), duration);
        // Shown until the next turn of the event loop, gone after it, without the clock moving.
        QVERIFY(center.hasCurrent());
        settle();
        QVERIFY(!center.hasCurrent());
    }

    void hugeDurationKeepsTheToast()
    {
        ManualContinuousClock clock;
        ToastCenter center(&clock);
        center.show(QStringLiteral("A"), 1e300);
        settle();
        clock.advance(std::chrono::hours(24 * 365));
        settle();
        QVERIFY(center.hasCurrent());
    }

    void centerGoneBeforeItsTimeIsUp()
    {
        ManualContinuousClock clock;
        auto *center = new ToastCenter(&clock);
        center->show(QStringLiteral("A"), 1.5);
        settle();
        delete center;
        clock.advance(2s);
        settle();
        QCOMPARE(clock.pendingSleepers(), 0);
    }
};

QTEST_GUILESS_MAIN(TestToastCenter)
#include "tst_toastcenter.moc"
