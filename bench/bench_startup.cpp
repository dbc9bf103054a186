// Start-up of the whole application in-process (offscreen): from building the shell — the
// sign-in service reading a stored session, AppState, the QML engine and the main window — to
// the first frame that shows the player. The goal for a real launch is 400 ms.
#include "app/ApplicationShell.h"
#include "backend/AuthService.h"
#include "backend/KeychainStore.h"
#include "diagnostics/MainThreadWatchdog.h"
#include "diagnostics/RenderLoopProbe.h"
#include "platform/Clock.h"
#include "platform/HttpSession.h"
#include "platform/SecretStore.h"
#include "session/nowplaying/NowPlayingSource.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QSettings>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

class SilentSource final : public NowPlayingSource
{
public:
    Channel<std::optional<NowPlayingTrack>> trackPublisher() const override { return m_stream; }
    void start() override {}
    void stop() override { m_stream.finish(); }

private:
    Channel<std::optional<NowPlayingTrack>> m_stream;
};

void BM_StartupToPlayerFrame(benchmark::State &state)
{
    QTemporaryDir dir;
    QSettings settings(dir.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
    RenderLoopProbe probe(nullptr, nullptr, dir.filePath(QStringLiteral("diagnostics")));
    MainThreadWatchdog watchdog(&probe);
    auto http = std::make_shared<HttpSession>();
    const AuthSession stored{QStringLiteral("bench-user"), QStringLiteral("access"), QStringLiteral("refresh"),
                             double(QDateTime::currentSecsSinceEpoch() + 3600), QStringLiteral("bench@example.com")};

    for (auto _ : state) {
        auto secrets = std::make_shared<InMemorySecretStore>();
        secrets->setItem(QStringLiteral("com.cantorella.Cantorella.auth"), QStringLiteral("supabase-session"),
                         stored.toJson());

        QElapsedTimer timer;
        timer.start();
        // Nothing here reaches the network: the stored session is fresh and no song plays.
        AuthService auth(SupabaseConfig{QUrl(QStringLiteral("http://127.0.0.1:9")), QStringLiteral("bench")},
                         KeychainStore(QStringLiteral("com.cantorella.Cantorella.auth"),
                                       QStringLiteral("supabase-session"), secrets),
                         http, WallClock::system());
        AppStateDependencies deps;
        deps.auth = &auth;
        deps.dataFolder = dir.filePath(QStringLiteral("data"));
        deps.settings = &settings;
        deps.sourceFactory = [] { return std::make_unique<SilentSource>(); };
        deps.http = http.get();
        deps.watchdog = &watchdog;
        deps.probe = &probe;
        bool shown = false;
        {
            ApplicationShell shell(deps);
            QObject::connect(&shell, &ApplicationShell::firstPlayerFrameShown, [&shown] { shown = true; });
            QDeadlineTimer deadline(10000);
            while (!shown && !deadline.hasExpired())
                QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 10);
            state.SetIterationTime(double(timer.nsecsElapsed()) / 1e9);
        }
        if (!shown) {
            state.SkipWithError("the player never reached the screen");
            break;
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

} // namespace

BENCHMARK(BM_StartupToPlayerFrame)->Name("Ui/StartupToPlayerFrame")->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);
