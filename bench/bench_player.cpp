// The per-frame lookups of the player screens: the active lyric line (binary search over 5,000
// lines) and the active card slot (one pass over 200 slots). Both must stay well under 2 µs.
#include "session/player/CardSlot.h"
#include "session/player/PlayerViewModel.h"

#include <QSettings>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

constexpr int kLines = 5000;
constexpr int kCards = 200;
constexpr double kSongLength = 5000.0 * 0.7;

// Positions spread over the whole song, visited in a scrambled order.
double positionAt(int i)
{
    return double((i * 7919) % 10007) / 10007.0 * kSongLength;
}

void BM_ActiveLineIndex(benchmark::State &state)
{
    QTemporaryDir dir;
    QSettings settings(dir.filePath("defaults.ini"), QSettings::IniFormat);
    PlayerViewModelDependencies deps;
    deps.settings = &settings;
    PlayerViewModel model([] { return ContinuousInstant{}; }, deps);

    QList<SyncedLine> lines;
    lines.reserve(kLines);
    for (int i = 0; i < kLines; ++i)
        lines.append(SyncedLine{i * 0.7, QStringLiteral("line %1 of the benchmark song").arg(i)});
    NowPlayingTrack track;
    track.title = QStringLiteral("Benchmark");
    track.artist = QStringLiteral("Bench");
    model.applySongState(track, LyricsResult::synced(QStringLiteral("raw"), lines), {}, QStringLiteral("en"));

    int i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(model.activeLineIndex(positionAt(i++)));
    }
}
BENCHMARK(BM_ActiveLineIndex)->Name("Player/ActiveLineIndex/5000");

void BM_ActiveSlotId(benchmark::State &state)
{
    QList<CardSlotExpander::Entry> entries;
    entries.reserve(kCards);
    for (int i = 0; i < kCards; ++i) {
        const std::optional<double> time = i % 10 == 9 ? std::nullopt : std::optional<double>(i * 17.3);
        entries.append({QStringLiteral("phrase %1|tag").arg(i), time});
    }
    const QList<CardSlot> slotList = CardSlotExpander::expand(entries);

    int i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(CardSlotExpander::activeSlotId(slotList, positionAt(i++)));
    }
}
BENCHMARK(BM_ActiveSlotId)->Name("Player/ActiveSlotId/200");

} // namespace
