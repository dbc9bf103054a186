// The study library's lists on 10,000 songs with 10 cards each; one song in ten is a favourite
// with all its cards, another one in ten has every card mastered. "Build" is one fetch of the
// list into its model with the store's objects already loaded (a later visit of the tab);
// "FirstVisit" makes a fresh store each time.

#include "core/store/CardStore.h"
#include "ui/library/CardGridModel.h"
#include "ui/library/HistoryFilterModel.h"
#include "ui/library/SongListModel.h"

#include <QTemporaryDir>

#include <chrono>

#include <benchmark/benchmark.h>
#include <qcoro/qcorotask.h>

namespace {

constexpr int librarySongs = 10'000;
constexpr int libraryCardsPerSong = 10;

struct StudyLibrary
{
    QTemporaryDir dir;
    std::shared_ptr<StoreContainer> container;

    StudyLibrary()
    {
        container = StoreContainer::open(dir.filePath(QStringLiteral("library.store")));
        CardStore store(container);
        constexpr int batch = 500;
        for (int first = 0; first < librarySongs; first += batch) {
            store.transaction([&] {
                for (int i = first; i < first + batch; ++i) {
                    QList<GoldenCard> cards;
                    for (int c = 0; c < libraryCardsPerSong; ++c) {
                        GoldenCard card;
                        card.en = QStringLiteral("line %1 of track %2").arg(c).arg(i);
                        card.cn = QStringLiteral("释义 %1").arg(c);
                        card.tag = QStringLiteral("phrase");
                        cards << card;
                    }
                    SongRecord *song = store.upsertSong(QStringLiteral("band %1|track %1").arg(i),
                                                        QStringLiteral("Track %1").arg(i),
                                                        QStringLiteral("Band %1").arg(i), {}, QStringLiteral("en"),
                                                        cards);
                    const QDateTime at = QDateTime::fromSecsSinceEpoch(1'700'000'000 + i, Qt::UTC);
                    song->setLastPlayedAt(at);
                    if (i % 10 == 3) {
                        song->setIsFavorite(true);
                        song->setFavoritedAt(at);
                    }
                    for (LearnedCard *card : song->cards()) {
                        if (i % 10 == 3) {
                            card->setIsFavorite(true);
                            card->setFavoritedAt(at);
                        }
                        if (i % 10 == 7) {
                            card->setIsMastered(true);
                            card->setMasteredAt(at);
                        }
                    }
                }
            });
            store.context().reset();
        }
    }
};

StudyLibrary &studyLibrary()
{
    static StudyLibrary library;
    return library;
}

template<class Model>
void modelBuild(benchmark::State &state)
{
    CardStore store(studyLibrary().container);
    Model model;
    model.setCardStore(&store); // the first visit loads the objects
    for (auto _ : state)
        model.reload();
    state.counters["rows"] = model.count();
}

template<class Model>
void modelBuildFirstVisit(benchmark::State &state)
{
    for (auto _ : state) {
        state.PauseTiming();
        auto store = std::make_unique<CardStore>(studyLibrary().container);
        Model model;
        state.ResumeTiming();
        model.setCardStore(store.get());
        benchmark::DoNotOptimize(model.count());
        state.PauseTiming();
        store.reset();
        state.ResumeTiming();
    }
}

// One first visit of a tab on a fresh store: the seconds its list took to build.
template<class Model>
double firstVisitSeconds()
{
    auto store = std::make_unique<CardStore>(studyLibrary().container);
    Model model;
    const auto start = std::chrono::steady_clock::now();
    model.setCardStore(store.get());
    benchmark::DoNotOptimize(model.count());
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The Mastered tab's first visit against the Favourites tab's for as many cards, taken in turn
// within each iteration so that both meet the same load of the machine. The iteration's time is
// the Mastered visit's; "ratio" is Mastered over Favourites over all iterations.
void masteredOverFavoritesFirstVisit(benchmark::State &state)
{
    double favorites = 0;
    double mastered = 0;
    for (auto _ : state) {
        favorites += firstVisitSeconds<FavoriteCardsModel>();
        const double visit = firstVisitSeconds<MasteredCardsModel>();
        mastered += visit;
        state.SetIterationTime(visit);
    }
    const double n = double(state.iterations());
    state.counters["favorites_ms"] = n > 0 ? favorites * 1000 / n : 0;
    state.counters["mastered_ms"] = n > 0 ? mastered * 1000 / n : 0;
    state.counters["ratio"] = favorites > 0 ? mastered / favorites : 0;
}

void currentSongChange(benchmark::State &state)
{
    CardStore store(studyLibrary().container);
    HistoryModel history;
    history.setCardStore(&store);
    const QString keys[] = {QStringLiteral("band 12|track 12"), QStringLiteral("band 9000|track 9000")};
    int i = 0;
    for (auto _ : state)
        history.setCurrentSongKey(keys[i++ % 2]);
}

void rowFavoriteChange(benchmark::State &state)
{
    CardStore store(studyLibrary().container);
    HistoryModel history;
    history.setCardStore(&store);
    SongRecord *song = history.songAt(100);
    // The heart's write runs on the store's background writer; each round waits until it has
    // landed and the row shows it.
    for (auto _ : state)
        QCoro::waitFor(store.toggleFavoriteInBackground(song));
}

void historyFilter(benchmark::State &state)
{
    CardStore store(studyLibrary().container);
    HistoryModel history;
    HistoryFilterModel filter;
    history.setCardStore(&store);
    filter.setSongs(&history);
    // One keystroke on a search already under way: the titles are folded.
    filter.setSearchText(QStringLiteral("track 12"));
    const QString texts[] = {QStringLiteral("track 123"), QStringLiteral("track 12")};
    int i = 0;
    for (auto _ : state)
        filter.setSearchText(texts[i++ % 2]);
    state.counters["rows"] = filter.rowCount();
}

void historyFilterFirstKeystroke(benchmark::State &state)
{
    CardStore store(studyLibrary().container);
    HistoryModel history;
    HistoryFilterModel filter;
    history.setCardStore(&store);
    filter.setSongs(&history);
    for (auto _ : state) {
        state.PauseTiming();
        filter.setSearchText(QString());
        history.reload(); // forgets the folded titles
        state.ResumeTiming();
        filter.setSearchText(QStringLiteral("t"));
    }
}

} // namespace

BENCHMARK(modelBuild<HistoryModel>)->Name("Library/HistoryModelBuild")->Unit(benchmark::kMillisecond);
BENCHMARK(modelBuildFirstVisit<HistoryModel>)->Name("Library/HistoryModelBuildFirstVisit")->Unit(benchmark::kMillisecond);
BENCHMARK(modelBuild<FavoriteCardsModel>)->Name("Library/FavoriteCardsModelBuild")->Unit(benchmark::kMillisecond);
BENCHMARK(modelBuildFirstVisit<FavoriteCardsModel>)
    ->Name("Library/FavoriteCardsModelBuildFirstVisit")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(modelBuild<MasteredCardsModel>)->Name("Library/MasteredModelBuild")->Unit(benchmark::kMillisecond);
BENCHMARK(modelBuildFirstVisit<MasteredCardsModel>)
    ->Name("Library/MasteredModelBuildFirstVisit")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(masteredOverFavoritesFirstVisit)
    ->Name("Library/MasteredOverFavoritesFirstVisit")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(currentSongChange)->Name("Library/CurrentSongChange")->Unit(benchmark::kMicrosecond);
BENCHMARK(rowFavoriteChange)->Name("Library/RowFavoriteChange")->Unit(benchmark::kMicrosecond);
BENCHMARK(historyFilter)->Name("Library/HistoryFilter")->Unit(benchmark::kMillisecond);
BENCHMARK(historyFilterFirstKeystroke)->Name("Library/HistoryFilterFirstKeystroke")->Unit(benchmark::kMillisecond);
