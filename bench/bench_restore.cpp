// A backup restored while the window shows the library: a library of N songs (3 cards each, half
// a kilobyte of lyrics a song; one in ten a favourite, one in ten mastered) open in one tab of the
// study panel is replaced by another of N songs with other keys. Counters:
// - max_pause_ms: the event loop's longest pause from the start of the import until it returns
//   (a zero-interval timer notes every turn of the loop);
// - shows_new: 1 when, the moment the import returns, every list shows the new library;
// - peak_per_size: the restore's peak resident memory above the window's working set (measured
//   before the document was made), per byte of document.
// Restore/ToggleDuringRestore: a heart tapped 1 s into a restore that holds the store's write
// lock 20 s (the document is read slowly); counters: the tap's event-loop pause, whether the toggle
// was refused with a message, and the loop's longest pause over the whole restore.

#include "BenchMemory.h"

#include "account/BackupReader.h"
#include "account/BackupService.h"
#include "core/store/CardStore.h"
#include "core/store/CardStoreActor.h"
#include "ui/library/CardGridModel.h"
#include "ui/library/SongListModel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <benchmark/benchmark.h>
#include <qcoro/qcorotask.h>

#include <time.h>

namespace {

qint64 threadCpuNs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return qint64(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

// The longest gap between two turns of the event loop while it runs, in wall time and in the
// thread's own processor time (on a busy machine a turn's wall time includes waiting for a core).
class PauseProbe
{
public:
    PauseProbe()
    {
        m_timer.setInterval(0);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            const qint64 cpu = threadCpuNs();
            m_longestCpu = std::max(m_longestCpu, cpu - m_lastCpu);
            m_lastCpu = cpu;
            m_longest = std::max(m_longest, now - m_last);
            m_last = now;
        });
    }
    void start()
    {
        m_longest = 0;
        m_longestCpu = 0;
        m_clock.start();
        m_last = 0;
        m_lastCpu = threadCpuNs();
        m_timer.start();
    }
    // Includes the stretch from the last turn to now (a pause the loop has not ended yet).
    double stopMs()
    {
        m_timer.stop();
        m_longest = std::max(m_longest, m_clock.nsecsElapsed() - m_last);
        m_longestCpu = std::max(m_longestCpu, threadCpuNs() - m_lastCpu);
        return double(m_longest) / 1e6;
    }
    double longestCpuMs() const { return double(m_longestCpu) / 1e6; }

private:
    qint64 m_lastCpu = 0;
    qint64 m_longestCpu = 0;
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_longest = 0;
};

// A backup document of `songs` songs whose keys start with `prefix`.
QByteArray makeDocument(int songs, const QByteArray &prefix)
{
    const QByteArray lyrics = QByteArray("[00:01.00]") + QByteArray(500, 'l');
    QByteArray doc;
    doc.reserve(qsizetype(songs) * 1600);
    doc += R"({"appBuild": "bench", "exportedAt": "2024-05-01T10:00:00Z", "namespaces": {"en": {"songs": [)";
    for (int i = 0; i < songs; ++i) {
        const QByteArray n = QByteArray::number(i);
        if (i)
            doc += ',';
        doc += R"({"artist": "Artist )" + n + R"(", "cards": [)";
        for (int c = 0; c < 3; ++c) {
            const QByteArray m = QByteArray::number(c);
            if (c)
                doc += ',';
            doc += R"({"cn": "释义 )" + m + R"(", "en": "phrase )" + m + " of " + n
                + R"(", "example": "An example sentence.", "isFavorite": )" + (c == 0 && i % 10 == 3 ? "true" : "false")
                + R"(, "isMastered": )" + (i % 10 == 7 ? "true" : "false")
                + (i % 10 == 7 ? R"(, "masteredAt": "2024-01-01T00:00:00Z")" : "")
                + (c == 0 && i % 10 == 3 ? R"(, "favoritedAt": "2024-01-01T00:00:00Z")" : "")
                + R"(, "note": "A note.", "tag": "phrase", "lineTimestamp": )" + QByteArray::number(10 * c) + "}";
        }
        doc += R"(], "isFavorite": )" + QByteArray(i % 10 == 3 ? "true" : "false")
            + (i % 10 == 3 ? R"(, "favoritedAt": "2024-01-01T00:00:00Z")" : "") + R"(, "key": ")" + prefix + " " + n
            + "|song " + n + R"(", "lastPlayedAt": "2024-02-01T00:00:00Z", "lyrics": ")" + lyrics
            + R"(", "playCount": 1, "title": "Song )" + n + "\"}";
    }
    doc += "]}}}";
    return doc;
}


// The study panel with one tab open (it builds a tab's lists when the tab is shown): 0 History,
// 1 Favourites (its two lists), 2 Mastered.
struct Window
{
    explicit Window(int tab)
        : tab(tab)
    {
    }

    int tab;
    HistoryModel history;
    FavoriteSongsModel favoriteSongs;
    FavoriteCardsModel favoriteCards;
    MasteredCardsModel mastered;

    void open(CardStore *store)
    {
        if (tab == 0)
            history.setCardStore(store);
        if (tab == 1) {
            favoriteSongs.setCardStore(store);
            favoriteCards.setCardStore(store);
        }
        if (tab == 2)
            mastered.setCardStore(store);
    }
    // The open tab shows the library whose keys start with `prefix`.
    bool shows(int songs, const QString &prefix) const
    {
        const auto current = [&](const SongRecord *song) {
            return song && !song->isDeleted() && song->key().startsWith(prefix);
        };
        switch (tab) {
        case 0:
            return history.count() == songs && current(history.songAt(0));
        case 1:
            return favoriteSongs.count() == songs / 10 && favoriteCards.count() == songs / 10
                && current(favoriteSongs.songAt(0));
        default:
            return mastered.count() == 3 * (songs / 10);
        }
    }
};

void restoreIntoOpenWindow(benchmark::State &state)
{
    const int songs = int(state.range(0));
    const int tab = int(state.range(1));
    QTemporaryDir dir;
    auto container = StoreContainer::open(dir.filePath(QStringLiteral("restore.store")));
    CardStore store(container);
    BackupService service(&store, QStringLiteral("en"));
    QCoro::waitFor(service.importBackup(makeDocument(songs, "a")));
    Window window(tab);
    window.open(&store);

    PauseProbe probe;
    double longest = 0;
    double longestCpu = 0;
    double peakPerSize = 0;
    bool showsNew = true;
    int round = 0;
    for (auto _ : state) {
        const bool toB = round++ % 2 == 0;
        state.PauseTiming();
        const qint64 windowKiB = BenchMemory::startMeasuring();
        const QByteArray document = makeDocument(songs, toB ? "b" : "a");
        state.ResumeTiming();
        probe.start();
        QCoro::waitFor(service.importBackup(document));
        const double pause = probe.stopMs();
        state.PauseTiming();
        longest = std::max(longest, pause);
        longestCpu = std::max(longestCpu, probe.longestCpuMs());
        showsNew = showsNew && window.shows(songs, toB ? QStringLiteral("b ") : QStringLiteral("a "));
        peakPerSize = std::max(peakPerSize, double(BenchMemory::statusKiB("VmHWM:") - windowKiB) * 1024 / double(document.size()));
        state.counters["document_bytes"] = double(document.size());
        state.ResumeTiming();
    }
    state.counters["max_pause_ms"] = longest;
    state.counters["max_pause_cpu_ms"] = longestCpu;
    state.counters["shows_new"] = showsNew ? 1 : 0;
    state.counters["peak_per_size"] = peakPerSize;
}

// Hands the songs on slowly, so that a small document holds the store's write lock as long as
// a very large one would.
class SlowWriter final : public LibraryWriter
{
public:
    SlowWriter(LibraryWriter &out, std::chrono::microseconds perSong)
        : m_out(out)
        , m_perSong(perSong)
    {
    }
    void clear() override { m_out.clear(); }
    void write(LibrarySongRow &&song) override
    {
        QThread::usleep(quint64(m_perSong.count()));
        m_out.write(std::move(song));
    }

private:
    LibraryWriter &m_out;
    std::chrono::microseconds m_perSong;
};

QCoro::Task<void> restoreAndTakeIn(CardStore *store, LibrarySource source)
{
    co_await store->backgroundWriter()->replaceLibrary(std::move(source));
    co_await store->externalChangesTakenIn();
}

void toggleDuringRestore(benchmark::State &state)
{
    constexpr int songs = 2'000;
    constexpr std::chrono::microseconds perSong(10'000); // 20 s in all
    QTemporaryDir dir;
    auto container = StoreContainer::open(dir.filePath(QStringLiteral("toggle.store")));
    CardStore store(container);
    BackupService service(&store, QStringLiteral("en"));
    QCoro::waitFor(service.importBackup(makeDocument(songs, "a")));
    HistoryModel history;
    history.setCardStore(&store);
    int failures = 0;
    QObject::connect(&store, &CardStore::backgroundWriteFailed, [&failures](std::exception_ptr) { ++failures; });

    double tapCall = 0, tapPause = 0, tapPauseCpu = 0, wholePause = 0, restoreSeconds = 0;
    bool refused = true;
    bool first = true;
    for (auto _ : state) {
        state.PauseTiming();
        const QByteArray document = makeDocument(songs, first ? "b" : "a");
        const QByteArray old = first ? "a " : "b ";
        first = !first;
        state.ResumeTiming();
        LibrarySource source = [document](LibraryWriter &out) {
            SlowWriter slow(out, perSong);
            BackupReader::read(document, "en", slow);
        };
        SongRecord *tapped = history.songAt(5);
        const int failuresBefore = failures;
        PauseProbe whole, tap;
        QElapsedTimer clock;
        clock.start();
        whole.start();
        QTimer::singleShot(1000, [&] {
            tap.start();
            QElapsedTimer call;
            call.start();
            history.toggleFavorite(tapped); // the heart of a song the restore is about to replace
            tapCall = double(call.nsecsElapsed()) / 1e6;
            QTimer::singleShot(1000, [&] {
                tapPause = std::max(tapPause, tap.stopMs());
                tapPauseCpu = std::max(tapPauseCpu, tap.longestCpuMs());
            });
        });
        QCoro::waitFor(restoreAndTakeIn(&store, source));
        restoreSeconds = double(clock.elapsed()) / 1e3;
        // The toggle was queued behind the restore: it lands now, and finds its row replaced.
        QEventLoop loop;
        QTimer::singleShot(10'000, &loop, &QEventLoop::quit);
        QObject::connect(&store, &CardStore::backgroundWriteFailed, &loop, &QEventLoop::quit);
        if (failures == failuresBefore)
            loop.exec();
        wholePause = std::max(wholePause, whole.stopMs());
        refused = refused && failures == failuresBefore + 1;
        if (!history.songAt(0) || history.songAt(0)->key().startsWith(QString::fromUtf8(old)))
            state.SkipWithError("the window does not show the restored library");
    }
    state.counters["restore_s"] = restoreSeconds;
    state.counters["tap_call_ms"] = tapCall;
    state.counters["tap_max_pause_ms"] = tapPause;
    state.counters["tap_max_pause_cpu_ms"] = tapPauseCpu;
    state.counters["restore_max_pause_ms"] = wholePause;
    state.counters["refused_with_message"] = refused ? 1 : 0;
}

} // namespace

BENCHMARK(toggleDuringRestore)->Name("Restore/ToggleDuringRestore")->Iterations(1)->Unit(benchmark::kMillisecond);

BENCHMARK(restoreIntoOpenWindow)
    ->Name("Restore/IntoOpenWindow")
    ->ArgNames({"songs", "tab"})
    ->ArgsProduct({{2'000, 8'000, 50'000}, {0, 1, 2}})
    ->Iterations(2)
    ->Unit(benchmark::kMillisecond);
