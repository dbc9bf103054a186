#pragma once

// One user's whole graph around a SessionCoordinator, for scenarios of the song pipeline: the real
// monitor fed by a fake source, the real store on a temporary file, the lyrics repository over a
// faked client, and faked card and story backends. Plus the small builders those scenarios use.

#include "FakeLLMProvider.h"
#include "FakeNowPlayingSource.h"
#include "FakeRemoteLyrics.h"
#include "FakeSongStoryProvider.h"

#include "core/LrcParser.h"
#include "platform/Clock.h"
#include "core/store/CardStore.h"
#include "core/store/CardStoreActor.h"
#include "core/store/StoreContainer.h"
#include "session/LocalCardsRepository.h"
#include "session/SessionCoordinator.h"
#include "session/nowplaying/NowPlayingMonitor.h"
#include "session/player/CardLightingCoordinator.h"
#include "session/player/PlayerViewModel.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <qcoro/qcorotask.h>

namespace sessionrig {

const QString lrcText = QStringLiteral("[00:01.00]Hello there\n[00:04.00]Second line\n[00:12.00]Third line\n");

inline GoldenCard card(const QString &en, std::optional<double> at)
{
    GoldenCard c;
    c.en = en;
    c.cn = en + QStringLiteral("（中）");
    c.note = QStringLiteral("note");
    c.example = QStringLiteral("example");
    c.tag = QStringLiteral("phrase");
    c.lineTimestamp = at;
    return c;
}

inline NowPlayingTrack track(const QString &title, const QString &artist = QStringLiteral("Artist"), double elapsed = 0)
{
    NowPlayingTrack t;
    t.title = title;
    t.artist = artist;
    t.duration = 180;
    t.elapsed = elapsed;
    t.isPlaying = true;
    t.sampleHostTime = ContinuousClock::system()->now();
    return t;
}

inline RemoteLyricsFetchResult lyrics(const QString &language)
{
    return {LyricsResult::synced(lrcText, LRCParser::parse(lrcText)), LyricsSource::lrclib, language};
}

inline QStringList ids(const QList<LearnedCardVM> &cards)
{
    QStringList out;
    for (const LearnedCardVM &c : cards)
        out << c.en;
    return out;
}

template<class T>
T await(QCoro::Task<T> task)
{
    return QCoro::waitFor(std::move(task));
}

// One user's whole graph around a coordinator.
struct Rig
{
    QTemporaryDir dir;
    QSettings settings{dir.path() + QStringLiteral("/settings.ini"), QSettings::IniFormat};
    QString storePath;
    ManualContinuousClock clock; // the coordinator's pause before a card retry
    std::shared_ptr<StoreContainer> container = StoreContainer::open(storePath);
    std::shared_ptr<CardStoreActor> actor = std::make_shared<CardStoreActor>(container);
    CardStore cardStore{container};
    FakeNowPlayingSource *source = new FakeNowPlayingSource;
    NowPlayingMonitor monitor{std::unique_ptr<NowPlayingSource>(source)};
    std::shared_ptr<FakeRemoteLyrics> remote = std::make_shared<FakeRemoteLyrics>();
    std::shared_ptr<LocalLyricsRepository> lyricsRepository = std::make_shared<LocalLyricsRepository>(remote);
    std::shared_ptr<FakeLLMProvider> llm = std::make_shared<FakeLLMProvider>();
    std::shared_ptr<LocalCardsRepository> cardsRepository = std::make_shared<LocalCardsRepository>(&cardStore, llm);
    std::shared_ptr<FakeSongStoryProvider> story = std::make_shared<FakeSongStoryProvider>();
    PlayerViewModel vm{[] { return ContinuousClock::system()->now(); }, dependencies()};
    CardLightingCoordinator lighting{&clock};
    SessionCoordinator coordinator{&monitor, lyricsRepository, cardsRepository, llm,       &cardStore,
                                   actor,    &vm,              &lighting,       story,     nullptr,
                                   &clock};

    // `existingStore`: a store file prepared by the test; none: a new one.
    explicit Rig(const QString &existingStore = {})
        : storePath(existingStore.isEmpty() ? dir.path() + QStringLiteral("/store.sqlite") : existingStore)
    {
        story->script.any.outcomes = {FakeOutcome<SongStory>::success(
            SongStory{QStringLiteral("Song"), QStringLiteral("Artist"), QStringLiteral("A story.")})};
        llm->script.any.outcomes = {FakeOutcome<QList<GoldenCard>>::success(
            {card(QStringLiteral("late"), 12), card(QStringLiteral("untimed"), std::nullopt),
             card(QStringLiteral("early"), 3), card(QStringLiteral("late too"), 12)})};
    }

    // A failed scenario shows what each faked backend was asked, song by song.
    ~Rig()
    {
        if (QTest::currentTestFailed())
            qInfo().noquote() << "Calls received. Lyrics:" << remote->scripts.received()
                              << "| cards:" << llm->script.received() << "| story:" << story->script.received();
    }

    PlayerViewModelDependencies dependencies()
    {
        PlayerViewModelDependencies d;
        d.userId = QStringLiteral("u1");
        d.settings = &settings;
        return d;
    }

    // `title`'s lookups answer with the synced lyrics, in `language`, after `delay`.
    FakeCallScript<RemoteLyricsFetchResult> &lyricsFor(const QString &title, const QString &language = QStringLiteral("en"),
                                                       std::chrono::milliseconds delay = {})
    {
        FakeCallScript<RemoteLyricsFetchResult> &script = remote->scripts[title];
        script.outcomes = {FakeOutcome<RemoteLyricsFetchResult>::success(lyrics(language), delay)};
        return script;
    }
    void play(const NowPlayingTrack &t) { source->send(t); }
    // Plays `t` and waits until the coordinator has moved on to it.
    bool switchTo(const NowPlayingTrack &t)
    {
        play(t);
        return QTest::qWaitFor([&] { return coordinator.currentKey() == t.songKey(); }, 20000);
    }
    std::optional<SongRecordSnapshot> stored(const QString &key) { return await(actor->snapshot(key)); }
    bool idle() const { return !vm.isLoadingLyrics() && !vm.isLoadingCards(); }
};

} // namespace sessionrig
