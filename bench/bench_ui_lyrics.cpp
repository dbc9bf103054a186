// The lyrics list's 0.1 s sample over a 300-line song: a tick inside one line (nothing to
// announce) and a tick that moves to another line (rows announced, scroll decided).
#include "session/player/PlayerViewModel.h"
#include "session/qml/ClockHandle.h"
#include "ui/player/LyricsViewController.h"

#include <QSettings>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

constexpr int kLines = 300;
constexpr double kSpacing = 2.5;

struct LyricsBench
{
    QTemporaryDir dir;
    QSettings settings{dir.filePath("defaults.ini"), QSettings::IniFormat};
    // Outlives the bench: the controller's sleeper, cancelled when the controller goes, wakes on
    // a later turn of the event loop (in whichever benchmark runs next) and reads the clock then.
    ManualContinuousClock &clock = *new ManualContinuousClock;
    ClockHandle clocks{&clock};
    PlayerViewModel vm{[this] { return clock.now(); }, dependencies()};
    LyricsViewController controller;

    PlayerViewModelDependencies dependencies()
    {
        PlayerViewModelDependencies deps;
        deps.settings = &settings;
        deps.debounceClock = &clock;
        return deps;
    }

    LyricsBench()
    {
        QList<SyncedLine> lines;
        for (int i = 0; i < kLines; ++i)
            lines.append(SyncedLine{i * kSpacing, QStringLiteral("line %1 of the benchmark song").arg(i)});
        NowPlayingTrack track;
        track.title = QStringLiteral("Benchmark");
        track.artist = QStringLiteral("Bench");
        track.isPlaying = true;
        vm.resetForNewSong(track);
        vm.applySongState(track, LyricsResult::synced(QStringLiteral("raw"), lines), {}, QStringLiteral("en"));
        controller.classBegin();
        controller.setClocks(&clocks);
        controller.setVm(&vm);
        controller.componentComplete();
        controller.setViewportHeight(600);
    }

    void at(double position) { vm.setAnchor(SampleAnchor{clock.now(), position, 0.0}); }
};

void BM_LyricsTick(benchmark::State &state)
{
    LyricsBench bench;
    // Inside line 150, where no past line is in its fade.
    const double positions[2] = {376.0, 377.0};
    int i = 0;
    for (auto _ : state) {
        state.PauseTiming();
        bench.at(positions[i++ & 1]);
        state.ResumeTiming();
        bench.controller.refreshActiveLineSnapshot(false);
    }
}
BENCHMARK(BM_LyricsTick)->Name("Ui/LyricsTick/300");

void BM_LyricsLineChange(benchmark::State &state)
{
    LyricsBench bench;
    const double positions[2] = {376.0, 378.6};
    int i = 0;
    for (auto _ : state) {
        state.PauseTiming();
        bench.at(positions[i++ & 1]);
        state.ResumeTiming();
        bench.controller.refreshActiveLineSnapshot(false);
    }
}
BENCHMARK(BM_LyricsLineChange)->Name("Ui/LyricsLineChange/300");

} // namespace
