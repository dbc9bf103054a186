#pragma once

// A player graph on a hand-driven clock for the lyrics tests: the real view model, lighting
// coordinator, toast centre and clock handle, all on one ManualContinuousClock.
#include "platform/Clock.h"
#include "session/ToastCenter.h"
#include "session/player/CardLightingCoordinator.h"
#include "session/player/PlayerViewModel.h"
#include "session/qml/ClockHandle.h"
#include "ui/design/FrameClock.h"

#include <QCoreApplication>
#include <QSettings>
#include <QTemporaryDir>

#include <chrono>
#include <memory>

namespace lyricstest {

struct PlayerGraph
{
    ManualContinuousClock clock;
    QTemporaryDir dir;
    QSettings settings{dir.filePath(QStringLiteral("defaults.ini")), QSettings::IniFormat};
    PlayerViewModel vm{[this] { return clock.now(); }, dependencies()};
    CardLightingCoordinator lighting{&clock};
    ToastCenter toasts{&clock};
    FrameClock frames{&clock};
    ClockHandle clocks{&clock};

    PlayerGraph() { clocks.setFrameClock(&frames); }

    PlayerViewModelDependencies dependencies()
    {
        PlayerViewModelDependencies deps;
        deps.userId = QStringLiteral("user-1");
        deps.settings = &settings;
        deps.debounceClock = &clock;
        return deps;
    }

    static NowPlayingTrack track(const QString &title = QStringLiteral("Song"), bool playing = true)
    {
        NowPlayingTrack t;
        t.title = title;
        t.artist = QStringLiteral("Artist");
        t.album = QStringLiteral("Album");
        t.duration = 200;
        t.isPlaying = playing;
        return t;
    }

    // `count` lines `spacing` seconds apart from 0, texts "Line <i> words here".
    static QList<SyncedLine> lines(int count, double spacing = 2.5)
    {
        QList<SyncedLine> result;
        for (int i = 0; i < count; ++i)
            result.append({i * spacing, QStringLiteral("Line %1 has some words").arg(i)});
        return result;
    }

    // A new song with these lines, playing from `position`.
    void startSong(const QList<SyncedLine> &songLines, double position, const QString &title = QStringLiteral("Song"))
    {
        const NowPlayingTrack t = track(title);
        vm.resetForNewSong(t);
        seek(position);
        vm.applySongState(t, LyricsResult::synced(QStringLiteral("[raw]"), songLines), {}, QStringLiteral("en"));
    }

    void seek(double position, double rate = 1.0)
    {
        vm.setAnchor(SampleAnchor{clock.now(), position, rate});
    }

    void advance(std::chrono::milliseconds d)
    {
        // In steps no longer than a tick, so every sleeper wakes at its own time.
        const auto step = std::chrono::milliseconds(50);
        while (d.count() > 0) {
            const auto s = std::min(step, d);
            clock.advance(s);
            d -= s;
            QCoreApplication::processEvents();
            QCoreApplication::processEvents();
        }
    }
};

} // namespace lyricstest
