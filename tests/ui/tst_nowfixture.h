#pragma once

// The Now tab's world on hand-driven clocks: a real view model, lighting coordinator and toast
// center, and a temporary store holding the songs a test plays.

#include "../store/StoreTestUtil.h"

#include "core/LearnedCardVM.h"
#include "core/store/CardStore.h"
#include "session/ToastCenter.h"
#include "session/player/CardLightingCoordinator.h"
#include "session/player/PlayerViewModel.h"
#include "session/qml/ClockHandle.h"

#include <QCoreApplication>
#include <QSettings>
#include <QTemporaryDir>

#include <chrono>
#include <memory>

struct NowWorld
{
    ManualContinuousClock clock;
    ManualWallClock wall;
    QTemporaryDir settingsDir;
    QSettings settings{settingsDir.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat};
    TempStore files;
    std::unique_ptr<CardStore> store = std::make_unique<CardStore>(files.container, &wall);
    PlayerViewModel vm{[this] { return clock.now(); }, dependencies()};
    CardLightingCoordinator lighting{&clock};
    ToastCenter toasts{&clock};
    ClockHandle clocks{&clock, &wall};

    PlayerViewModelDependencies dependencies()
    {
        PlayerViewModelDependencies deps;
        deps.settings = &settings;
        deps.debounceClock = &clock;
        deps.wallClock = &wall;
        return deps;
    }

    static NowPlayingTrack track(const QString &title, double duration = 200.0)
    {
        NowPlayingTrack t;
        t.title = title;
        t.artist = QStringLiteral("Artist");
        t.duration = duration;
        t.isPlaying = true;
        return t;
    }
    static QString key(const QString &title) { return track(title).songKey(); }

    // Stores the song with its cards (en = "card<i>", tag "t", at the given times; NaN = untimed).
    SongRecord *storeSong(const QString &title, const QList<double> &cardTimes)
    {
        QList<GoldenCard> cards;
        for (qsizetype i = 0; i < cardTimes.size(); ++i) {
            const double t = cardTimes.at(i);
            cards << golden(QStringLiteral("card%1").arg(i), QStringLiteral("t"), QStringLiteral("cn"),
                            std::isnan(t) ? std::nullopt : std::optional<double>(t));
        }
        return store->upsertSong(key(title), title, QStringLiteral("Artist"), QStringLiteral("lyrics"),
                                 QStringLiteral("en"), cards);
    }

    // A new song playing from `elapsed`, with lines every `lineStep` seconds up to `lastLine`,
    // and the stored song's cards in the view model.
    void play(const QString &title, double elapsed, double duration = 200.0, double lastLine = 150.0,
              double lineStep = 1.0)
    {
        vm.resetForNewSong(track(title, duration));
        QList<SyncedLine> lines;
        for (double t = 0; t <= lastLine + 1e-9; t += lineStep)
            lines << SyncedLine{t, QStringLiteral("line %1").arg(t)};
        vm.setLyricLines(lines);
        seek(elapsed);
        if (SongRecord *record = store->record(key(title))) {
            QList<LearnedCardVM> cards;
            for (LearnedCard *card : record->cards())
                cards << LearnedCardVM::fromCard(*card);
            vm.replaceCards(cards);
        }
        vm.setIsLoadingLyrics(false);
        settle();
    }

    void seek(double elapsed) { vm.setAnchor(SampleAnchor{clock.now(), elapsed, 1.0}); }

    // Moves the clock in 0.1 s steps, letting every woken sleeper and queued call run.
    void advance(std::chrono::milliseconds total)
    {
        using namespace std::chrono_literals;
        for (auto done = 0ms; done < total; done += 100ms) {
            clock.advance(std::min(100ms, total - done));
            settle();
        }
    }
    static void settle()
    {
        for (int i = 0; i < 4; ++i)
            QCoreApplication::processEvents();
    }
};
