#pragma once

#include "core/GoldenCard.h"
#include "core/store/LibraryRows.h"
#include "core/store/Snapshots.h"
#include "core/store/StoredModel.h"
#include "platform/Async.h"

#include <QHash>
#include <QString>

#include <exception>
#include <memory>
#include <optional>

class StoreContainer;
class WallClock;

// The background store's own error. It carries no user message.
class CardStoreActorError : public std::exception
{
public:
    enum class Kind { RecordNotFound, CardNotFound };

    static CardStoreActorError recordNotFound(const QString &songKey) { return {Kind::RecordNotFound, songKey}; }
    static CardStoreActorError cardNotFound(const QString &cardId) { return {Kind::CardNotFound, cardId}; }

    Kind kind() const { return m_kind; }
    // The song key (recordNotFound) or card identity (cardNotFound) that was looked up.
    QString payload() const { return m_payload; }
    const char *what() const noexcept override { return m_what.constData(); }

    friend bool operator==(const CardStoreActorError &a, const CardStoreActorError &b)
    {
        return a.m_kind == b.m_kind && a.m_payload == b.m_payload;
    }

private:
    CardStoreActorError(Kind kind, QString payload);

    Kind m_kind;
    QString m_payload;
    QByteArray m_what;
};

// What a window's write acts on: the stored row the user saw, and the key that names the same
// song or card in a library a restore put in its place (the song's key; for a card also its
// cardId() within the song). An empty songKey names nothing beyond the row.
struct WriteTarget
{
    PersistentIdentifier row;
    QString songKey;
    QString cardId;
};

// The playback pipeline's door onto the user's study store. Its operations run one at a
// time, each to its end, on a thread of its own with a connection of its own (made on
// first use), and hand back snapshots only. Each operation is one transaction that
// commits once at its end or rolls back completely; errors (StoreError,
// CardStoreActorError) reach the awaiting caller unchanged. Other contexts on the same
// file (the GUI thread's CardStore) learn of every commit.
class CardStoreActor
{
public:
    using Timestamps = QHash<QString, std::optional<double>>;

    explicit CardStoreActor(std::shared_ptr<StoreContainer> container, WallClock *clock = nullptr);
    ~CardStoreActor();
    CardStoreActor(const CardStoreActor &) = delete;

    QCoro::Task<std::optional<SongRecordSnapshot>> snapshot(QString key);
    QCoro::Task<SongRecordSnapshot> upsertSong(QString key, QString title, QString artist, QString lyrics,
                                               std::optional<QString> language, QList<GoldenCard> cards);
    QCoro::Task<SongRecordSnapshot> ensureRecord(QString key, QString title, QString artist, QString lyrics,
                                                 std::optional<QString> language);
    // No song: CardStoreActorError::recordNotFound.
    QCoro::Task<SongRecordSnapshot> saveStory(QString key, QString title, QString artist,
                                              std::optional<QString> article);
    // A song first made here has play count 1, empty lyrics and no language.
    QCoro::Task<SongRecordSnapshot> recordPlay(QString key, QString title, QString artist);
    QCoro::Task<void> deleteSong(QString key);
    // Rounds the offset to the 0.05 s grid within ±2 s; no offset clears it. A value that
    // is not finite changes nothing. No song: none, and nothing is made.
    QCoro::Task<std::optional<SongRecordSnapshot>> setLyricsOffset(QString key, std::optional<double> offset);
    QCoro::Task<std::optional<SongRecordSnapshot>> retimeCards(QString key, Timestamps timestamps);
    QCoro::Task<SongRecordSnapshot> toggleFavorite(QString songKey);
    QCoro::Task<SongRecordSnapshot> toggleFavorite(QString cardId, QString songKey);
    QCoro::Task<SongRecordSnapshot> toggleMastered(QString cardId, QString songKey);
    // The window's writes (CardStore's background writes). Each names what the user acted on:
    // toggles its favourite flag, or sets its mastered state (mastering renews masteredAt;
    // unmastering also clears learned). When the row is gone by the time the write runs (a
    // restore replaced the library), the write applies to the song or card of the same key
    // instead; when there is none either (the song was deleted, or the restore did not bring it
    // back), it fails with recordNotFound / cardNotFound carrying the row's identifier, and
    // changes nothing.
    QCoro::Task<void> toggleFavorite(WriteTarget target);
    QCoro::Task<void> setMastered(WriteTarget card, bool mastered);
    // The study panel's one-time migration (SongOperations::migrateStudyPanel) as one operation;
    // the caller keeps the flag that it ran.
    QCoro::Task<void> migrateStudyPanel();
    // CardStore::replaceLibrary on the actor's thread: the whole library replaced in one
    // transaction, `source` run there too. The window's CardStore takes the new library in
    // from the commit notice, which reaches its thread before this task resumes.
    QCoro::Task<void> replaceLibrary(LibrarySource source);
    // Does nothing itself; ends once every operation handed to the actor before it has ended.
    // Awaited before a library restore, so that a write the pipeline handed over earlier
    // lands before the restore instead of over it.
    QCoro::Task<void> barrier();

    class Core;

private:
    std::shared_ptr<Core> m_core;
    SerialExecutor m_executor; // declared last: its thread ends before m_core goes
};
