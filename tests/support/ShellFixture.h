#pragma once

#include "AuthFixture.h"
#include "ItemSearch.h"

#include "app/AppState.h"
#include "app/ApplicationShell.h"
#include "diagnostics/MainThreadWatchdog.h"
#include "diagnostics/RenderLoopProbe.h"
#include "session/nowplaying/NowPlayingSource.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>

// What the shell's tests observe of the now-playing sources the graph makes: how many were made,
// started, stopped and destroyed, and the stream of the latest one (to feed it tracks).
struct SourceLog
{
    int made = 0;
    int started = 0;
    int stopped = 0;
    int destroyed = 0;
    Channel<std::optional<NowPlayingTrack>> latest;
};

class LoggingNowPlayingSource final : public NowPlayingSource
{
public:
    explicit LoggingNowPlayingSource(std::shared_ptr<SourceLog> log) : m_log(std::move(log))
    {
        ++m_log->made;
        m_log->latest = m_stream;
    }
    ~LoggingNowPlayingSource() override { ++m_log->destroyed; }
    Channel<std::optional<NowPlayingTrack>> trackPublisher() const override { return m_stream; }
    void start() override { ++m_log->started; }
    void stop() override
    {
        ++m_log->stopped;
        m_stream.finish();
    }

private:
    std::shared_ptr<SourceLog> m_log;
    Channel<std::optional<NowPlayingTrack>> m_stream;
};

// A file of the demo song the stand-in server ships ("lyrics.lrc", "cards.json", "story.txt").
inline QByteArray demoSongFile(const QString &name)
{
    QFile file(QStringLiteral(CANTORELLA_TEST_DATA_DIR "/../../demo/songs/amazing-grace/") + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The backend's answers for the demo song, from the stand-in server's own content.
inline void answerWithDemoSong(HttpFake &server)
{
    const QString key = QStringLiteral("traditional|amazing grace");
    server.setReply(QStringLiteral("/api/track"),
                    HttpFake::Reply::json(200, QJsonObject{{QStringLiteral("lyrics"), QString::fromUtf8(demoSongFile(QStringLiteral("lyrics.lrc")))},
                                                           {QStringLiteral("source"), QStringLiteral("manualImport")},
                                                           {QStringLiteral("songKey"), key},
                                                           {QStringLiteral("language"), QStringLiteral("en")}}));
    server.setReply(QStringLiteral("/api/cards"),
                    HttpFake::Reply::json(200, QJsonDocument::fromJson(demoSongFile(QStringLiteral("cards.json"))).object()));
    server.setReply(QStringLiteral("/api/story"),
                    HttpFake::Reply::json(200, QJsonObject{{QStringLiteral("article"), QString::fromUtf8(demoSongFile(QStringLiteral("story.txt")))},
                                                           {QStringLiteral("songKey"), key}}));
}

// The demo song as the player reports it: Amazing Grace, `elapsed` seconds into its 82, playing.
inline NowPlayingTrack demoSongTrack(double elapsed = 15)
{
    NowPlayingTrack track;
    track.title = QStringLiteral("Amazing Grace");
    track.artist = QStringLiteral("Traditional");
    track.duration = 82;
    track.elapsed = elapsed;
    track.isPlaying = true;
    return track;
}

// AppState's dependencies on fakes: the HttpFake with its sign-in stand-in (AuthFixture), a
// temporary data folder and settings file, logging now-playing sources, a probe and watchdog of
// the test's own.
struct ShellFixture : AuthFixture
{
    QTemporaryDir files;
    QSettings settings{files.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat};
    std::shared_ptr<SourceLog> sources = std::make_shared<SourceLog>();
    RenderLoopProbe probe{nullptr, nullptr, files.filePath(QStringLiteral("diagnostics"))};
    MainThreadWatchdog watchdog{&probe};

    QString dataFolder() const { return files.filePath(QStringLiteral("data")); }

    // The service without waiting for its stored-session read: AppState waits for it.
    AuthService &startAuth()
    {
        auth = std::make_unique<AuthService>(config(), keychain(), http, &clock);
        return *auth;
    }

    AppStateDependencies dependencies()
    {
        AppStateDependencies deps;
        deps.auth = auth.get();
        deps.dataFolder = dataFolder();
        deps.settings = &settings;
        deps.sourceFactory = [log = sources] { return std::make_unique<LoggingNowPlayingSource>(log); };
        deps.http = http.get();
        deps.apiBaseURL = server.baseUrl();
        deps.wallClock = &clock;
        deps.watchdog = &watchdog;
        deps.probe = &probe;
        return deps;
    }

    // Signed in (the session stored), the backend answering with the demo song.
    AuthService &signedInWithDemoSong()
    {
        store(issuedSession(QStringLiteral("a@example.com")));
        answerWithDemoSong(server);
        return startAuth();
    }

    QString probeState(const QString &key) const
    {
        for (const auto &[k, v] : probe.snapshot(0).state) {
            if (k == key)
                return v;
        }
        return {};
    }
};

// The shell's main window shown, and the demo song sent to its player once the player started
// following; nullptr when either did not happen.
inline QQuickWindow *showPlayingDemoSong(ShellFixture &fx, ApplicationShell &shell,
                                         const NowPlayingTrack &track = demoSongTrack())
{
    QQuickWindow *window = shell.mainWindow();
    if (!window)
        return nullptr;
    window->requestActivate();
    if (!QTest::qWaitForWindowExposed(window) || !QTest::qWaitFor([&] { return fx.sources->started == 1; }, 10000))
        return nullptr;
    fx.sources->latest.send(track);
    return window;
}

// The shell on a fixture signed in with the demo song, its main window shown and the track sent
// once the player follows (`window` is null when either did not happen). `prepare` changes the
// fixture and the dependencies before the shell is made (a scripted answer, a clock).
struct DemoSongShell
{
    using Prepare = std::function<void(ShellFixture &, AppStateDependencies &)>;

    explicit DemoSongShell(const Prepare &prepare = {}, const NowPlayingTrack &track = demoSongTrack())
        : shell(dependencies(fx, prepare))
        , window(showPlayingDemoSong(fx, shell, track))
    {
    }

    PlayerViewModel *vm() const { return shell.appState()->viewModel(); }

    ShellFixture fx;
    ApplicationShell shell;
    QQuickWindow *window;

private:
    static AppStateDependencies dependencies(ShellFixture &fx, const Prepare &prepare)
    {
        fx.signedInWithDemoSong();
        AppStateDependencies deps = fx.dependencies();
        if (prepare)
            prepare(fx, deps);
        return deps;
    }
};
