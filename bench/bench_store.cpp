// The study store on a library of 10,000 songs with 10 cards each: every card of one song in
// ten mastered; one song in ten a favourite, with two favourite cards.
// The pipeline's writes and reads go through CardStoreActor (its thread hop included);
// the library screens' queries through CardStore, with its objects already loaded and
// with a fresh store.

#include "BenchLibrary.h"

#include "core/store/CardStore.h"
#include "core/store/CardStoreActor.h"

#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <qcoro/qcorotask.h>

namespace {

using BenchLibrary::cardsFor;
using BenchLibrary::keyOf;
using BenchLibrary::songCount;

struct Library
{
    QTemporaryDir dir;
    std::shared_ptr<StoreContainer> container;

    Library()
    {
        container = StoreContainer::open(dir.filePath(QStringLiteral("bench.store")));
        BenchLibrary::fill(container, QStringLiteral("[00:01.00]la"));
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
