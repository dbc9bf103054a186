#pragma once

#include <QString>
#include <QStringList>

#include <cstddef>
#include <optional>
#include <stdexcept>

namespace server {

// A configuration that cannot be used; the message is shown to the operator as is.
class ConfigError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// Everything an operator can set. Each key comes, strongest first, from the command line
// ("--listen 0.0.0.0:8787"), the environment ("CANTORELLA_SERVER_LISTEN") or the --config file
// (INI: "listen = 0.0.0.0:8787", '#' or ';' comments, an optional [server] section).
// Secrets (the anonymous key, the token-signing key, the SMTP password) are never keys here:
// see Secrets.h.
struct ServerConfig
{
    QString listenHost = QStringLiteral("127.0.0.1");
    int listenPort = 8787;            // 0: any free port
    QString dataFolder = QStringLiteral("cantorella-data");
    QString databaseUrl;              // postgresql://…; empty: SQLite in dataFolder
    QString seedFolder;               // demo songs imported at start; empty: none
    bool requireConfirmation = false; // sign-up waits for the e-mail link
    QString publicUrl;                // origin of links in e-mails; empty: http://<listen>
    QString smtpUrl;                  // smtp://host:port or smtps://…; empty: links go to the log
    QString smtpFrom;
    QString smtpUser;
    int threads = 256;                // worker threads that run request handlers
    std::size_t maxBackupBytes = 64u * 1024 * 1024;
    int headerTimeoutSeconds = 10;    // a whole request head
    int writeTimeoutSeconds = 30;     // each piece of an answer
    int maxConnections = 10000;
    int maxConnectionsPerAddress = 256; // from one socket peer (a proxy is one)
    int keepAliveMaxCount = 1000;
    int keepAliveTimeoutSeconds = 5;
    int accessTokenSeconds = 3600;
    int signInsPerMinute = 10;  // password sign-ins per e-mail address and per client address
    int signUpsPerMinute = 10;  // sign-ups per client address
    int resendsPerHour = 5;     // confirmation e-mails per address
    int refreshesPerHour = 120; // token refreshes per sign-in (the application refreshes about once an hour)
    QString backupNamespaces = QStringLiteral("en"); // the backup namespaces kept, comma-separated
    std::size_t maxAccountBackupBytes = 64u * 1024 * 1024; // all of one account's backups together
    // Transfers on their way (unfinished uploads, copies for readers, replaced versions readers
    // hold): everyone's together, and one account's.
    std::size_t maxSpoolBytes = 1024u * 1024 * 1024;
    std::size_t maxAccountSpoolBytes = 128u * 1024 * 1024;
    int writeQueue = 256;       // SQLite: writers of this process waiting for their turn at most
    int writeWaitMs = 10000;    // SQLite: longest wait for a write's turn (then 503)
    int pruneMinutes = 10;      // how often this process deletes used tokens, old sign-ins, ended windows
    bool trustProxy = false;    // take the client address from X-Forwarded-For (behind a proxy only)
    // The language model that writes cards and stories (its key: CANTORELLA_LLM_KEY[_FILE]).
    QString llmUrl;             // chat-completions API base ("/chat/completions" appended); empty: none
    QString llmModel;
    bool llmJsonFormat = true;  // ask for a JSON object answer for cards (response_format)
    QString llmPrompts;         // folder of the prompt files; empty: Prompts::defaultFolder()
    int llmMaxConcurrent = 4;   // model calls under way at once in one process
    int llmDailyQuota = 50;     // new cards or stories per user and UTC day
    int llmCardsBudgetMs = 70000; // a cards answer, a repair included (the client waits 75 s)
    int llmStoryBudgetMs = 28000; // a story answer, a repair included (the client waits 30 s)
    QString lyricsFolder;       // the operator's .lrc files; empty: none
    QString lrclibUrl = QStringLiteral("https://lrclib.net"); // the open online lyrics database
    bool noOnline = false;      // never ask the online database
    int lyricsMissSeconds = 24 * 3600; // how long the online database's "not found" is believed

    // Reads the command line (without the program name), the environment and the file named by
    // --config or CANTORELLA_SERVER_CONFIG. Throws ConfigError.
    static ServerConfig load(const QStringList &arguments);
    // The --help text: every key with its variable and default.
    static QString helpText();
    // The same keys and secrets as the OPTIONS and SECRETS sections of a manual page (roff), with
    // the defaults of an installed server.
    static QString manualText();

    // The backup namespaces, parsed.
    QStringList backupNamespaceList() const;

    QString listenAddress() const { return listenHost + QLatin1Char(':') + QString::number(listenPort); }
};

} // namespace server
