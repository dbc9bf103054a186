// The backup of the Store/ library (10,000 songs × 10 cards) with 1 KB of lyrics a song:
// export to a document, and restore of that document over the same library. Counters: the
// document's size, and the operation's peak memory (resident set above what the process held
// before it) per byte of document.

#include "BenchLibrary.h"
#include "BenchMemory.h"

#include "account/BackupService.h"
#include "core/store/CardStore.h"

#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <qcoro/qcorotask.h>


namespace {

struct BackupLibrary
{
    QTemporaryDir dir;
    std::shared_ptr<StoreContainer> container;

    BackupLibrary()
    {
        container = StoreContainer::open(dir.filePath(QStringLiteral("backup-bench.store")));
        const QString lyrics = QStringLiteral("[00:01.00]%1\n").arg(QString(1010, QLatin1Char('a')));
        BenchLibrary::fill(container, lyrics.left(1024));
    }
};

BackupLibrary &library()
{
    static BackupLibrary instance;
    return instance;
}


void report(benchmark::State &state, qint64 documentBytes, qint64 baselineKiB)
{
    const qint64 peakKiB = BenchMemory::statusKiB("VmHWM:");
    state.counters["document_bytes"] = double(documentBytes);
    state.counters["peak_per_size"] = documentBytes > 0 ? double(peakKiB - baselineKiB) * 1024 / documentBytes : 0;
}

void exportLibrary(benchmark::State &state)
{
    CardStore store(library().container);
    BackupService service(&store, QStringLiteral("en"));
    qint64 size = 0;
    const qint64 baseline = BenchMemory::startMeasuring();
    for (auto _ : state) {
        const QByteArray document = QCoro::waitFor(service.exportBackup());
        size = document.size();
        benchmark::DoNotOptimize(document.constData());
    }
    report(state, size, baseline);
}

void restoreLibrary(benchmark::State &state)
{
    QByteArray document;
    {
        CardStore source(library().container);
        BackupService exporter(&source, QStringLiteral("en"));
        document = QCoro::waitFor(exporter.exportBackup());
    }
    QTemporaryDir dir;
    auto container = StoreContainer::open(dir.filePath(QStringLiteral("restored.store")));
    CardStore store(container);
    BackupService service(&store, QStringLiteral("en"));
    QCoro::waitFor(service.importBackup(document)); // every round replaces a whole library
    const qint64 baseline = BenchMemory::startMeasuring(); // the document is held already
    for (auto _ : state)
        QCoro::waitFor(service.importBackup(document));
    report(state, document.size(), baseline);
    if (store.allSongs().size() != BenchLibrary::songCount)
        state.SkipWithError("the restored library is incomplete");
}

} // namespace

BENCHMARK(exportLibrary)->Name("Backup/Export")->Unit(benchmark::kMillisecond);
BENCHMARK(restoreLibrary)->Name("Backup/Restore")->Unit(benchmark::kMillisecond);
