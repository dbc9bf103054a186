// Card lighting: the playback card's window and tie-break, the manual choice and its eight-second
// idle return on a hand-driven clock, and notifications only on real changes.
#include "session/player/CardLightingCoordinator.h"
#include "core/LearnedCardVM.h"

#include <QSignalSpy>
#include <QTest>

#include <limits>

using namespace std::chrono_literals;

namespace {

LearnedCardVM card(const QString &id, std::optional<double> time)
{
    LearnedCardVM vm;
    vm.id = id;
    vm.en = id;
    vm.lineTimestamp = time;
    return vm;
}

void tick(ManualContinuousClock &clock, std::chrono::milliseconds d)
{
    clock.advance(d);
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

} // namespace

Q_DECLARE_METATYPE(QList<LearnedCardVM>)

class TestCardLighting : public QObject
{
    Q_OBJECT

    // A fresh clock per test; it outlives the test's coordinators until their cancelled waits
    // have ended on the event loop.
    std::unique_ptr<ManualContinuousClock> m_clock;

private slots:
    void init() { m_clock = std::make_unique<ManualContinuousClock>(); }

    void cleanup()
    {
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
        QCOMPARE(m_clock->pendingSleepers(), 0);
    }

    void playbackCard_data()
    {
        QTest::addColumn<QList<LearnedCardVM>>("cards");
        QTest::addColumn<double>("position");
        QTest::addColumn<QString>("expected"); // "" for none

        const QList<LearnedCardVM> tenTwelve{card("ten", 10.0), card("twelve", 12.0)};
        QTest::newRow("at the later line") << tenTwelve << 12.0 << "twelve";
        QTest::newRow("within the 1 ms slack") << tenTwelve << 11.9995 << "twelve";
        QTest::newRow("outside the slack") << tenTwelve << 11.998 << "ten";
        QTest::newRow("exactly 5 s after") << QList<LearnedCardVM>{card("ten", 10.0)} << 15.0 << "ten";
        QTest::newRow("just over 5 s after") << QList<LearnedCardVM>{card("ten", 10.0)} << 15.0001 << "";
        QTest::newRow("equal times: first in list")
            << QList<LearnedCardVM>{card("first", 10.0), card("second", 10.0)} << 11.0 << "first";
        QTest::newRow("no cards") << QList<LearnedCardVM>{} << 10.0 << "";
        QTest::newRow("no timed card") << QList<LearnedCardVM>{card("a", std::nullopt)} << 10.0 << "";
        QTest::newRow("NaN time never qualifies")
            << QList<LearnedCardVM>{card("nan", std::numeric_limits<double>::quiet_NaN()), card("ok", 9.0)} << 10.0
            << "ok";
        QTest::newRow("NaN position") << tenTwelve << std::numeric_limits<double>::quiet_NaN() << "";
    }

    void playbackCard()
    {
        QFETCH(QList<LearnedCardVM>, cards);
        QFETCH(double, position);
        QFETCH(QString, expected);
        ManualContinuousClock &clock = *m_clock;
        CardLightingCoordinator lighting(&clock);
        lighting.setAutoFollowLitCardId(QStringLiteral("stale"));
        lighting.update(cards, position);
        QCOMPARE(lighting.autoFollowLitCardId().value_or(QString()), expected);
        QCOMPARE(lighting.litCardIdText(), expected);
    }

    void manualChoiceLastsUntilEightSecondsAfterTheLastRestart()
    {
        ManualContinuousClock &clock = *m_clock;
        CardLightingCoordinator lighting(&clock);
        QSignalSpy modeSpy(&lighting, &CardLightingCoordinator::modeChanged);

        lighting.select(QStringLiteral("picked"));
        QCOMPARE(lighting.mode(), LightingMode::manual(QStringLiteral("picked")));
        QCOMPARE(modeSpy.count(), 1);

        tick(clock, 5s);
        lighting.restartIdleTimer();
        tick(clock, 7900ms); // 12.9 s in all, 7.9 s after the restart
        QVERIFY(!lighting.isAuto());
        QCOMPARE(clock.pendingSleepers(), 1); // the first wait was cancelled by the restart

        tick(clock, 100ms); // 13 s in all
        QVERIFY(lighting.isAuto());
        QCOMPARE(modeSpy.count(), 2);
        QVERIFY(lighting.hasIdleTimer()); // the ended wait is not cleared
    }

    void updateInManualModeMovesOnlyThePlaybackCard()
    {
        ManualContinuousClock &clock = *m_clock;
        CardLightingCoordinator lighting(&clock);
        lighting.select(QStringLiteral("picked"));
        QSignalSpy litSpy(&lighting, &CardLightingCoordinator::litCardIdChanged);
        QSignalSpy autoSpy(&lighting, &CardLightingCoordinator::autoFollowLitCardIdChanged);

        lighting.update({card("x", 1.0)}, 2.0);
        QCOMPARE(lighting.autoFollowLitCardIdText(), QStringLiteral("x"));
        QCOMPARE(lighting.litCardIdText(), QStringLiteral("picked"));
        QCOMPARE(autoSpy.count(), 1);
        QCOMPARE(litSpy.count(), 0);

        // Back to automatic: the playback card is lit at once, without waiting for a sample.
        tick(clock, 8s);
        QCOMPARE(lighting.litCardIdText(), QStringLiteral("x"));
        QCOMPARE(litSpy.count(), 1);
    }

    void equalWritesDoNotNotify()
    {
        ManualContinuousClock &clock = *m_clock;
        CardLightingCoordinator lighting(&clock);
        QSignalSpy modeSpy(&lighting, &CardLightingCoordinator::modeChanged);
        QSignalSpy autoSpy(&lighting, &CardLightingCoordinator::autoFollowLitCardIdChanged);
        QSignalSpy litSpy(&lighting, &CardLightingCoordinator::litCardIdChanged);

        lighting.setMode(LightingMode::automatic());
        lighting.update({card("a", 1.0)}, 1.5);
        lighting.update({card("a", 1.0)}, 2.5);
        lighting.reset();
        QCOMPARE(modeSpy.count(), 0);
        QCOMPARE(autoSpy.count(), 1);
        QCOMPARE(litSpy.count(), 1);

        lighting.select(QStringLiteral("a")); // the lit card stays "a": only the mode changes
        QCOMPARE(modeSpy.count(), 1);
        QCOMPARE(litSpy.count(), 1);
    }

    void resetCancelsThePendingWait()
    {
        ManualContinuousClock &clock = *m_clock;
        CardLightingCoordinator lighting(&clock);
        lighting.select(QStringLiteral("a"));
        lighting.reset();
        QVERIFY(lighting.isAuto());
        QVERIFY(!lighting.hasIdleTimer());
        QCoreApplication::processEvents();
        QCOMPARE(clock.pendingSleepers(), 0);

        // A manual choice made later is not ended early by the old wait.
        tick(clock, 4s);
        lighting.select(QStringLiteral("b"));
        tick(clock, 5s);
        QVERIFY(!lighting.isAuto());
    }

    void coordinatorDestroyedWhileItsWaitSleeps()
    {
        ManualContinuousClock &clock = *m_clock;
        auto lighting = std::make_unique<CardLightingCoordinator>(&clock);
        lighting->select(QStringLiteral("a"));
        lighting.reset();
        tick(clock, 10s);
        QCOMPARE(clock.pendingSleepers(), 0);
    }
};

QTEST_GUILESS_MAIN(TestCardLighting)
#include "tst_cardlighting.moc"
