#include "server/app/ServerMain.h"

#include "server/app/Routes.h"
#include "server/auth/AccessTokens.h"
#include "server/auth/SignInCheck.h"
#include "server/auth/Mailer.h"
#include "server/config/Secrets.h"
#include "server/config/ServerConfig.h"
#include "server/http/HttpService.h"
#include "server/http/Log.h"
#include "server/http/ServerContext.h"
#include "server/llm/ContentServices.h"
#include "server/llm/GenerationRoutes.h"
#include "server/lyrics/TrackRoutes.h"
#include "server/seed/DemoSeed.h"
#include "server/store/Pruner.h"
#include "server/store/StoreFactory.h"

#include <QDateTime>

#include <curl/curl.h>
#include <sodium.h>

#include <chrono>
#include <csignal>
#include <malloc.h>
#include <sys/stat.h>
#include <cstdio>
#include <thread>

namespace server {
namespace {

constexpr auto drainLimit = std::chrono::seconds(10);

// SIGTERM and SIGINT are taken by one thread with sigwait (blocked everywhere else, so every
// thread the server starts inherits the mask).
sigset_t stopSignals()
{
    sigset_t stopSet;
    sigemptyset(&stopSet);
    sigaddset(&stopSet, SIGTERM);
    sigaddset(&stopSet, SIGINT);
    return stopSet;
}

void watchForStop(HttpService &service)
{
    std::thread([&service] {
        const sigset_t stopSet = stopSignals();
        int received = 0;
        sigwait(&stopSet, &received);
        logLine(QStringLiteral("stopping: no new connections; requests in flight get %1 s").arg(drainLimit.count()));
        service.stop();
        std::this_thread::sleep_for(drainLimit);
        logLine(QStringLiteral("stopped with requests still in flight"));
        flushLog();
        std::_Exit(0);
    }).detach();
}

} // namespace

int runServer(const QStringList &arguments)
{
    if (arguments.contains(QStringLiteral("--help")) || arguments.contains(QStringLiteral("-h"))) {
        std::fputs(ServerConfig::helpText().toUtf8().constData(), stdout);
        return 0;
    }
    // Not in --help: the build writes the manual page's options with it (packaging/).
    if (arguments.contains(QStringLiteral("--manual-sections"))) {
        std::fputs(ServerConfig::manualText().toUtf8().constData(), stdout);
        return 0;
    }
    if (arguments.contains(QStringLiteral("--version"))) {
        std::puts("cantorella-server " CANTORELLA_VERSION);
        return 0;
    }
    if (sodium_init() < 0 || curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
        std::fputs("cantorella-server: cannot initialise the crypto and HTTP libraries\n", stderr);
        return 1;
    }
    const sigset_t stopSet = stopSignals();
    pthread_sigmask(SIG_BLOCK, &stopSet, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    // Buffers of 128 KiB and more (pieces of backups on their way) are mapped and unmapped, never
    // kept in the allocator's arenas: without this the threshold rises after the first such free
    // and every worker thread's arena keeps its pieces after the transfers end.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    ::umask(077); // the database and generated keys are for this user only

    try {
        const ServerConfig config = ServerConfig::load(arguments);
        const Secrets secrets = Secrets::load(config.dataFolder, !config.databaseUrl.isEmpty());
        const std::unique_ptr<ServerStore> store = openServerStore(
            config.databaseUrl, config.dataFolder,
            SqliteWriteOptions{std::size_t(config.writeQueue), std::chrono::milliseconds(config.writeWaitMs)});
        const AccessTokens tokens(secrets.tokenKey, config.accessTokenSeconds);
        const std::unique_ptr<Mailer> mailer = makeMailer(config, secrets);
        ServerContext context{*store, config, secrets, tokens, *mailer,
                              [] { return QDateTime::currentSecsSinceEpoch(); }, QString()};
        SignInCheck signIns(*store);
        context.signIns = &signIns;
        // Bound first, so that the first log line names the address (the port 0 took).
        HttpService service(config);
        const int port = service.bind(config.listenHost.toStdString(), config.listenPort);
        if (port < 0) {
            logLine(QStringLiteral("cannot listen on %1").arg(config.listenAddress()));
            return 1;
        }
        const QString host = config.listenHost.contains(QLatin1Char(':')) ? QLatin1Char('[') + config.listenHost + QLatin1Char(']')
                                                                           : config.listenHost;
        const QString origin = QStringLiteral("http://%1:%2").arg(host).arg(port);
        context.publicOrigin = config.publicUrl.isEmpty() ? origin : config.publicUrl;
        logLine(QStringLiteral("listening on %1").arg(origin));
        logLine(QStringLiteral("cantorella-server %1; store: %2; %3 worker threads")
                    .arg(QStringLiteral(CANTORELLA_VERSION),
                         config.databaseUrl.isEmpty() ? QStringLiteral("SQLite in ") + config.dataFolder
                                                      : QStringLiteral("PostgreSQL"))
                    .arg(config.threads));
        const std::unique_ptr<ContentServices> generation = makeContentServices(config, secrets, *store);
        context.generation = generation.get();
        LyricsLookup lyrics(config, *store, context.now);
        context.tracks = &lyrics.service();
        registerAllRoutes(service.router(), context);
        if (!config.seedFolder.isEmpty()) {
            const int songs = importDemoSongs(*store, config.seedFolder, context.now());
            logLine(QStringLiteral("seed: %1 demo songs from %2").arg(songs).arg(config.seedFolder));
        }
        const Pruner pruner(*store, std::chrono::minutes(config.pruneMinutes), context.now, logLine);
        watchForStop(service);
        const bool served = service.serve();
        logLine(served ? QStringLiteral("stopped") : QStringLiteral("the listening socket failed"));
        return served ? 0 : 1;
    } catch (const ConfigError &error) {
        std::fprintf(stderr, "cantorella-server: %s\n", error.what());
        return 2;
    } catch (const std::exception &error) {
        logLine(QStringLiteral("cannot start: %1").arg(QString::fromUtf8(error.what())));
        return 1;
    }
}

} // namespace server
