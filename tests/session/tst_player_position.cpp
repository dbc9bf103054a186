// The player view model's position and offsets on hand-driven clocks: extrapolation from the
// anchor with the wall-clock fallback, per-song offset rounding and replacement, and the
// debounced writes to the user defaults and to a real store.
#include "TaskRunner.h"

#include "core/store/CardStoreActor.h"
#include "core/store/StoreContainer.h"
#include "session/player/PlayerViewModel.h"
#include "session/player/SongOffsetRules.h"

#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
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

// A store holding one song with an offset of 1.0, and a count of the commits after that.
struct Store
{
    std::shared_ptr<StoreContainer> container;
    std::shared_ptr<CardStoreActor> actor;
    std::shared_ptr<std::atomic_int> commits = std::make_shared<std::atomic_int>(0);
    int listener = 0;

    Store(const QString &path, const QString &songKey)
        : container(StoreContainer::open(path))
        , actor(std::make_shared<CardStoreActor>(container))
    {
        TaskRunner::run(actor->recordPlay(songKey, QStringLiteral("A"), QStringLiteral("Artist")));
        TaskRunner::run(actor->setLyricsOffset(songKey, 1.0));
        listener = container->addListener([counter = commits](const QSet<QString> &) { ++*counter; });
    }
    ~Store() { container->removeListener(listener); }

    std::optional<double> offset(const QString &key)
    {
        const auto snapshot = TaskRunner::run(actor->snapshot(key));
        return snapshot ? snapshot->lyricsOffset : std::nullopt;
    }
};

} // namespace

class TestPlayerPosition : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QSettings> m_settings;
    std::unique_ptr<ManualContinuousClock> m_debounce;
    ContinuousInstant m_now;
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

    std::unique_ptr<Store> makeStore(const QString &songKey)
    {
        return std::make_unique<Store>(m_dir->filePath(QStringLiteral("default-test-en.store")), songKey);
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
        m_debounce = std::make_unique<ManualContinuousClock>();
        m_now = at(100);
    }

    // Cancelled sleeps end on the event loop; let them before their clock goes.
    void cleanup()
    {
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
        QCOMPARE(m_debounce->pendingSleepers(), 0);
    }

    void extrapolation()
    {
        auto m = makeModel();
        QCOMPARE(m->currentElapsed(), 0.0);
        m->setTrack(makeTrack(QStringLiteral("A"), 42.0));
        QCOMPARE(m->currentElapsed(), 42.0); // no anchor: the track's elapsed, not extrapolated

        m->setAnchor(SampleAnchor{at(100), 10.0, 1.0});
        m_now = at(102.5);
        QCOMPARE(m->currentElapsed(), 12.5);
        m->setGlobalOffset(0.5);
        QCOMPARE(m->displayedElapsed(), 13.0);

        m->setAnchor(SampleAnchor{at(100), 10.0, 0.0}); // paused
        m_now = at(5000);
        QCOMPARE(m->currentElapsed(), 10.0);
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
    }

    void songOffsetRounding()
    {
        QFETCH(double, value);
        QFETCH(double, expected);
        auto m = makeModel();
        m->setTrack(makeTrack(QStringLiteral("A")));
        m->setEffectiveOffset(value);
        // Exact: the grid's floating-point noise is part of the result.
        QVERIFY2(m->effectiveOffset() == expected, qPrintable(QString::number(m->effectiveOffset(), 'g', 17)));
        m->applyStoredOffset(value, m->track()->songKey());
        QVERIFY(m->effectiveOffset() == expected);
    }

    void songOffsetReplacesTheGlobalOne()
    {
        auto m = makeModel();
        m->setGlobalOffset(1.5);
        m->setTrack(makeTrack(QStringLiteral("A")));
        QSignalSpy offset(m.get(), &PlayerViewModel::effectiveOffsetChanged);
        m->setEffectiveOffset(0.0);
        QCOMPARE(m->effectiveOffset(), 0.0); // replaced, not added
        m->setTrack(makeTrack(QStringLiteral("B")));
        QCOMPARE(m->effectiveOffset(), 1.5);
        m->setTrack(makeTrack(QStringLiteral("A")));
        QCOMPARE(m->effectiveOffset(), 0.0);
        QCOMPARE(offset.count(), 3);
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
        m->applyStoredOffset(kNaN, m->track()->songKey()); // reads as no offset
        QVERIFY(m->perSongOffset().isEmpty());

        m->setGlobalOffset(0.25);
        m->setGlobalOffset(kNaN);
        QCOMPARE(m->globalOffset(), 0.25);
    }

    void preferencesAreReadUnderTheUsersKeys()
    {
        m_settings->setValue(QStringLiteral("cantorella.unknown.globalOffset"), -0.75);
        m_settings->setValue(QStringLiteral("cantorella.user-1.globalOffset"), kNaN);
        m_settings->setValue(QStringLiteral("cantorella.user-1.nudgeEnabled"), true);
        m_settings->sync();
        QCOMPARE(makeModel()->globalOffset(), -0.75);
        auto user = makeModel(QStringLiteral("user-1"));
        QCOMPARE(user->globalOffset(), 0.0); // not finite: absent
        QVERIFY(user->nudgeEnabled());
    }

    // A burst of changes writes once, the last value, half a second after the last change.
    void preferenceWritesAreDebounced()
    {
        auto m = makeModel(QStringLiteral("u"));
        const QString key = SongOffsetRules::globalOffsetKey(QStringLiteral("u"));
        m->setGlobalOffset(0.1);
        tick(*m_debounce, 100ms);
        m->setGlobalOffset(5.0); // not limited or rounded
        m->setNudgeEnabled(true);
        tick(*m_debounce, 499ms);
        QVERIFY(!stored(key).isValid());
        tick(*m_debounce, 1ms);
        QCOMPARE(stored(key).toDouble(), 5.0);
        QCOMPARE(stored(SongOffsetRules::nudgeEnabledKey(QStringLiteral("u"))).toBool(), true);

        // A model dropped during the quiet period still writes what it was last given.
        m->setGlobalOffset(-1.25);
        m.reset();
        QCOMPARE(stored(key).toDouble(), -1.25);
    }

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

        // Dropped while a write is pending: the write still happens.
        m->setEffectiveOffset(1.2);
        m.reset();
        QTRY_COMPARE(store->commits->load(), 2);
        QVERIFY(store->offset(key) == 1.2000000000000002);
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
        tick(*m_debounce, 1s);
        QTest::qWait(20);
        QCOMPARE(store->commits->load(), 1);
        QCOMPARE(store->offset(key), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(TestPlayerPosition)
#include "tst_player_position.moc"
