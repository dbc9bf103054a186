// The user-scroll guard and the scroll-target helper, on a hand-driven clock.
#include "ui/player/ScrollTarget.h"
#include "ui/player/UserScrollGuard.h"

#include "platform/Clock.h"

#include <QCoreApplication>
#include <QtTest>

using namespace std::chrono_literals;

class TestLyricsScrollGuard : public QObject
{
    Q_OBJECT

private slots:
    void timeline_data();
    void timeline();
    void resetRunsEachCallersHook();
    void scrollTarget_data();
    void scrollTarget();
};

// A timeline: steps "<ms> <op> [arg] [expect]" separated by ';'.
//   raise                 the list starts a scroll (flag up)
//   guard                 viewport height or song session changed (guard time restarts)
//   offset <y> <0|1>      the content moved to y; 1 = must be taken as a user scroll
//   tracking <0|1>        isTracking must be this
//   resume                the back-to-current button
//   hold / release        the keyboard focus enters / leaves a control inside the list
void TestLyricsScrollGuard::timeline_data()
{
    QTest::addColumn<QString>("script");
    QTest::newRow("threshold: exactly 1.0 is not a user scroll, 1.01 is")
        << "0 offset 1 0; 0 tracking 1; 0 offset 2.01 1; 0 tracking 0";
    QTest::newRow("resume 3 s after a single user scroll")
        << "0 offset 50 1; 2999 tracking 0; 3000 tracking 1";
    QTest::newRow("scrolls at T and T+2 resume at T+5")
        << "1000 offset 50 1; 3000 offset 90 1; 4000 tracking 0; 5999 tracking 0; 6000 tracking 1";
    QTest::newRow("back to current cancels the pending resume")
        << "0 offset 50 1; 1000 resume; 1000 tracking 1; 1500 offset 80 1; 4000 tracking 0; 4500 tracking 1";
    QTest::newRow("movement while the flag is up is ours")
        << "0 raise; 100 offset 300 0; 499 offset 320 0; 500 offset 330 1";
    QTest::newRow("guard time after a viewport or session change")
        << "0 guard; 499 offset 300 0; 499 tracking 1; 500 offset 310 1";
    QTest::newRow("overlapping scrolls keep the flag up until the later reset")
        << "0 raise; 300 raise; 500 offset 200 0; 799 offset 260 0; 800 offset 300 1";
    QTest::newRow("a user scroll while not tracking still restarts the resume")
        << "0 offset 50 1; 2500 offset 90 1; 3000 tracking 0; 5500 tracking 1";
    QTest::newRow("a hold stops tracking at once and the resume waits for its end")
        << "0 hold; 0 tracking 0; 10000 tracking 0; 10000 release; 12999 tracking 0; 13000 tracking 1";
    QTest::newRow("a hold drops the resume of an earlier user scroll")
        << "0 offset 50 1; 1000 hold; 5000 tracking 0; 5000 release; 7999 tracking 0; 8000 tracking 1";
    QTest::newRow("user scrolls while held resume only after the release")
        << "0 hold; 1000 offset 80 1; 4000 tracking 0; 6000 release; 8999 tracking 0; 9000 tracking 1";
    QTest::newRow("back to current while held follows at once")
        << "0 hold; 1000 resume; 1000 tracking 1; 2000 release; 2000 tracking 1";
}

void TestLyricsScrollGuard::timeline()
{
    QFETCH(QString, script);
    ManualContinuousClock clock;
    const ContinuousInstant start = clock.now();
    UserScrollGuard guard(&clock);

    for (const QString &rawStep : script.split(u';')) {
        const QStringList step = rawStep.trimmed().split(u' ');
        const auto at = start + std::chrono::milliseconds(step.at(0).toInt());
        if (at > clock.now()) {
            clock.setNow(at);
            QCoreApplication::processEvents();
            QCoreApplication::processEvents();
        }
        const QString &op = step.at(1);
        if (op == u"raise") {
            guard.raiseProgrammaticFlag();
        } else if (op == u"guard") {
            guard.restartGuardTime();
        } else if (op == u"resume") {
            guard.resumeTracking();
        } else if (op == u"hold" || op == u"release") {
            guard.setHeld(op == u"hold");
        } else if (op == u"offset") {
            QVERIFY2(guard.handleOffsetChange(step.at(2).toDouble()) == (step.at(3) == u"1"), qPrintable(rawStep));
        } else if (op == u"tracking") {
            QVERIFY2(guard.isTracking() == (step.at(2) == u"1"), qPrintable(rawStep));
        } else {
            QFAIL(qPrintable(QStringLiteral("unknown step ") + rawStep));
        }
    }
}

void TestLyricsScrollGuard::resetRunsEachCallersHook()
{
    ManualContinuousClock clock;
    UserScrollGuard guard(&clock);
    QStringList resets;
    guard.raiseProgrammaticFlag([&] { resets << u"a"_qs; });
    clock.advance(200ms);
    guard.raiseProgrammaticFlag([&] { resets << u"b"_qs; });
    clock.advance(300ms);
    QTRY_COMPARE(resets, QStringList{u"a"_qs});
    QVERIFY(guard.isProgrammaticScroll());
    clock.advance(200ms);
    QTRY_COMPARE(resets, (QStringList{u"a"_qs, u"b"_qs}));
    QVERIFY(!guard.isProgrammaticScroll());
}

void TestLyricsScrollGuard::scrollTarget_data()
{
    QTest::addColumn<double>("rowY");
    QTest::addColumn<double>("rowHeight");
    QTest::addColumn<double>("viewport");
    QTest::addColumn<double>("content");
    QTest::addColumn<bool>("top");
    QTest::addColumn<double>("expected");
    QTest::newRow("centre") << 1000.0 << 40.0 << 600.0 << 3000.0 << false << 720.0;
    QTest::newRow("centre near the top clamps to 0") << 100.0 << 40.0 << 600.0 << 3000.0 << false << 0.0;
    QTest::newRow("centre near the end clamps to the last page") << 2900.0 << 40.0 << 600.0 << 3000.0 << false << 2400.0;
    QTest::newRow("content shorter than the viewport") << 200.0 << 40.0 << 600.0 << 400.0 << false << 0.0;
    QTest::newRow("top anchor") << 1000.0 << 40.0 << 600.0 << 3000.0 << true << 1000.0;
    QTest::newRow("top anchor past the end") << 2800.0 << 40.0 << 600.0 << 3000.0 << true << 2400.0;
    QTest::newRow("not finite goes to the top") << qQNaN() << 40.0 << 600.0 << 3000.0 << false << 0.0;
}

void TestLyricsScrollGuard::scrollTarget()
{
    QFETCH(double, rowY);
    QFETCH(double, rowHeight);
    QFETCH(double, viewport);
    QFETCH(double, content);
    QFETCH(bool, top);
    QFETCH(double, expected);
    QCOMPARE(scrollTargetOffset(rowY, rowHeight, viewport, content, top ? ScrollAnchor::top : ScrollAnchor::center),
             expected);
}

QTEST_GUILESS_MAIN(TestLyricsScrollGuard)
#include "tst_lyricsscrollguard.moc"
