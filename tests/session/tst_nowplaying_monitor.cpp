// NowPlayingMonitor with a hand-driven source; the track's song key and equality.
#include "session/nowplaying/NowPlayingMonitor.h"

#include <QTest>

#include <qcoro/qcorotask.h>

using Sample = std::optional<NowPlayingTrack>;

namespace {

class FakeSource final : public NowPlayingSource
{
public:
    Channel<Sample> trackPublisher() const override { return stream; }
    void start() override { ++starts; }
    void stop() override
    {
        ++stops;
        stream.finish();
    }

    Channel<Sample> stream;
    int starts = 0;
    int stops = 0;
};

NowPlayingTrack track(double elapsed, bool playing, std::optional<ContinuousInstant> at)
{
    NowPlayingTrack t;
    t.title = QStringLiteral("Song");
    t.artist = QStringLiteral("Artist");
    t.elapsed = elapsed;
    t.duration = 200;
    t.isPlaying = playing;
    t.sampleHostTime = at;
    return t;
}

std::optional<Sample> nextValue(const Channel<Sample> &stream)
{
    if (!QTest::qWaitFor([&] { return stream.pending() > 0 || stream.isFinished(); }, 2000))
        return std::nullopt;
    return QCoro::waitFor(stream.receive());
}

} // namespace

class TestNowPlayingMonitor : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void anchor_data()
    {
        QTest::addColumn<bool>("playing");
        QTest::addColumn<bool>("hasSampleTime");
        QTest::addColumn<double>("rate");

        QTest::newRow("playing, own sample time") << true << true << 1.0;
        QTest::newRow("paused, own sample time") << false << true << 0.0;
        QTest::newRow("playing, no sample time") << true << false << 1.0;
    }
    void anchor()
    {
        QFETCH(bool, playing);
        QFETCH(bool, hasSampleTime);
        QFETCH(double, rate);
        ManualContinuousClock clock(ContinuousInstant{50'000'000'000});
        auto source = std::make_unique<FakeSource>();
        FakeSource *fake = source.get();
        NowPlayingMonitor monitor(std::move(source), &clock);
        monitor.start();
        QCOMPARE(fake->starts, 1);

        const ContinuousInstant sampled{40'000'000'000};
        fake->stream.send(track(33.25, playing, hasSampleTime ? std::optional(sampled) : std::nullopt));
        const auto value = nextValue(monitor.tracks());
        QVERIFY(value && *value);
        QCOMPARE((*value)->elapsed, 33.25);

        const auto anchor = monitor.anchor();
        QVERIFY(anchor);
        QCOMPARE(anchor->hostTime, hasSampleTime ? sampled : clock.now());
        QCOMPARE(anchor->elapsed, 33.25);
        QCOMPARE(anchor->rate, rate);
        QCOMPARE(anchor->positionAt(anchor->hostTime + std::chrono::milliseconds(1500)), 33.25 + 1.5 * rate);
        QCOMPARE(monitor.lastTrack(), *value);
    }

    void valuesPassInOrderAndAbsentClearsAnchor()
    {
        auto source = std::make_unique<FakeSource>();
        FakeSource *fake = source.get();
        NowPlayingMonitor monitor(std::move(source));
        monitor.start();
        const ContinuousInstant at{7'000'000'000};
        fake->stream.send(track(1, true, at));
        fake->stream.send(std::nullopt);
        fake->stream.send(track(2, false, at));
        fake->stream.send(std::nullopt);

        const auto tracks = monitor.tracks();
        QTRY_COMPARE(tracks.pending(), 4);
        QVERIFY(!monitor.anchor()); // the last value was absent
        QVERIFY(!monitor.lastTrack());
        QCOMPARE(QCoro::waitFor(tracks.receive())->value().elapsed, 1.0);
        QCOMPARE(QCoro::waitFor(tracks.receive()), std::optional<Sample>(Sample()));
        QCOMPARE(QCoro::waitFor(tracks.receive())->value().elapsed, 2.0);
        QCOMPARE(QCoro::waitFor(tracks.receive()), std::optional<Sample>(Sample()));
    }

    void stopFinishesTracksAfterBufferedValues()
    {
        auto source = std::make_unique<FakeSource>();
        FakeSource *fake = source.get();
        NowPlayingMonitor monitor(std::move(source));
        monitor.start();
        fake->stream.send(track(5, true, ContinuousInstant{1}));
        QTRY_COMPARE(monitor.tracks().pending(), 1);
        monitor.stop();
        QCOMPARE(fake->stops, 1);
        fake->stream.send(track(6, true, ContinuousInstant{2})); // after stop: goes nowhere
        QTest::qWait(20);
        const auto tracks = monitor.tracks();
        QCOMPARE(QCoro::waitFor(tracks.receive())->value().elapsed, 5.0);
        QCOMPARE(QCoro::waitFor(tracks.receive()), std::nullopt);
    }

    void stopWithoutStart()
    {
        auto source = std::make_unique<FakeSource>();
        FakeSource *fake = source.get();
        NowPlayingMonitor monitor(std::move(source));
        monitor.stop();
        QCOMPARE(fake->starts, 0);
        QCOMPARE(fake->stops, 1);
        QCOMPARE(QCoro::waitFor(monitor.tracks().receive()), std::nullopt);
    }

    void sourceEndingLeavesTracksOpen()
    {
        auto source = std::make_unique<FakeSource>();
        FakeSource *fake = source.get();
        NowPlayingMonitor monitor(std::move(source));
        monitor.start();
        QTest::ignoreMessage(QtInfoMsg, "NowPlayingMonitor source stream ended");
        fake->stream.finish();
        QTest::qWait(20);
        QVERIFY(!monitor.tracks().isFinished());
        monitor.ingest(track(9, true, ContinuousInstant{3})); // still republished
        QCOMPARE(monitor.tracks().pending(), 1);
    }

    void destroyedWhileReading()
    {
        auto source = std::make_unique<FakeSource>();
        const Channel<Sample> stream = source->stream;
        {
            NowPlayingMonitor monitor(std::move(source));
            monitor.start();
        }
        // The reading task may still wake for this value; it must not touch the monitor.
        stream.send(track(1, true, ContinuousInstant{1}));
        stream.finish();
        QTest::qWait(20);
    }

    void songKey_data()
    {
        QTest::addColumn<QString>("artist");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("key");

        QTest::newRow("trimmed and lower-cased") << " Artist Name " << "Song Title\n" << "artist name|song title";
        QTest::newRow("empty artist") << "" << "X" << "|x";
        QTest::newRow("two spaces each side") << "  A  " << "b" << "a|b";
        QTest::newRow("inner spacing and punctuation kept") << "AC/DC" << "  Hells   Bells!  "
                                                            << "ac/dc|hells   bells!";
        QTest::newRow("Unicode white space") << QStringLiteral("\u3000Ünïcode\u00a0") << QStringLiteral("\u2028Ça\t")
                                             << QStringLiteral("ünïcode|ça");
    }
    void songKey()
    {
        QFETCH(QString, artist);
        QFETCH(QString, title);
        QFETCH(QString, key);
        NowPlayingTrack t;
        t.artist = artist;
        t.title = title;
        QCOMPARE(t.songKey(), key);
    }

    void equalityAndHash()
    {
        const NowPlayingTrack a = track(10, true, ContinuousInstant{5});
        NowPlayingTrack later = a;
        later.sampleHostTime = ContinuousInstant{6};
        QVERIFY(a != later); // two reads of one song never compare equal

        NowPlayingTrack zero = track(0.0, false, std::nullopt);
        NowPlayingTrack negativeZero = zero;
        negativeZero.elapsed = -0.0;
        QCOMPARE(zero, negativeZero);
        QCOMPARE(qHash(zero), qHash(negativeZero));
    }
};

QTEST_GUILESS_MAIN(TestNowPlayingMonitor)
#include "tst_nowplaying_monitor.moc"
