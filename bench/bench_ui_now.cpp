// The Now tab's playback path without a window: one 0.2 s tick within a lyric line (sample the
// position, find the line, check for a restart, nothing to publish) and one publish (a new line:
// the lit slot and every row's lit, dimmed and approach values), over a song of 30 cards.

#include "core/LearnedCardVM.h"
#include "core/store/CardStore.h"
#include "core/store/StoreContainer.h"
#include "session/player/CardLightingCoordinator.h"
#include "session/player/PlayerViewModel.h"
#include "session/qml/ClockHandle.h"
#include "ui/player/NowViewController.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QSettings>
#include <QTemporaryDir>

namespace {

struct NowBench
{
    ManualContinuousClock clock;
    ManualWallClock wall;
    QTemporaryDir dir;
    QSettings settings{dir.filePath(QStringLiteral("s.ini")), QSettings::IniFormat};
    std::unique_ptr<CardStore> store;
    std::unique_ptr<PlayerViewModel> vm;
    CardLightingCoordinator lighting{&clock};
    ClockHandle clocks{&clock, &wall};
    std::unique_ptr<NowViewController> ctl;

    explicit NowBench(int cardCount)
    {
        store = std::make_unique<CardStore>(StoreContainer::open(dir.filePath(QStringLiteral("b.store"))), &wall);
        PlayerViewModelDependencies deps;
        deps.settings = &settings;
        deps.debounceClock = &clock;
        deps.wallClock = &wall;
        vm = std::make_unique<PlayerViewModel>([this] { return clock.now(); }, deps);
        NowPlayingTrack track;
        track.title = QStringLiteral("Bench");
        track.artist = QStringLiteral("Artist");
        track.duration = 400;
        track.isPlaying = true;
        QList<GoldenCard> cards;
        for (int i = 0; i < cardCount; ++i) {
            GoldenCard card;
            card.en = QStringLiteral("phrase %1").arg(i);
            card.tag = QStringLiteral("t");
            card.lineTimestamp = 10.0 * i;
            cards << card;
        }
        SongRecord *record = store->upsertSong(track.songKey(), track.title, track.artist, QString(),
                                               QStringLiteral("en"), cards);
        QList<SyncedLine> lines;
        for (int i = 0; i < 4 * cardCount; ++i)
            lines << SyncedLine{2.5 * i, QStringLiteral("line")};
        vm->resetForNewSong(track);
        vm->setLyricLines(lines);
        QList<LearnedCardVM> vms;
        for (LearnedCard *card : record->cards())
            vms << LearnedCardVM::fromCard(*card);
        vm->replaceCards(vms);
        vm->setAnchor(SampleAnchor{clock.now(), 100.1, 1.0});
        ctl = std::make_unique<NowViewController>();
        ctl->setVm(vm.get());
        ctl->setCardStore(store.get());
        ctl->setCardLighting(&lighting);
        ctl->setClocks(&clocks);
        ctl->componentComplete();
        QCoreApplication::processEvents();
    }
    ~NowBench()
    {
        ctl.reset();
        QCoreApplication::processEvents();
    }
};

void nowTick(benchmark::State &state)
{
    NowBench bench(int(state.range(0)));
    bench.ctl->refreshCardPlaybackSnapshot(true);
    for (auto _ : state)
        bench.ctl->refreshCardPlaybackSnapshot(false); // the line is unchanged: nothing is published
}

void nowPublish(benchmark::State &state)
{
    NowBench bench(int(state.range(0)));
    double t = 100.1;
    for (auto _ : state) {
        // Alternate between two lines with different lit slots, so each publish moves the light.
        t = t < 105 ? 112.6 : 100.1;
        bench.vm->setAnchor(SampleAnchor{bench.clock.now(), t, 1.0});
        bench.ctl->refreshCardPlaybackSnapshot(false);
    }
}

} // namespace

BENCHMARK(nowTick)->Name("Ui/NowTick")->Arg(30)->Unit(benchmark::kMicrosecond);
BENCHMARK(nowPublish)->Name("Ui/NowPublish")->Arg(30)->Unit(benchmark::kMicrosecond);
