#pragma once

#include "core/GoldenCard.h"
#include "core/store/ModelContext.h"

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QStringList>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <functional>
#include <exception>
#include <memory>
#include <optional>

class AsyncSignal;
class CardStoreActor;
class WallClock;

// Raised by CardStore::markLearned when an identifier does not name a card.
class CardStoreError : public std::exception
{
public:
    explicit CardStoreError(PersistentIdentifier id);
    static CardStoreError cardNotFound(PersistentIdentifier id) { return CardStoreError(id); }
    PersistentIdentifier identifier() const { return m_id; }
    const char *what() const noexcept override { return m_what.constData(); }
    friend bool operator==(const CardStoreError &a, const CardStoreError &b) { return a.m_id == b.m_id; }

private:
    PersistentIdentifier m_id;
    QByteArray m_what;
};

// The GUI thread's door onto the user's study store. It hands out live model objects
// (QObjects whose properties notify on change) to the library screens, the cards
// repository and the backup restore.
//
// Every operation is synchronous and is one transaction that commits once at its end;
// when it fails, the transaction is rolled back, the models it touched return to their
// stored values, no unsaved change is left for a later save, and the error (StoreError,
// or CardStoreError) reaches the caller unchanged. transaction() makes a whole sequence
// of operations all-or-nothing. A commit returns without waiting for the disk: the
// write-ahead log is synced right after it on a worker thread (StoreContainer::CommitSync).
//
// When the background CardStoreActor commits, the objects of the songs it wrote are
// refreshed from the file (properties with unsaved changes keep them) and
// externalChangesMerged() names those songs, so lists can query again. That is done in slices
// of a few milliseconds, one per turn of the event loop, so that taking in a whole restored
// library never holds the window up.
//
// The window's own writes (a heart, "unmark mastered") go to the background writer instead of
// this thread's connection: they queue behind whatever it runs, a restore included, so a tap
// never waits on the store's lock.
class CardStore : public QObject
{
    Q_OBJECT

public:
    // The study panel's one-time migration flag in the application settings.
    static constexpr const char *migrationFlagKey = "com.cantorella.studyPanelMigrationDone";

    explicit CardStore(std::shared_ptr<StoreContainer> container, WallClock *clock = nullptr,
                       QObject *parent = nullptr);
    ~CardStore() override;

    // The store's model context. Property writes on models followed by context().save()
    // are how a caller changes fields no operation covers.
    ModelContext &context() { return *m_context; }

    // ---- queries (no changes) ----
    QList<SongRecord *> allSongs();          // last played, newest first
    QList<SongRecord *> favoriteSongs();     // favourite songs, most recently favourited first
    QList<LearnedCard *> favoriteCards();    // favourite cards, most recently favourited first
    QList<LearnedCard *> masteredCards();    // mastered cards, most recently mastered first
    SongRecord *record(const QString &key);  // exact key, or null

    // ---- the user's changes ----
    void toggleFavorite(SongRecord *song);
    void toggleFavorite(LearnedCard *card);
    void markMastered(LearnedCard *card);   // renews masteredAt when already mastered
    void unmarkMastered(LearnedCard *card); // also clears learned

    // ---- the window's writes, on the background writer ----
    // The same changes as toggleFavorite() and markMastered() / unmarkMastered(), run by the
    // background writer on the row the object stands for, after every operation handed to it
    // before (a restore included). The task ends once the write has landed here: the object has
    // changed and announced it. A row a restore replaced by then is written through the song or
    // card of the same key in the new library (see CardStoreActor); one with none fails with
    // CardStoreActorError and changes nothing; a failed write with StoreError. The store may be
    // gone when it ends.
    QCoro::Task<void> toggleFavoriteInBackground(StoredModel *object);
    QCoro::Task<void> setMasteredInBackground(LearnedCard *card, bool mastered);
    // The same, for a screen that does not wait: a failure is announced by backgroundWriteFailed().
    // `then`, when given, runs once the write has landed or failed, unless `context` is gone.
    void requestToggleFavorite(StoredModel *object);
    void requestSetMastered(LearnedCard *card, bool mastered, QObject *context = nullptr,
                            std::function<void()> then = {});
    // The background writer: the one set, else one of this store's own, made on first use.
    std::shared_ptr<CardStoreActor> backgroundWriter();
    void setBackgroundWriter(std::shared_ptr<CardStoreActor> writer);

    // Ends once every commit of another connection announced to this store before the call has
    // been taken in and announced (externalChangesMerged()).
    QCoro::Task<void> externalChangesTakenIn();
    // Between the first and the last slice of taking in other connections' commits.
    bool isTakingInExternalChanges() const { return m_mergeBusy; }
    // Taken by a list that fetches again over several turns after externalChangesMerged(): until
    // the last hold is dropped, externalChangesTakenIn() does not end, so that a caller awaiting
    // it (a restore) ends once the lists show what was announced.
    std::shared_ptr<void> holdTakingIn();

    // ---- bulk ----
    void deleteAllSongs();
    SongRecord *upsertSong(const QString &key, const QString &title, const QString &artist, const QString &lyrics,
                           const std::optional<QString> &language, const QList<GoldenCard> &cards);
    // Replaces the whole library with the songs `source` writes, in one transaction: every
    // song and card is deleted, then the source's songs are inserted as it produces them (see
    // LibraryWriter). When anything fails, in the source or in the store, all of it is rolled
    // back and the error rethrown unchanged: the library is as it was. On success the objects
    // this store handed out end as deleteAllSongs() leaves them (deleted, released later).
    void replaceLibrary(const LibrarySource &source);
    // Runs `visit` over the stored rows of the whole library in one read transaction (no model
    // objects are made; unsaved changes of held objects are not part of it).
    void readLibrary(const std::function<void(LibraryRowCursor &)> &visit);
    // Once per application: learned-but-unmastered cards become mastered (keeping a stored
    // masteredAt), songs with no plays get one; the flag is set only after that is saved.
    void migrateStudyPanelIfNeeded();
    // The same on the background writer (the study panel's, so that it never waits on a lock):
    // ends once the changes have landed here, or with the store's error.
    QCoro::Task<void> migrateStudyPanelInBackground();

    // ---- further operations ----
    void recordPlay(const QString &key, const QString &title, const QString &artist);
    void saveStory(const QString &key, const QString &title, const QString &artist,
                   const std::optional<QString> &article);
    void insert(SongRecord *song);
    void markLearned(const PersistentIdentifier &id, bool learned);
    void retimeCards(SongRecord *song, const QHash<QString, std::optional<double>> &timestamps);
    void applySongState(const QString &key, bool isFavorite, const QDateTime &favoritedAt, qint64 playCount,
                        const QDateTime &lastPlayedAt, const std::optional<QString> &language,
                        const std::optional<QString> &storyArticle, const std::optional<double> &lyricsOffset);
    void applyCardState(const QString &key, const QString &en, const QString &tag, bool isMastered,
                        const QDateTime &masteredAt, bool isFavorite, const QDateTime &favoritedAt);

    // Runs `work` (any sequence of this store's operations and model writes) as one
    // transaction: it all commits at the end, or, when `work` throws, none of it does and
    // the models are as before. The exception is rethrown unchanged.
    template<class F>
    auto transaction(F &&work) -> decltype(work())
    {
        if constexpr (std::is_void_v<decltype(work())>) {
            m_context->perform(std::forward<F>(work));
            announceMerged();
        } else {
            auto result = m_context->perform(std::forward<F>(work));
            announceMerged();
            return result;
        }
    }

signals:
    // The keys in no particular order.
    void externalChangesMerged(const QStringList &songKeys);
    // The store lets go of an object it handed out: deleted (here or by another connection's
    // commit) or forgotten. Emitted from inside the store's work (a commit, a merge slice), so
    // that a list shows null in its place at once: a receiver drops the object and starts no
    // operation of the store. The object is still alive and is released on a later turn.
    void objectReleased(const StoredModel *object);
    // The lastPlayedAt of a song the store handed out changed (played here, by the background
    // writer, or set on the object).
    void songLastPlayedAtChanged(SongRecord *song);
    // A write of requestToggleFavorite() / requestSetMastered() failed (the error as the task
    // would have thrown it); nothing was changed.
    void backgroundWriteFailed(std::exception_ptr error);

private:
    void mergeExternalChanges();
    void mergeSlice();
    void finishMerge();
    void announceMerged();
    void announceMergedKeys();
    QDateTime now() const;
    static QCoro::Task<void> migrated(QPointer<CardStore> self, QCoro::Task<void> migration);
    static QCoro::Task<void> report(QPointer<CardStore> self, QCoro::Task<void> write, QPointer<QObject> context,
                                    std::function<void()> then);

    // The window's thread takes in other connections' commits in slices of this length.
    static constexpr std::chrono::milliseconds mergeSliceLength{8};

    std::unique_ptr<ModelContext> m_context;
    WallClock *m_clock;
    std::shared_ptr<CardStoreActor> m_writer;
    bool m_mergeBusy = false; // taking in other connections' commits, a slice per turn
    int m_takingInHolds = 0;
    std::shared_ptr<AsyncSignal> m_merged; // fired after each announcement, and when the store goes
};

Q_DECLARE_METATYPE(std::exception_ptr)
