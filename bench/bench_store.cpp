// The study store on a library of 10,000 songs with 10 cards each: every card of one song in
// ten mastered; one song in ten a favourite, with two favourite cards.
// The pipeline's writes and reads go through CardStoreActor (its thread hop included);
// the library screens' queries through CardStore, with its objects already loaded and
// with a fresh store.

#include "core/store/CardStore.h"
#include "core/store/CardStoreActor.h"

#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <qcoro/qcorotask.h>

namespace {

constexpr int songCount = 10'000;
constexpr int cardsPerSong = 10;

QString keyOf(int i)
{
    return QStringLiteral("artist %1|song %1").arg(i);
}

QList<GoldenCard> cardsFor(int song, int count)
{
    QList<GoldenCard> cards;
    for (int c = 0; c < count; ++c) {
        GoldenCard card;
        card.en = QStringLiteral("phrase %1 of song %2").arg(c).arg(song);
        card.cn = QStringLiteral("短语 %1").arg(c);
        card.note = QStringLiteral("A note that explains the phrase in a sentence or two.");
        card.example = QStringLiteral("An example sentence that uses the phrase.");
        card.tag = c % 2 ? QStringLiteral("idiom") : QStringLiteral("phrase");
        card.lineTimestamp = 10.0 * c;
        card.pronunciationHint = PronunciationHint{PronunciationKind::linking, QStringLiteral("link the words"),
                                                   std::nullopt};
        card.listeningDifficulty = ListeningDifficulty::medium;
        cards.append(card);
    }
    return cards;
}

struct Library
{
    QTemporaryDir dir;
    std::shared_ptr<StoreContainer> container;

    Library()
    {
        container = StoreContainer::open(dir.filePath(QStringLiteral("bench.store")));
        CardStore store(container);
        constexpr int batch = 500;
        for (int first = 0; first < songCount; first += batch) {
            store.transaction([&] {
                for (int i = first; i < first + batch; ++i) {
                    SongRecord *song = store.upsertSong(keyOf(i), QStringLiteral("Song %1").arg(i),
                                                        QStringLiteral("Artist %1").arg(i),
                                                        QStringLiteral("[00:01.00]la"), QStringLiteral("en"),
                                                        cardsFor(i, cardsPerSong));
                    const QDateTime at = QDateTime::fromSecsSinceEpoch(1'700'000'000 + i, Qt::UTC);
                    song->setLastPlayedAt(at);
                    if (i % 10 == 0) {
                        for (LearnedCard *card : song->cards()) {
                            card->setIsMastered(true);
                            card->setMasteredAt(at);
                        }
                    }
                    if (i % 10 == 5) {
                        song->setIsFavorite(true);
                        song->setFavoritedAt(at);
                        for (LearnedCard *card : song->cards().mid(0, 2)) {
                            card->setIsFavorite(true);
                            card->setFavoritedAt(at);
                        }
                    }
                }
            });
            store.context().reset(); // keep the builder's memory flat
        }
    }
};

Library &library()
{
    static Library instance;
    return instance;
}

template<class T>
T wait(QCoro::Task<T> task)
{
    return QCoro::waitFor(std::move(task));
}

void upsertSong20Cards(benchmark::State &state)
{
    CardStoreActor actor(library().container);
    const QList<GoldenCard> cards = cardsFor(songCount + 1, 20);
    for (auto _ : state) {
        SongRecordSnapshot snap = wait(actor.upsertSong(keyOf(songCount + 1), QStringLiteral("New"),
                                                        QStringLiteral("Artist"), QStringLiteral("[00:01.00]la"),
                                                        QStringLiteral("en"), cards));
        benchmark::DoNotOptimize(snap);
    }
}

// A song the library has not seen, each iteration a new one. The new songs are deleted
// afterwards (not timed), so the later figures still see a library of 10,000 songs.
void insertSong20Cards(benchmark::State &state)
{
    CardStoreActor actor(library().container);
    const int first = songCount + 2;
    int next = first;
    const QList<GoldenCard> cards = cardsFor(next, 20);
    for (auto _ : state) {
        const int song = next++;
        SongRecordSnapshot snap = wait(actor.upsertSong(keyOf(song), QStringLiteral("New %1").arg(song),
                                                        QStringLiteral("Artist"), QStringLiteral("[00:01.00]la"),
                                                        QStringLiteral("en"), cards));
        benchmark::DoNotOptimize(snap);
    }
    // After the timed loop.
    CardStore store(library().container);
    store.transaction([&] {
        for (int song = first; song < next; ++song) {
            if (SongRecord *record = store.record(keyOf(song)))
                store.context().remove(record);
        }
    });
}

void snapshotByKey(benchmark::State &state)
{
    CardStoreActor actor(library().container);
    int i = 0;
    for (auto _ : state) {
        auto snap = wait(actor.snapshot(keyOf(i)));
        benchmark::DoNotOptimize(snap);
        i = (i + 7919) % songCount;
    }
}

void allSongs(benchmark::State &state)
{
    CardStore store(library().container);
    store.allSongs();
    for (auto _ : state)
        benchmark::DoNotOptimize(store.allSongs());
}

// The first query of a store that holds no objects yet (opening and closing the store
// are not timed).
void allSongsFreshStore(benchmark::State &state)
{
    for (auto _ : state) {
        state.PauseTiming();
        auto store = std::make_unique<CardStore>(library().container);
        state.ResumeTiming();
        benchmark::DoNotOptimize(store->allSongs());
        state.PauseTiming();
        store.reset();
        state.ResumeTiming();
    }
}

void masteredCards(benchmark::State &state)
{
    CardStore store(library().container);
    store.masteredCards();
    for (auto _ : state)
        benchmark::DoNotOptimize(store.masteredCards());
}

void masteredCardsFreshStore(benchmark::State &state)
{
    for (auto _ : state) {
        state.PauseTiming();
        auto store = std::make_unique<CardStore>(library().container);
        state.ResumeTiming();
        benchmark::DoNotOptimize(store->masteredCards());
        state.PauseTiming();
        store.reset();
        state.ResumeTiming();
    }
}

// The favourites screen loads the favourite songs and cards together.
void favorites(benchmark::State &state)
{
    CardStore store(library().container);
    store.favoriteSongs();
    store.favoriteCards();
    for (auto _ : state) {
        benchmark::DoNotOptimize(store.favoriteSongs());
        benchmark::DoNotOptimize(store.favoriteCards());
    }
}

void favoritesFreshStore(benchmark::State &state)
{
    for (auto _ : state) {
        state.PauseTiming();
        auto store = std::make_unique<CardStore>(library().container);
        state.ResumeTiming();
        benchmark::DoNotOptimize(store->favoriteSongs());
        benchmark::DoNotOptimize(store->favoriteCards());
        state.PauseTiming();
        store.reset();
        state.ResumeTiming();
    }
}

} // namespace

BENCHMARK(upsertSong20Cards)->Name("Store/UpsertSong20Cards")->Unit(benchmark::kMillisecond);
BENCHMARK(insertSong20Cards)->Name("Store/InsertSong20Cards")->Unit(benchmark::kMillisecond);
BENCHMARK(snapshotByKey)->Name("Store/SnapshotByKey")->Unit(benchmark::kMillisecond);
BENCHMARK(allSongs)->Name("Store/AllSongs")->Unit(benchmark::kMillisecond);
BENCHMARK(allSongsFreshStore)->Name("Store/AllSongsFreshStore")->Unit(benchmark::kMillisecond);
BENCHMARK(masteredCards)->Name("Store/MasteredCards")->Unit(benchmark::kMillisecond);
BENCHMARK(masteredCardsFreshStore)->Name("Store/MasteredCardsFreshStore")->Unit(benchmark::kMillisecond);
BENCHMARK(favorites)->Name("Store/Favorites")->Unit(benchmark::kMillisecond);
BENCHMARK(favoritesFreshStore)->Name("Store/FavoritesFreshStore")->Unit(benchmark::kMillisecond);
