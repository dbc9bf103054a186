#include "core/store/StoreContainer.h"

#include <QDir>
#include <QMutexLocker>
#include <QStandardPaths>

namespace {

// The migration ladder: step N takes a file from version N-1 to N. Steps are never
// edited once released; a change of schema is a new step at the end.
struct Migration
{
    int version;
    const char *sql;
};

// Times are INTEGER milliseconds since 1970-01-01 UTC. Row ids never repeat
// (AUTOINCREMENT), so a persistent identifier never names a different row later.
// `version` grows by one with every UPDATE of a row (every writer goes through the model
// context, which does that): a context that holds a row at the same version holds it
// as stored. The list indexes carry it, so a list query can tell which of the rows it
// returns a context already holds unchanged without reading the rows themselves (the
// partial indexes repeat their condition's column so that the planner sees them as
// covering).
constexpr Migration migrations[] = {
    {1, R"sql(
CREATE TABLE songs (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    key TEXT NOT NULL UNIQUE,
    title TEXT NOT NULL,
    artist TEXT NOT NULL,
    lyrics TEXT NOT NULL,
    language TEXT,
    story_article TEXT,
    lyrics_offset REAL,
    last_played_at INTEGER NOT NULL,
    is_favorite INTEGER NOT NULL DEFAULT 0,
    favorited_at INTEGER,
    play_count INTEGER NOT NULL DEFAULT 0,
    version INTEGER NOT NULL DEFAULT 0
);
CREATE TABLE cards (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    song_key TEXT NOT NULL,
    en TEXT NOT NULL,
    cn TEXT NOT NULL,
    note TEXT NOT NULL,
    example TEXT NOT NULL,
    tag TEXT NOT NULL,
    line_timestamp REAL,
    learned INTEGER NOT NULL DEFAULT 0,
    song_id INTEGER REFERENCES songs(id) ON DELETE CASCADE,
    is_mastered INTEGER NOT NULL DEFAULT 0,
    mastered_at INTEGER,
    is_favorite INTEGER NOT NULL DEFAULT 0,
    favorited_at INTEGER,
    pronunciation_hint_json TEXT,
    cultural_hint TEXT,
    listening_difficulty_raw TEXT,
    version INTEGER NOT NULL DEFAULT 0
);
CREATE INDEX cards_by_song ON cards(song_id);
CREATE INDEX songs_by_last_played ON songs(last_played_at, version);
CREATE INDEX songs_favorite ON songs(favorited_at, version, is_favorite) WHERE is_favorite = 1;
CREATE INDEX cards_favorite ON cards(favorited_at, version, is_favorite) WHERE is_favorite = 1;
CREATE INDEX cards_mastered ON cards(mastered_at, version, is_mastered) WHERE is_mastered = 1;
)sql"},
    // The card lists hand out faults (id, version and song link, read from the index) and
    // read a card's row only when it is used: the indexes carry the song link too.
    {2, R"sql(
DROP INDEX cards_favorite;
DROP INDEX cards_mastered;
CREATE INDEX cards_favorite ON cards(favorited_at, version, song_id, is_favorite) WHERE is_favorite = 1;
CREATE INDEX cards_mastered ON cards(mastered_at, version, song_id, is_mastered) WHERE is_mastered = 1;
)sql"},
    // The mastered cards' summary counts their distinct song keys (each card's own key) from
    // an index alone: the cards' rows stay unread, as the list leaves them.
    {3, R"sql(
CREATE INDEX cards_mastered_song_keys ON cards(song_key, is_mastered) WHERE is_mastered = 1;
)sql"},
};

static_assert(std::size(migrations) == StoreContainer::schemaVersion,
              "the ladder must end at the version this program writes");

// Far above the 36 characters of the service's ids, and short enough for any file system's
// name limit once "default-" and "-en.store" are added.
constexpr qsizetype maximumUserIdLength = 128;

bool isValidUserId(const QString &userId)
{
    if (userId.isEmpty() || userId.size() > maximumUserIdLength)
        return false;
    for (QChar c : userId) {
        const char16_t u = c.unicode();
        const bool ok = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '-'
            || u == '_';
        if (!ok)
            return false;
    }
    return true;
}

} // namespace

StoreContainer::StoreContainer(QString path, SqliteDatabase::Options options)
    : m_path(std::move(path))
    , m_options(options)
{
}

QString StoreContainer::fileNameForUser(const QString &userId)
{
    if (!isValidUserId(userId)) {
        throw StoreError(StoreError::Kind::InvalidUserId, 0,
                         QStringLiteral("Invalid user id for a store file name: only letters, digits, '-' and "
                                        "'_' are allowed, at most %1 of them")
                             .arg(maximumUserIdLength));
    }
    return QStringLiteral("default-") + userId + QStringLiteral("-en.store");
}

QString StoreContainer::defaultFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
        + QStringLiteral("/com.cantorella.Cantorella");
}

std::shared_ptr<StoreContainer> StoreContainer::openForUser(const QString &folder, const QString &userId,
                                                            const SqliteDatabase::Options &options)
{
    const QString fileName = fileNameForUser(userId);
    if (!QDir().mkpath(folder)) {
        throw StoreError(StoreError::Kind::FileSystem, 0,
                         QStringLiteral("Could not create the store folder %1").arg(folder));
    }
    return open(QDir(folder).filePath(fileName), options);
}

std::shared_ptr<StoreContainer> StoreContainer::open(const QString &path, const SqliteDatabase::Options &options)
{
    std::shared_ptr<StoreContainer> container(new StoreContainer(path, options));
    SqliteDatabase db = container->connect();
    migrate(db);
    return container;
}

SqliteDatabase StoreContainer::connect(CommitSync sync)
{
    if (sync == CommitSync::BeforeReturn)
        return SqliteDatabase::open(m_path, m_options);
    {
        QMutexLocker lock(&m_mutex);
        if (!m_logSync)
            m_logSync = std::make_unique<BackgroundFileSync>(m_path + QStringLiteral("-wal"));
    }
    SqliteDatabase::Options options = m_options;
    options.synchronousFull = false;
    return SqliteDatabase::open(m_path, options);
}

void StoreContainer::syncLogInBackground()
{
    QMutexLocker lock(&m_mutex);
    if (m_logSync)
        m_logSync->request();
}

void StoreContainer::migrate(SqliteDatabase &db)
{
    const auto tooNew = [](int version) {
        return StoreError(StoreError::Kind::UnsupportedSchema, 0,
                          QStringLiteral("The store has schema version %1; this program reads up to %2")
                              .arg(version)
                              .arg(schemaVersion));
    };
    int version = db.userVersion();
    if (version > schemaVersion)
        throw tooNew(version);
    if (version == schemaVersion)
        return;
    // Another process may migrate at the same moment: read the version again under the
    // write lock, then climb the ladder one committed step at a time.
    for (const Migration &step : migrations) {
        SqliteTransaction txn(db, SqliteTransaction::Mode::Immediate);
        version = db.userVersion();
        if (version > schemaVersion)
            throw tooNew(version);
        if (step.version <= version)
            continue;
        db.exec(QString::fromUtf8(step.sql));
        db.setUserVersion(step.version);
        txn.commit();
    }
}

int StoreContainer::addListener(Listener listener)
{
    QMutexLocker lock(&m_mutex);
    const int id = m_nextListenerId++;
    m_listeners.emplace(id, std::move(listener));
    return id;
}

void StoreContainer::removeListener(int id)
{
    QMutexLocker lock(&m_mutex);
    m_listeners.erase(id);
}

void StoreContainer::publishCommit(int sourceListenerId, const QSet<QString> &songKeys)
{
    if (songKeys.isEmpty())
        return;
    QMutexLocker lock(&m_mutex);
    for (const auto &[id, listener] : m_listeners) {
        if (id != sourceListenerId && listener)
            listener(songKeys);
    }
}
