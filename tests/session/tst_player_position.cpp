// The player view model's position and offsets: extrapolation from the anchor on an injected
// clock (with the wall-clock fallback), per-song offset rounding and replacement, and the
// debounced writes of the preferences, all on hand-driven clocks.
#include "TaskRunner.h"

#include "core/store/CardStoreActor.h"
#include "core/store/StoreContainer.h"
#include "session/PlayerViewModel.h"

#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <cmath>
#include <limits>

using namespace std::chrono_literals;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

NowPlayingTrack makeTrack(const QString &title, double elapsed = 42.0)
{
    NowPlayingTrack t;
    t.title = title;
    t.artist = QStringLiteral("Artist");
    t.elapsed = elapsed;
    t.isPlaying = true;
    return t;
}

ContinuousInstant at(double seconds)
{
    return ContinuousInstant::fromSeconds(seconds);
}

void tick(ManualContinuousClock &clock, std::chrono::milliseconds d)
{
    clock.advance(d);
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

} // namespace

class TestPlayerPosition : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QSettings> m_settings;
    ContinuousInstant m_now{100'000'000'000};
    std::unique_ptr<ManualContinuousClock> m_debounce;
    ManualWallClock m_wall;

    std::unique_ptr<PlayerViewModel> makeModel(std::optional<QString> userId = std::nullopt)
    {
        PlayerViewModelDependencies deps;
        deps.userId = userId;
        deps.settings = m_settings.get();
        deps.debounceClock = m_debounce.get();
        deps.wallClock = &m_wall;
        return std::make_unique<PlayerViewModel>([this] { return m_now; }, deps);
    }

    // A store with one song, its actor, and a count of the actor's commits.
    struct Store
    {
        std::shared_ptr<StoreContainer> container;
        std::shared_ptr<CardStoreActor> actor;
        std::shared_ptr<std::atomic_int> commits = std::make_shared<std::atomic_int>(0);
        int listener = 0;

        ~Store() { container->removeListener(listener); }
        std::optional<double> offset(const QString &key)
        {
            const auto snapshot = TaskRunner::run(actor->snapshot(key));
            return snapshot ? snapshot->lyricsOffset : std::nullopt;
        }
    };

    std::unique_ptr<Store> makeStore(const QString &songKey)
    {
        auto store = std::make_unique<Store>();
        store->container = StoreContainer::open(m_dir->filePath(QStringLiteral("default-test-en.store")));
        store->actor = std::make_shared<CardStoreActor>(store->container);
        TaskRunner::run(store->actor->recordPlay(songKey, QStringLiteral("A"), QStringLiteral("Artist")));
        TaskRunner::run(store->actor->setLyricsOffset(songKey, 1.0));
        auto commits = store->commits;
        store->listener = store->container->addListener([commits](const QSet<QString> &) { ++*commits; });
        return store;
    }

    QVariant stored(const QString &key)
    {
        m_settings->sync();
        return m_settings->value(key);
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_settings = std::make_unique<QSettings>(m_dir->filePath("defaults.ini"), QSettings::IniFormat);
        m_now = at(100);
        m_debounce = std::make_unique<ManualContinuousClock>();
    }

    // Cancelled sleeps end on the event loop; let them before their clock goes.
    void cleanup()
    {
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
        QCOMPARE(m_debounce->pendingSleepers(), 0);
    }

    void extrapolation_data()
    {
        QTest::addColumn<double>("anchorAt");
        QTest::addColumn<double>("elapsed");
        QTest::addColumn<double>("rate");
        QTest::addColumn<double>("now");
        QTest::addColumn<double>("expected");
        QTest::newRow("playing") << 100.0 << 10.0 << 1.0 << 102.5 << 12.5;
        QTest::newRow("paused stays put") << 100.0 << 10.0 << 0.0 << 5000.0 << 10.0;
        QTest::newRow("at the anchor") << 100.0 << 10.0 << 1.0 << 100.0 << 10.0;
    }

    void extrapolation()
    {
        QFETCH(double, anchorAt);
        QFETCH(double, elapsed);
        QFETCH(double, rate);
        QFETCH(double, now);
        QFETCH(double, expected);
        auto m = makeModel();
        m->setAnchor(SampleAnchor{at(anchorAt), elapsed, rate});
        m_now = at(now);
        QCOMPARE(m->currentElapsed(), expected);
    }

    void withoutAnAnchor()
    {
        auto m = makeModel();
        QCOMPARE(m->currentElapsed(), 0.0);
        m->setTrack(makeTrack(QStringLiteral("A"), 42.0));
        m_now = at(1000);
        QCOMPARE(m->currentElapsed(), 42.0);
        m->setGlobalOffset(0.5);
        QCOMPARE(m->displayedElapsed(), 42.5);
    }

    // A clock reading before the anchor: the fault is logged on every read and the wall clock
    // since the anchor was set takes over, never going below the anchor's elapsed.
    void backwardsClockFallsBackToTheWallClock()
    {
        auto m = makeModel();
        m->setAnchor(SampleAnchor{at(100), 10.0, 1.0});
        m_now = at(97);
        const QRegularExpression fault(QStringLiteral("ContinuousClock returned negative dt \\(-3\\.0+\\)"));

        m_wall.advance(2000ms);
        QTest::ignoreMessage(QtCriticalMsg, fault);
        QCOMPARE(m->currentElapsed(), 12.0);

        m_wall.advance(-5000ms);
        QTest::ignoreMessage(QtCriticalMsg, fault);
        QCOMPARE(m->currentElapsed(), 10.0);
    }

    void setAnchorRecordsTheWallClock()
    {
        auto m = makeModel();
        const QDateTime built = m->anchorDate();
        m_wall.advance(3000ms);
        QSignalSpy date(m.get(), &PlayerViewModel::anchorDateChanged);
        m->setAnchor(std::nullopt); // an absent anchor leaves the date
        QCOMPARE(m->anchorDate(), built);
        m->setAnchor(SampleAnchor{at(1), 0, 1});
        QCOMPARE(m->anchorDate(), built.addMSecs(3000));
        QCOMPARE(date.count(), 1);
    }

    void songOffsetRounding_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<double>("expected");
        QTest::newRow("0.123") << 0.123 << 0.1;
        QTest::newRow("0.125") << 0.125 << 0.15000000000000002;
        QTest::newRow("-0.125") << -0.125 << -0.15000000000000002;
        QTest::newRow("0.025") << 0.025 << 0.05;
        QTest::newRow("0.024") << 0.024 << 0.0;
        QTest::newRow("2.7") << 2.7 << 2.0;
        QTest::newRow("-3.1") << -3.1 << -2.0;
        QTest::newRow("6 steps") << 0.3 << 0.30000000000000004;
    }

    void songOffsetRounding()
    {
        QFETCH(double, value);
        QFETCH(double, expected);
        auto m = makeModel();
        m->setTrack(makeTrack(QStringLiteral("A")));
        m->setEffectiveOffset(value);
        // Exact comparison: the grid's floating-point noise is part of the result.
        QVERIFY2(m->effectiveOffset() == expected, qPrintable(QString::number(m->effectiveOffset(), 'g', 17)));
        m->applyStoredOffset(value, m->track()->songKey());
        QVERIFY(m->effectiveOffset() == expected);
    }

    void songOffsetReplacesTheGlobalOne()
    {
        auto m = makeModel();
        m->setGlobalOffset(1.5);
        m->setTrack(makeTrack(QStringLiteral("A")));
        QCOMPARE(m->effectiveOffset(), 1.5);
        QSignalSpy offset(m.get(), &PlayerViewModel::effectiveOffsetChanged);
        m->setEffectiveOffset(0.0);
        QCOMPARE(m->effectiveOffset(), 0.0); // replaced, not added
        QCOMPARE(offset.count(), 1);

        // Another song uses the global offset; coming back finds the song's own again.
        m->setTrack(makeTrack(QStringLiteral("B")));
        QCOMPARE(m->effectiveOffset(), 1.5);
        m->setTrack(makeTrack(QStringLiteral("A")));
        QCOMPARE(m->effectiveOffset(), 0.0);
        QCOMPARE(offset.count(), 3);

        m->resetPerSongOffset();
        QCOMPARE(m->effectiveOffset(), 1.5);
        QVERIFY(!m->perSongOffset().contains(m->track()->songKey()));
    }

    void offsetsWithoutATrackOrNotFiniteAreIgnored()
    {
        auto m = makeModel();
        QSignalSpy perSong(m.get(), &PlayerViewModel::perSongOffsetChanged);
        m->setEffectiveOffset(0.5);
        m->resetPerSongOffset();
        QCOMPARE(perSong.count(), 0);
        QCOMPARE(m_debounce->pendingSleepers(), 0);

        m->setTrack(makeTrack(QStringLiteral("A")));
        m->setEffectiveOffset(0.5);
        for (double bad : {kNaN, kInf, -kInf})
            m->setEffectiveOffset(bad);
        QCOMPARE(m->effectiveOffset(), 0.5);

        // A stored value that is not finite reads as no offset.
        m->applyStoredOffset(kNaN, m->track()->songKey());
        QCOMPARE(m->effectiveOffset(), 0.0);
        QVERIFY(m->perSongOffset().isEmpty());

        m->setGlobalOffset(0.25);
        m->setGlobalOffset(kNaN);
        m->setGlobalOffset(kInf);
        QCOMPARE(m->globalOffset(), 0.25);
    }

    // Every application of a stored offset notifies, even an unchanged one.
    void applyStoredOffsetAlwaysNotifies()
    {
        auto m = makeModel();
        QSignalSpy perSong(m.get(), &PlayerViewModel::perSongOffsetChanged);
        m->applyStoredOffset(std::nullopt, QStringLiteral("a|b"));
        m->applyStoredOffset(0.5, QStringLiteral("a|b"));
        m->applyStoredOffset(0.5, QStringLiteral("a|b"));
        QCOMPARE(perSong.count(), 3);
    }

    void preferencesAreReadUnderTheUsersKeys()
    {
        m_settings->setValue(QStringLiteral("cantorella.unknown.globalOffset"), -0.75);
        m_settings->setValue(QStringLiteral("cantorella.user-1.globalOffset"), 1.25);
        m_settings->setValue(QStringLiteral("cantorella.user-1.nudgeEnabled"), true);
        m_settings->sync();
        auto signedOut = makeModel();
        QCOMPARE(signedOut->globalOffset(), -0.75);
        QVERIFY(!signedOut->nudgeEnabled());
        auto user = makeModel(QStringLiteral("user-1"));
        QCOMPARE(user->userDefaultsPrefix(), QStringLiteral("user-1"));
        QCOMPARE(user->globalOffset(), 1.25);
        QVERIFY(user->nudgeEnabled());
    }

    void unreadableStoredGlobalOffsetReadsAsZero_data()
    {
        QTest::addColumn<QVariant>("value");
        QTest::newRow("NaN") << QVariant(kNaN);
        QTest::newRow("infinity") << QVariant(kInf);
        QTest::newRow("text") << QVariant(QStringLiteral("soon"));
    }

    void unreadableStoredGlobalOffsetReadsAsZero()
    {
        QFETCH(QVariant, value);
        m_settings->setValue(QStringLiteral("cantorella.unknown.globalOffset"), value);
        m_settings->sync();
        QCOMPARE(makeModel()->globalOffset(), 0.0);
    }

    // A burst of changes writes once, the last value, half a second after the last change.
    void globalOffsetWriteIsDebounced()
    {
        auto m = makeModel(QStringLiteral("u"));
        const QString key = PlayerViewModel::globalOffsetKey(QStringLiteral("u"));
        m->setGlobalOffset(0.1);
        tick(*m_debounce, 100ms);
        m->setGlobalOffset(0.2);
        tick(*m_debounce, 100ms);
        m->setGlobalOffset(5.0); // not limited or rounded
        QCOMPARE(m->globalOffset(), 5.0);
        tick(*m_debounce, 499ms);
        QVERIFY(!stored(key).isValid());
        tick(*m_debounce, 1ms);
        QCOMPARE(stored(key).toDouble(), 5.0);
        QCOMPARE(m_debounce->pendingSleepers(), 0);
    }

    void nudgeSwitchWriteIsDebounced()
    {
        auto m = makeModel();
        const QString key = PlayerViewModel::nudgeEnabledKey(QStringLiteral("unknown"));
        QSignalSpy nudge(m.get(), &PlayerViewModel::nudgeEnabledChanged);
        m->setNudgeEnabled(true);
        m->setNudgeEnabled(true);
        QCOMPARE(nudge.count(), 1);
        tick(*m_debounce, 500ms);
        QCOMPARE(stored(key).toBool(), true);
    }

    // Dragging the slider: one store write, the last value, half a second after the last change.
    void songOffsetWriteIsDebounced()
    {
        auto m = makeModel();
        m->setTrack(makeTrack(QStringLiteral("A")));
        const QString key = m->track()->songKey();
        auto store = makeStore(key);
        m->setCardStoreActor(store->actor);

        m->setEffectiveOffset(0.1);
        tick(*m_debounce, 100ms);
        m->setEffectiveOffset(0.2);
        tick(*m_debounce, 100ms);
        m->setEffectiveOffset(-0.33);
        tick(*m_debounce, 499ms);
        QTest::qWait(20);
        QCOMPARE(store->commits->load(), 0);
        tick(*m_debounce, 1ms);
        QTRY_COMPARE(store->commits->load(), 1);
        QVERIFY(store->offset(key) == -0.35000000000000003);
        QCOMPARE(m->effectiveOffset(), -0.35000000000000003);
    }

    // Reset within the quiet period: the pending write never happens, the stored offset is
    // cleared at once, and the global offset applies again.
    void resetCancelsThePendingWriteAndClearsTheStoredOffset()
    {
        auto m = makeModel();
        m->setGlobalOffset(0.75);
        m->setTrack(makeTrack(QStringLiteral("A")));
        const QString key = m->track()->songKey();
        auto store = makeStore(key);
        m->setCardStoreActor(store->actor);

        m->setEffectiveOffset(0.5);
        tick(*m_debounce, 200ms);
        m->resetPerSongOffset();
        QCOMPARE(m->effectiveOffset(), 0.75);
        QTRY_COMPARE(store->commits->load(), 1);
        QCOMPARE(store->offset(key), std::nullopt);
        tick(*m_debounce, 1s);
        QTest::qWait(20);
        QCOMPARE(store->commits->load(), 1);
        QCOMPARE(store->offset(key), std::nullopt);
    }

    void withoutAStoreOffsetsLiveInMemory()
    {
        auto m = makeModel();
        m->setTrack(makeTrack(QStringLiteral("A")));
        m->setEffectiveOffset(0.4);
        tick(*m_debounce, 1s);
        m->resetPerSongOffset();
        QCOMPARE(m->effectiveOffset(), 0.0);
    }

    // A model dropped during the quiet period still writes what it was last given.
    void pendingPreferenceIsWrittenWhenTheModelGoes()
    {
        auto m = makeModel();
        m->setGlobalOffset(-1.25);
        m->setNudgeEnabled(true);
        m.reset();
        QCOMPARE(stored(PlayerViewModel::globalOffsetKey("unknown")).toDouble(), -1.25);
        QCOMPARE(stored(PlayerViewModel::nudgeEnabledKey("unknown")).toBool(), true);
        tick(*m_debounce, 1s);
        QCOMPARE(m_debounce->pendingSleepers(), 0);
    }

    void pendingSongOffsetIsStoredWhenTheModelGoes()
    {
        auto m = makeModel();
        m->setTrack(makeTrack(QStringLiteral("A")));
        const QString key = m->track()->songKey();
        auto store = makeStore(key);
        m->setCardStoreActor(store->actor);
        m->setEffectiveOffset(-1.2);
        m.reset();
        QTRY_COMPARE(store->commits->load(), 1);
        QVERIFY(store->offset(key) == -1.2000000000000002);
    }
};

QTEST_GUILESS_MAIN(TestPlayerPosition)
#include "tst_player_position.moc"
