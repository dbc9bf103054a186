#include "server/config/ServerConfig.h"

#include "server/llm/Prompts.h"

#include <QFile>
#include <QHash>
#include <QTextStream>

#include <algorithm>
#include <functional>

namespace server {
namespace {

struct Key
{
    const char *name; // flag and file key; the variable is CANTORELLA_SERVER_ + upper snake case
    const char *help;
    bool isSwitch;    // a flag without a value ("--require-confirmation"); "true"/"false" elsewhere
    std::function<QString(const ServerConfig &)> shown;
    std::function<void(ServerConfig &, const QString &)> set;
};

[[noreturn]] void fail(const QString &message)
{
    throw ConfigError(message.toStdString());
}

long long number(const char *key, const QString &text, long long low, long long high)
{
    bool ok = false;
    const long long value = text.trimmed().toLongLong(&ok);
    if (!ok || value < low || value > high)
        fail(QStringLiteral("%1 needs a whole number from %2 to %3, not \"%4\"").arg(QLatin1String(key)).arg(low).arg(high).arg(text));
    return value;
}

bool flag(const char *key, const QString &text)
{
    const QString t = text.trimmed().toLower();
    if (t == u"true" || t == u"yes" || t == u"1" || t == u"on")
        return true;
    if (t == u"false" || t == u"no" || t == u"0" || t == u"off")
        return false;
    fail(QStringLiteral("%1 needs true or false, not \"%2\"").arg(QLatin1String(key), text));
}

void setListen(ServerConfig &config, const QString &text)
{
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        fail(QStringLiteral("listen needs ADDRESS:PORT, not \"%1\"").arg(text));
    QString host = text.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    config.listenHost = host;
    config.listenPort = int(number("listen", text.mid(colon + 1), 0, 65535));
}

#define TEXT_KEY(name, field, help)                                                                  \
    Key{name, help, false, [](const ServerConfig &c) { return c.field; },                           \
        [](ServerConfig &c, const QString &v) { c.field = v.trimmed(); }}
#define NUMBER_KEY(name, field, low, high, help)                                                     \
    Key{name, help, false, [](const ServerConfig &c) { return QString::number(c.field); },          \
        [](ServerConfig &c, const QString &v) { c.field = decltype(c.field)(number(name, v, low, high)); }}
#define SWITCH_KEY(name, field, help)                                                                \
    Key{name, help, true, [](const ServerConfig &c) { return QString::fromLatin1(c.field ? "true" : "false"); }, \
        [](ServerConfig &c, const QString &v) { c.field = flag(name, v); }}

const std::vector<Key> &keys()
{
    static const std::vector<Key> table = {
        Key{"listen", "ADDRESS:PORT to accept connections on; port 0 takes a free one", false,
            [](const ServerConfig &c) { return c.listenAddress(); }, setListen},
        TEXT_KEY("data", dataFolder, "folder of the SQLite database and the generated keys"),
        TEXT_KEY("database", databaseUrl, "postgresql://… to keep everything in PostgreSQL instead of SQLite"),
        TEXT_KEY("seed", seedFolder, "folder of demo songs to import at start (idempotent)"),
        SWITCH_KEY("require-confirmation", requireConfirmation, "sign-up waits until its password is entered on the page the e-mail link opens"),
        TEXT_KEY("public-url", publicUrl, "origin the e-mail links point at (default: http://LISTEN)"),
        TEXT_KEY("smtp-url", smtpUrl, "smtp://HOST:PORT or smtps://HOST:PORT; empty: links go to the log"),
        TEXT_KEY("smtp-from", smtpFrom, "sender address of the e-mails"),
        TEXT_KEY("smtp-user", smtpUser, "SMTP user name (the password: CANTORELLA_SMTP_PASSWORD[_FILE])"),
        NUMBER_KEY("threads", threads, 1, 4096,
                   "worker threads that run request handlers; 4 times as many requests may wait for one, "
                   "past that the answer is 503 with Retry-After"),
        NUMBER_KEY("max-backup-bytes", maxBackupBytes, 1, 1LL << 40, "largest backup accepted"),
        NUMBER_KEY("header-timeout", headerTimeoutSeconds, 1, 3600,
                   "seconds for a whole request head (a body then must come at 4 KiB/s at least)"),
        NUMBER_KEY("write-timeout", writeTimeoutSeconds, 1, 3600, "seconds each piece of an answer may wait to be sent"),
        NUMBER_KEY("max-connections", maxConnections, 1, 1000000,
                   "connections open at once; when full, the one with least progress is closed to make room: "
                   "idle, its head still arriving or its body not begun, the one waiting longest; else the one "
                   "with fewest body bytes (never one whose handler runs or whose answer is sent)"),
        NUMBER_KEY("max-connections-per-address", maxConnectionsPerAddress, 1, 1000000,
                   "connections open at once from one address (the socket's, even with --trust-proxy: behind a "
                   "proxy, raise it to the proxy's connections); past it that address's one with least progress "
                   "is closed"),
        NUMBER_KEY("keep-alive-max", keepAliveMaxCount, 1, 100000, "requests per kept-alive connection"),
        NUMBER_KEY("keep-alive-timeout", keepAliveTimeoutSeconds, 1, 3600, "seconds an idle connection is kept"),
        NUMBER_KEY("access-token-seconds", accessTokenSeconds, 1, 86400, "lifetime of an access token"),
        NUMBER_KEY("signins-per-minute", signInsPerMinute, 1, 1000000, "password sign-ins per e-mail and per client address"),
        NUMBER_KEY("signups-per-minute", signUpsPerMinute, 1, 1000000, "sign-ups per client address"),
        NUMBER_KEY("resends-per-hour", resendsPerHour, 1, 1000000, "confirmation e-mails per address"),
        NUMBER_KEY("refreshes-per-hour", refreshesPerHour, 2, 1000000,
                   "token refreshes per sign-in (past it 429; the application refreshes about once an hour)"),
        TEXT_KEY("backup-namespaces", backupNamespaces,
                 "the backup namespaces kept, comma-separated lower-case names (the application sends en); others 400"),
        NUMBER_KEY("max-account-backup-bytes", maxAccountBackupBytes, 1, 1LL << 40,
                   "all backups of one account together; past it 413"),
        NUMBER_KEY("max-spool-bytes", maxSpoolBytes, 1, 1LL << 40,
                   "room in the data folder for backups on their way, everyone's together: each unfinished "
                   "upload holds its Content-Length (chunked: the most it may send) from its head on, each copy "
                   "sent to readers (one per version, however many read it) and each replaced version a reader "
                   "still holds its size; an upload that does not fit is 503 with Retry-After at once (507 when "
                   "its own account's transfers hold the room), a download 503 with Retry-After"),
        NUMBER_KEY("max-account-spool-bytes", maxAccountSpoolBytes, 1, 1LL << 40,
                   "the same room for one account's transfers together; an upload past it is 507 at once (503 "
                   "with Retry-After while the account's previous upload is being stored)"),
        NUMBER_KEY("write-queue", writeQueue, 1, 100000,
                   "SQLite: writes of this process waiting for their turn at most; past it 503 with Retry-After"),
        NUMBER_KEY("write-wait-ms", writeWaitMs, 1, 600000,
                   "SQLite: longest wait of a write for its turn; past it 503 with Retry-After"),
        NUMBER_KEY("prune-minutes", pruneMinutes, 1, 24 * 60,
                   "minutes between deletions of used refresh tokens, old sign-ins and ended rate windows"),
        SWITCH_KEY("trust-proxy", trustProxy, "client address from X-Forwarded-For (only behind your own proxy)"),
        TEXT_KEY("llm-url", llmUrl, "chat-completions API base of the language model, e.g. http://127.0.0.1:11434/v1"),
        TEXT_KEY("llm-model", llmModel, "the model's name as that API knows it"),
        SWITCH_KEY("llm-json-format", llmJsonFormat, "ask the model for a JSON object answer (false for servers that refuse it)"),
        TEXT_KEY("llm-prompts", llmPrompts, "folder of the prompt files (installed: share/cantorella-server/prompts beside bin/; built: the source tree's)"),
        NUMBER_KEY("llm-max-concurrent", llmMaxConcurrent, 1, 10000, "model calls under way at once in this process"),
        NUMBER_KEY("llm-daily-quota", llmDailyQuota, 1, 1000000, "new cards or stories per user and day"),
        NUMBER_KEY("llm-cards-budget-ms", llmCardsBudgetMs, 100, 600000, "time for a cards answer, a repair included"),
        NUMBER_KEY("llm-story-budget-ms", llmStoryBudgetMs, 100, 600000, "time for a story answer, a repair included"),
        TEXT_KEY("lyrics-dir", lyricsFolder, "folder of .lrc files (any depth), tagged [ti:]/[ar:] or named \"Artist - Title.lrc\""),
        TEXT_KEY("lrclib-url", lrclibUrl, "origin of the open online lyrics database"),
        SWITCH_KEY("no-online", noOnline, "never look lyrics up online (the cache and the lyrics folder only)"),
        NUMBER_KEY("lyrics-miss-seconds", lyricsMissSeconds, 0, 365 * 86400,
                   "seconds the online database's \"not found\" for a song is believed"),
    };
    return table;
}

QByteArray variableName(const char *key)
{
    return "CANTORELLA_SERVER_" + QByteArray(key).toUpper().replace('-', '_');
}

const Key *findKey(QStringView name)
{
    for (const Key &key : keys()) {
        if (name == QLatin1String(key.name))
            return &key;
    }
    return nullptr;
}

// key → value from an INI file.
QHash<QString, QString> readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        fail(QStringLiteral("cannot read the configuration file %1").arg(path));
    QHash<QString, QString> values;
    int lineNumber = 0;
    QTextStream in(&file);
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        ++lineNumber;
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')) || line.startsWith(QLatin1Char(';'))
            || line.startsWith(QLatin1Char('[')))
            continue;
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        const QString name = line.left(equals).trimmed();
        if (equals < 0 || !findKey(name))
            fail(QStringLiteral("%1:%2: unknown setting \"%3\"").arg(path).arg(lineNumber).arg(name));
        QString value = line.mid(equals + 1).trimmed();
        if (value.size() >= 2 && value.startsWith(QLatin1Char('"')) && value.endsWith(QLatin1Char('"')))
            value = value.mid(1, value.size() - 2);
        values.insert(name, value);
    }
    return values;
}

} // namespace

ServerConfig ServerConfig::load(const QStringList &arguments)
{
    // The command line first, so that --config is known; applied last.
    QList<std::pair<const Key *, QString>> fromFlags;
    QString configFile = qEnvironmentVariable("CANTORELLA_SERVER_CONFIG");
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        QString argument = arguments.at(i);
        if (!argument.startsWith(QLatin1String("--")))
            fail(QStringLiteral("unexpected argument \"%1\" (see --help)").arg(argument));
        argument = argument.mid(2);
        std::optional<QString> inlineValue;
        if (const qsizetype equals = argument.indexOf(QLatin1Char('=')); equals >= 0) {
            inlineValue = argument.mid(equals + 1);
            argument = argument.left(equals);
        }
        const Key *key = findKey(argument);
        if (argument != u"config" && !key)
            fail(QStringLiteral("unknown option --%1 (see --help)").arg(argument));
        QString value;
        if (inlineValue) {
            value = *inlineValue;
        } else if (key && key->isSwitch) {
            value = QStringLiteral("true");
        } else {
            if (i + 1 >= arguments.size())
                fail(QStringLiteral("--%1 needs a value").arg(argument));
            value = arguments.at(++i);
        }
        if (argument == u"config")
            configFile = value;
        else
            fromFlags.append({key, value});
    }

    ServerConfig config;
    if (!configFile.isEmpty()) {
        const QHash<QString, QString> values = readFile(configFile);
        for (const Key &key : keys()) {
            if (values.contains(QLatin1String(key.name)))
                key.set(config, values.value(QLatin1String(key.name)));
        }
    }
    for (const Key &key : keys()) {
        const QByteArray name = variableName(key.name);
        if (qEnvironmentVariableIsSet(name.constData()))
            key.set(config, qEnvironmentVariable(name.constData()));
    }
    for (const auto &[key, value] : fromFlags)
        key->set(config, value);

    if (config.dataFolder.isEmpty())
        fail(QStringLiteral("data needs a folder"));
    if (!config.databaseUrl.isEmpty() && !config.databaseUrl.startsWith(QLatin1String("postgresql://"))
        && !config.databaseUrl.startsWith(QLatin1String("postgres://")))
        fail(QStringLiteral("database needs a postgresql:// URL"));
    const QStringList namespaces = config.backupNamespaceList();
    const bool namespacesValid = !namespaces.isEmpty() && std::all_of(namespaces.begin(), namespaces.end(), [](const QString &name) {
        return !name.isEmpty() && name.size() <= 16
            && std::all_of(name.begin(), name.end(), [](QChar c) { return c >= u'a' && c <= u'z'; });
    });
    if (!namespacesValid)
        fail(QStringLiteral("backup-namespaces needs comma-separated names of 1 to 16 letters a-z, not \"%1\"")
                 .arg(config.backupNamespaces));
    if (!config.llmUrl.isEmpty() && config.llmModel.isEmpty())
        fail(QStringLiteral("llm-url needs llm-model as well"));
    if (!config.smtpUrl.isEmpty() && config.smtpFrom.isEmpty())
        fail(QStringLiteral("smtp-url needs smtp-from as well"));
    return config;
}

QStringList ServerConfig::backupNamespaceList() const
{
    QStringList names;
    for (const QString &name : backupNamespaces.split(QLatin1Char(','), Qt::SkipEmptyParts))
        names.append(name.trimmed());
    return names;
}

namespace {

// The secrets --help and the manual list after the keys (read by Secrets, never flags).
struct SecretVariable
{
    const char *name;
    const char *help;
};
constexpr SecretVariable secretVariables[] = {
    {"CANTORELLA_ANON_KEY", "the key every sign-in request carries as its apikey header"},
    {"CANTORELLA_JWT_KEY", "the key access tokens are signed with"},
    {"CANTORELLA_SMTP_PASSWORD", "the SMTP password"},
    {"CANTORELLA_LLM_KEY", "the language model API's key (local servers need none)"},
};

const char secretsIntroduction[] =
    "Secrets, never flags (flags show in ps): each from its variable, or from the file named by\n"
    "VARIABLE_FILE (mode 0600); the first two are generated into the data folder when absent,\n"
    "except with --database postgresql://…, where both must be given (every process needs the same).\n";

QString shownDefault(const Key &key, const ServerConfig &defaults)
{
    const QString value = key.shown(defaults);
    return value.isEmpty() ? QStringLiteral("(none)") : value;
}

// Text for a roff line: backslashes and the dashes of options ("--data") escaped, no control
// character at its start. A lone hyphen (sign-up) stays one.
QString roff(const QString &text)
{
    QString escaped = text;
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\e")).replace(QLatin1String("--"), QLatin1String("\\-\\-"));
    if (escaped.startsWith(QLatin1Char('.')) || escaped.startsWith(QLatin1Char('\'')))
        escaped.prepend(QLatin1String("\\&"));
    return escaped;
}

} // namespace

QString ServerConfig::helpText()
{
    ServerConfig defaults;
    // Shown as the folder this program would read, so an operator sees whether it found its prompts.
    defaults.llmPrompts = QString::fromStdString(Prompts::defaultFolder());
    QString text = QStringLiteral(
        "Usage: cantorella-server [--config FILE] [--KEY VALUE]...\n\n"
        "Each KEY can also be set in the INI file (KEY = VALUE) or the environment variable shown;\n"
        "a flag beats the variable, which beats the file.\n\n");
    text += QStringLiteral("  --config FILE  (CANTORELLA_SERVER_CONFIG)\n");
    for (const Key &key : keys()) {
        text += QStringLiteral("  --%1%2  (%3)\n      %4; default: %5\n")
                    .arg(QLatin1String(key.name), key.isSwitch ? QString() : QStringLiteral(" VALUE"),
                         QString::fromLatin1(variableName(key.name)), QString::fromUtf8(key.help),
                         shownDefault(key, defaults));
    }
    text += QLatin1Char('\n') + QString::fromUtf8(secretsIntroduction);
    for (const SecretVariable &secret : secretVariables)
        text += QStringLiteral("  %1 %2\n").arg(QLatin1String(secret.name), -24).arg(QLatin1String(secret.help));
    return text;
}

QString ServerConfig::manualText()
{
    ServerConfig defaults;
    // An installed server's, whatever the prefix; not the folder of the build that writes the page.
    defaults.llmPrompts = QStringLiteral("share/cantorella-server/prompts beside the program's bin/");
    QString text = QStringLiteral(".SH OPTIONS\n"
                                  ".TP\n\\fB\\-\\-config\\fR \\fIFILE\\fR  (\\fBCANTORELLA_SERVER_CONFIG\\fR)\n"
                                  "The INI file of settings (KEY = VALUE).\n");
    for (const Key &key : keys()) {
        text += QStringLiteral(".TP\n\\fB%1\\fR%2  (\\fB%3\\fR)\n%4; default: %5\n")
                    .arg(QString(QStringLiteral("--") + QLatin1String(key.name)).replace(QLatin1Char('-'), QLatin1String("\\-")),
                         key.isSwitch ? QString() : QStringLiteral(" \\fIVALUE\\fR"),
                         roff(QString::fromLatin1(variableName(key.name))), roff(QString::fromUtf8(key.help)),
                         roff(shownDefault(key, defaults)));
    }
    text += QStringLiteral(".SH SECRETS\n") + roff(QString::fromUtf8(secretsIntroduction).replace(QLatin1Char('\n'), QLatin1Char(' ')).trimmed())
        + QLatin1Char('\n');
    for (const SecretVariable &secret : secretVariables)
        text += QStringLiteral(".TP\n\\fB%1\\fR\n%2\n").arg(roff(QLatin1String(secret.name)), roff(QLatin1String(secret.help)));
    return text;
}

} // namespace server
