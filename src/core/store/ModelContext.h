#pragma once

#include "core/store/LearnedCard.h"
#include "core/store/LibraryRows.h"
#include "core/store/SongRecord.h"
#include "core/store/StoreContainer.h"

#include <QElapsedTimer>
#include <QHash>
#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QSet>

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

// One connection onto the store file and the model objects fetched through it.
//
// - Identity map: two fetches of one row give the same object for as long as the context
//   knows it. A fetch also brings the returned objects' unchanged properties up to date.
// - Faults: the card lists (favourite, mastered) are answered from their indexes alone and
//   return cards this context does not hold yet as faults, objects that know their row but
//   read it only when one of their properties is first read. A list of 10,000 cards costs
//   one index scan; a screen showing twenty of them reads twenty rows.
// - Changes: property writes on a model are recorded here and written by save(), which
//   updates only the columns that changed.
// - Transactions: perform() runs a unit of work as one transaction (BEGIN IMMEDIATE, or a
//   savepoint inside an enclosing unit) and saves once at its end. When the unit throws,
//   the transaction is rolled back and every object it touched is put back to its stored
//   state; at the outermost level every unsaved change of the context is discarded, so a
//   failed unit never leaves changes behind for a later, unrelated save to write. The
//   error is rethrown unchanged.
// - Other connections: commits of other contexts reach this one as sets of song keys
//   (mergeExternalChanges); the objects of those songs are refreshed and announce what
//   changed. Properties with unsaved changes keep their pending values.
//
// Confined to one thread, like its model objects.
class ModelContext
{
public:
    enum class Disposal {
        Deferred,  // deleted objects are released with deleteLater(): screens may still hold them
        Immediate, // deleted objects are released at once: nothing outside the context holds them
    };

    ModelContext(std::shared_ptr<StoreContainer> container, Disposal disposal, bool receiveExternalChanges,
                 StoreContainer::CommitSync commitSync = StoreContainer::CommitSync::BeforeReturn);
    ~ModelContext();
    ModelContext(const ModelContext &) = delete;

    StoreContainer &container() const { return *m_container; }
    SqliteDatabase &database() { return m_db; }

    // ---- fetches (flush pending changes first when inside a unit of work) ----
    SongRecord *fetchSong(const QString &key);
    SongRecord *songForRowId(qint64 rowId);
    enum class SongFetch { All, ByLastPlayedDesc, FavoritesByFavoritedAtDesc };
    QList<SongRecord *> fetchSongs(SongFetch fetch);
    enum class CardFetch { All, FavoritesByFavoritedAtDesc, MasteredByMasteredAtDesc };
    // The two sorted lists return faults for the cards not held yet (Deferred contexts only).
    QList<LearnedCard *> fetchCards(CardFetch fetch);
    // The same lists fetched over several calls (see SlicedFetch).
    class SlicedFetch;
    SlicedFetch slicedSongFetch(SongFetch fetch);
    SlicedFetch slicedCardFetch(CardFetch fetch);
    // The number of songs among the mastered cards: their distinct song keys (each card's own),
    // canonically equivalent spellings counted once, from an index: no card is read or made.
    int countMasteredSongKeys();
    // The object with this identifier, or null when there is none (any more).
    StoredModel *resolve(const PersistentIdentifier &id);

    // ---- changes ----
    void insert(SongRecord *song);
    void insert(LearnedCard *card);
    // Deleting a song deletes its cards (in the store by cascade, here for the objects
    // this context holds). Deleting a card takes it out of its song's list.
    void remove(SongRecord *song);
    void remove(const QList<SongRecord *> &songs);
    void remove(LearnedCard *card);
    bool hasChanges() const;
    // Writes every pending change in one transaction (inside a unit of work: flushes).
    void save();

    // ---- the whole library at once (a backup restore); only inside a unit of work ----
    // Deletes every song and card row. The objects this context holds end as remove() leaves
    // them: released when the unit commits, back to their stored state when it fails.
    void removeAllRows();
    // Deletes the rows of the song with this key and of its cards, when it is stored.
    void removeRows(QByteArrayView key);
    // Inserts a song and its cards as rows, without making model objects. No song with this
    // key may be stored.
    void insertRows(const LibrarySongRow &song);
    // Deletes every row, then inserts the songs `source` writes (see LibraryWriter).
    void replaceAllRows(const LibrarySource &source);

    // Runs `work` as one unit of work that may write; see the class comment.
    template<class F>
    auto perform(F &&work) -> decltype(work())
    {
        Unit unit(*this, SqliteTransaction::Mode::Immediate);
        if constexpr (std::is_void_v<decltype(work())>) {
            work();
            unit.commit();
        } else {
            auto result = work();
            unit.commit();
            return result;
        }
    }
    // Runs `work` as one read transaction: every fetch inside sees the same snapshot.
    template<class F>
    auto read(F &&work) -> decltype(work())
    {
        if (m_db.inTransaction())
            return work();
        SqliteTransaction txn(m_db, SqliteTransaction::Mode::Deferred);
        if constexpr (std::is_void_v<decltype(work())>) {
            work();
            txn.commit();
        } else {
            auto result = work();
            txn.commit();
            return result;
        }
    }
    bool inUnitOfWork() const { return !m_levels.empty(); }

    // Applies the queued commits of other contexts (see setExternalChangeNotifier) and
    // returns the song keys it refreshed. Deferred while a unit of work is open.
    QSet<QString> mergeExternalChanges();
    // The same a slice at a time: takes in changed songs until `budget` has passed (at least
    // one), and returns whether everything queued is taken in. The keys refreshed gather until
    // takeMergedKeys(). Costs time linear in the number of changed songs, plus one pass over
    // the held objects for each batch of commits.
    bool mergeExternalChangesFor(std::chrono::nanoseconds budget);
    QSet<QString> takeMergedKeys();
    // Commits of other contexts queued or partly taken in.
    bool hasExternalChangesPending();
    // Drops what is queued or partly taken in (after a merge failed): the objects concerned keep
    // their values until they are fetched again.
    void abandonExternalChanges();
    // Called on the committing thread when another context has committed; the owner
    // hops to this context's thread and calls mergeExternalChanges().
    void setExternalChangeNotifier(std::function<void()> notifier);

    // Forgets every object (discarding unsaved changes) and releases them.
    void reset();

    // Told, on this context's thread, of what happens to the objects it holds, so that a screen
    // holding thousands of them needs no connection to each. `released`: the context lets go of
    // the object (deleted here or by another connection, or forgotten); it is still alive, and
    // goes on a later turn (at once on reset()). `changed`: a stored property of the object changed
    // and has been announced; `field` is its bit (SongRecord::Field, LearnedCard::Field).
    struct Observer
    {
        std::function<void(StoredModel *)> released;
        std::function<void(StoredModel *, int field)> changed;
    };
    void setObserver(Observer observer) { m_observer = std::move(observer); }

private:
    friend class StoredModel;
    friend class SongRecord;
    friend class LearnedCard;

    class Unit
    {
    public:
        Unit(ModelContext &context, SqliteTransaction::Mode mode);
        ~Unit();
        void commit();

    private:
        ModelContext &m_context;
        bool m_done = false;
    };
    struct Level
    {
        size_t mark;
        quint64 serial;
        std::unique_ptr<SqliteTransaction> txn;
    };

    void beginLevel(SqliteTransaction::Mode mode);
    void commitLevel();
    void rollbackLevel() noexcept;

    void noteChange(StoredModel *object);
    void noteAnnounced(StoredModel *object, int field)
    {
        if (m_observer.changed)
            m_observer.changed(object, field);
    }
    void noteDeletedRow(StoredModel *object);
    void flush();
    void flushSong(SongRecord *song);
    void flushCard(LearnedCard *card);
    void rollbackJournal(size_t mark) noexcept;
    void restoreFromStore(StoredModel *object);
    void detach(StoredModel *object);
    void finishTopLevelCommit() noexcept;
    void dispose(StoredModel *object);
    void forget(StoredModel *object); // a row another connection deleted
    void loadCards(SongRecord *song);
    // A batch of other contexts' commits being taken in. It starts by sorting the changed keys
    // and, for a batch of more than a few, indexing the held objects (by song key, by song row),
    // a slice at a time like the rest; an index entry is dropped once used, so that what is left
    // at the end is small. The indexes hold row ids, not pointers: between two slices an object
    // may be released, and its row id then no longer resolves.
    struct MergeJob
    {
        std::vector<QString> incoming;    // changed keys not sorted yet
        std::vector<qint64> songsToIndex; // held rows not indexed yet
        std::vector<qint64> cardsToIndex;
        std::vector<QString> keys; // sorted, to take in; those of held songs last (taken first)
        std::vector<QString> heldKeys;
        bool indexed = false;
        QMultiHash<QString, qint64> songRowsByKey;
        QMultiHash<qint64, qint64> cardRowsBySongRow;
        // Held songs whose rows were gone, and new rows read in their place (see refreshSongKey).
        qsizetype forgottenSongs = 0;
        qsizetype replacementSongs = 0;
    };
    static constexpr size_t mergeIndexFrom = 16; // changed songs; fewer are looked up by scanning
    bool startMergeJob();
    bool prepareMergeJob(const QElapsedTimer &clock, std::chrono::nanoseconds budget);
    bool mergeSlice(std::chrono::nanoseconds budget);
    QList<SongRecord *> heldSongsWithKey(const QString &key) const;
    void refreshSongKey(const QString &key);
    void refreshCardsOfSong(qint64 songRowId, SongRecord *song);
    QList<LearnedCard *> heldCardsOfSongRow(qint64 songRowId) const;

    // Takes a stored row into an object, property by property: a property with an unsaved
    // change keeps it; any other that differs is set and announced. Texts are compared
    // with the row's bytes, so an unchanged row costs no allocation.
    static void takeSongRow(SongRecord *song, const SqliteStatement &row);
    static void takeCardRow(LearnedCard *card, const SqliteStatement &row);
    template<class M>
    static void takeText(M *model, QString &field, const SqliteStatement &row, int column, void (M::*changed)());
    template<class M>
    static void takeOptionalText(M *model, std::optional<QString> &field, const SqliteStatement &row, int column,
                                 void (M::*changed)());
    template<class M, class T>
    static void takeValue(M *model, T &field, const T &stored, int column, void (M::*changed)());

    struct ListQuery
    {
        const char *idsAndVersions; // "SELECT id, version ..." answered from an index
        const char *rows;           // the same list with full rows
        const char *rowById;        // one full row by id (?1)
    };
    bool fetchSlice(SlicedFetch &fetch, std::chrono::nanoseconds budget);
    template<class Model>
    QList<Model *> fetchList(const ListQuery &query, const QHash<qint64, Model *> &held,
                             Model *(ModelContext::*materialize)(const SqliteStatement &));
    SongRecord *materializeSong(const SqliteStatement &row);
    LearnedCard *materializeCard(const SqliteStatement &row);
    // `idsVersionsSongs`: "SELECT id, version, song_id ..." in list order, from an index.
    QList<LearnedCard *> fetchCardList(const char *idsVersionsSongs);
    LearnedCard *faultCard(qint64 id, qint64 version, qint64 songRowId);
    // Reads a fault's row. A failed read is logged and leaves the fault for the next read;
    // a row that is gone (another connection deleted it) makes the card deleted.
    void loadFault(LearnedCard *card) noexcept;
    void relinkCard(LearnedCard *card, qint64 songRowId);
    void adopt(StoredModel *object);
    QString songKeyOf(LearnedCard *card) const;

    void releaseNextTurn();

    static constexpr size_t ownerBuckets = 256;
    static constexpr size_t releasedPerTurn = 2000;

    std::shared_ptr<StoreContainer> m_container;
    SqliteDatabase m_db;
    StoreContainer::CommitSync m_commitSync;
    Disposal m_disposal;
    QObject m_owner; // parent of the buckets, which are the parents of every object this context holds
    std::vector<QObject *> m_buckets;
    size_t m_nextBucket = 0;
    std::vector<StoredModel *> m_released; // disposed of, deleteLater() still to be called
    size_t m_releasedThisTurn = 0;

    QHash<qint64, SongRecord *> m_songs;
    QHash<qint64, LearnedCard *> m_cards;

    // Objects changed since the last flush, in the order of their first change.
    std::vector<StoredModel *> m_pending;
    // Objects touched since the last durable commit; Level::mark indexes into it.
    std::vector<StoredModel *> m_touched;
    std::vector<Level> m_levels;
    quint64 m_serial = 1;     // serial of the level outside any unit of work
    quint64 m_nextSerial = 2;
    QSet<QString> m_changedKeys; // songs written since the last durable commit
    QSet<QString> m_mergedKeys;  // songs refreshed from other contexts, not yet reported
    std::unique_ptr<MergeJob> m_merge; // the batch of other contexts' commits being taken in

    int m_listenerId = 0;
    QMutex m_inboxMutex;
    QSet<QString> m_inbox;
    std::function<void()> m_notifier;
    Observer m_observer;
};

// A list fetch spread over several calls of step(), for a list too long to be made in one turn of
// the event loop (a library of tens of thousands of songs). The first step reads the ids and
// versions of the list's rows in order, from the list's index; each step then brings in the
// objects of the next rows, in a read of its own, until its budget has passed (at least a few
// rows). The list is in the order of that first read, and each object as stored when its row is
// reached: a row deleted in between is left out, one changed is read as it is then. Objects the
// context releases between two steps are left out of the result. Cards not held are made as
// faults from the first read, as fetchCards() makes them; one whose row is deleted in between is
// let go of when it is first read, like any fault.
//
// Holds no reference to the context: each step is handed the one the fetch came from.
class ModelContext::SlicedFetch
{
public:
    // Returns whether the list is complete. Errors of the store propagate; the fetch is then
    // of no further use.
    bool step(ModelContext &context, std::chrono::nanoseconds budget) { return context.fetchSlice(*this, budget); }
    // The objects, in list order, once step() has returned true.
    QList<QPointer<StoredModel>> take();

private:
    friend class ModelContext;
    struct Row
    {
        qint64 id;
        qint64 version;
        qint64 songRowId; // cards only
    };
    bool cards = false;
    const char *rowIds = nullptr;  // "SELECT id, version[, song_id] ..." in list order
    const char *rowById = nullptr; // one full song row by id (?1); songs only
    bool started = false;
    std::vector<Row> rows;
    size_t next = 0;
    QList<QPointer<StoredModel>> out;
};
