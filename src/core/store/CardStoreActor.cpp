#include "core/store/CardStoreActor.h"

#include "core/store/ModelContext.h"
#include "core/store/SongOperations.h"
#include "platform/Clock.h"

#include <cmath>

CardStoreActorError::CardStoreActorError(Kind kind, QString payload)
    : m_kind(kind)
    , m_payload(std::move(payload))
    , m_what((kind == Kind::RecordNotFound ? QStringLiteral("No song with key %1")
                                           : QStringLiteral("No card with identity %1"))
                 .arg(m_payload)
                 .toUtf8())
{
}

// Everything that runs on the actor's thread. The context is made on first use and then
// kept; the model objects of one operation are released when it ends (only snapshots
// leave), so every operation reads the file afresh and sees the other door's commits.
class CardStoreActor::Core
{
public:
    Core(std::shared_ptr<StoreContainer> container, WallClock *clock)
        : m_container(std::move(container))
        , m_clock(clock)
    {
    }

    template<class F>
    auto job(F &&work)
    {
        ModelContext &ctx = context();
        struct Release
        {
            ModelContext &ctx;
            ~Release() { ctx.reset(); }
        } release{ctx};
        return work(ctx);
    }

    void close() { m_context.reset(); }

    std::optional<SongRecordSnapshot> snapshot(const QString &key)
    {
        return job([&](ModelContext &ctx) { return read(ctx, key); });
    }

    SongRecordSnapshot upsertSong(const QString &key, const QString &title, const QString &artist,
                                  const QString &lyrics, const std::optional<QString> &language,
                                  const QList<GoldenCard> &cards)
    {
        return job([&](ModelContext &ctx) {
            SongRecord *song = ctx.perform([&] {
                return SongOperations::upsertSong(ctx, key, title, artist, lyrics, language, cards, now());
            });
            return SongRecordSnapshot::fromRecord(*song);
        });
    }

    SongRecordSnapshot ensureRecord(const QString &key, const QString &title, const QString &artist,
                                    const QString &lyrics, const std::optional<QString> &language)
    {
        return job([&](ModelContext &ctx) {
            SongRecord *song = ctx.perform([&] {
                SongRecord *song = ctx.fetchSong(key);
                if (song) {
                    song->setTitle(title);
                    song->setArtist(artist);
                    song->setLyrics(lyrics);
                    song->setLanguage(language);
                } else {
                    song = new SongRecord(key, title, artist, lyrics, {}, now());
                    song->setLanguage(language);
                    ctx.insert(song);
                }
                return song;
            });
            return SongRecordSnapshot::fromRecord(*song);
        });
    }

    SongRecordSnapshot saveStory(const QString &key, const QString &title, const QString &artist,
                                 const std::optional<QString> &article)
    {
        return job([&](ModelContext &ctx) {
            SongRecord *song = ctx.perform([&] {
                SongRecord *song = existing(ctx, key);
                song->setTitle(title);
                song->setArtist(artist);
                song->setStoryArticle(article);
                return song;
            });
            return SongRecordSnapshot::fromRecord(*song);
        });
    }

    SongRecordSnapshot recordPlay(const QString &key, const QString &title, const QString &artist)
    {
        return job([&](ModelContext &ctx) {
            SongRecord *song = ctx.perform([&] {
                SongRecord *song = ctx.fetchSong(key);
                if (song) {
                    song->setPlayCount(song->playCount() + 1);
                    song->setLastPlayedAt(now());
                } else {
                    song = new SongRecord(key, title, artist, QString(), {}, now());
                    song->setPlayCount(1);
                    song->setLastPlayedAt(now());
                    ctx.insert(song);
                }
                return song;
            });
            return SongRecordSnapshot::fromRecord(*song);
        });
    }

    void deleteSong(const QString &key)
    {
        job([&](ModelContext &ctx) {
            ctx.perform([&] {
                if (SongRecord *song = ctx.fetchSong(key))
                    ctx.remove(song);
            });
        });
    }

    std::optional<SongRecordSnapshot> setLyricsOffset(const QString &key, std::optional<double> offset)
    {
        return job([&](ModelContext &ctx) -> std::optional<SongRecordSnapshot> {
            // NaN would be stored as is and poison every later position; infinities are
            // no offset a user can choose. Neither changes anything.
            if (offset && !std::isfinite(*offset))
                return read(ctx, key);
            SongRecord *song = ctx.perform([&] {
                SongRecord *song = ctx.fetchSong(key);
                if (song)
                    song->setLyricsOffset(offset ? std::optional<double>(SongOperations::roundLyricsOffset(*offset))
                                                 : std::nullopt);
                return song;
            });
            if (!song)
                return std::nullopt;
            return SongRecordSnapshot::fromRecord(*song);
        });
    }

    std::optional<SongRecordSnapshot> retimeCards(const QString &key, const Timestamps &timestamps)
    {
        return job([&](ModelContext &ctx) -> std::optional<SongRecordSnapshot> {
            if (timestamps.isEmpty())
                return read(ctx, key);
            SongRecord *song = ctx.perform([&] {
                SongRecord *song = ctx.fetchSong(key);
                if (song)
                    SongOperations::retimeCards(*song, timestamps);
                return song;
            });
            if (!song)
                return std::nullopt;
            return SongRecordSnapshot::fromRecord(*song);
        });
    }

    SongRecordSnapshot toggleSongFavorite(const QString &songKey)
    {
        return job([&](ModelContext &ctx) {
            SongRecord *song = ctx.perform([&] {
                SongRecord *song = existing(ctx, songKey);
                song->setIsFavorite(!song->isFavorite());
                song->setFavoritedAt(song->isFavorite() ? now() : QDateTime());
                return song;
            });
            return SongRecordSnapshot::fromRecord(*song);
        });
    }

    SongRecordSnapshot toggleCardFavorite(const QString &cardId, const QString &songKey)
    {
        return job([&](ModelContext &ctx) {
            SongRecord *song = ctx.perform([&] {
                SongRecord *song = existing(ctx, songKey);
                LearnedCard *card = cardOf(*song, cardId);
                card->setIsFavorite(!card->isFavorite());
                card->setFavoritedAt(card->isFavorite() ? now() : QDateTime());
                return song;
            });
            return SongRecordSnapshot::fromRecord(*song);
        });
    }

    SongRecordSnapshot toggleMastered(const QString &cardId, const QString &songKey)
    {
        return job([&](ModelContext &ctx) {
            SongRecord *song = ctx.perform([&] {
                SongRecord *song = existing(ctx, songKey);
                LearnedCard *card = cardOf(*song, cardId);
                if (card->isMastered()) {
                    card->setIsMastered(false);
                    card->setLearned(false);
                    card->setMasteredAt(QDateTime());
                } else {
                    card->setIsMastered(true);
                    card->setLearned(true);
                    card->setMasteredAt(now());
                }
                return song;
            });
            return SongRecordSnapshot::fromRecord(*song);
        });
    }

    void toggleFavorite(const WriteTarget &target)
    {
        job([&](ModelContext &ctx) {
            ctx.perform([&] {
                StoredModel *object = resolved(ctx, target);
                if (auto *song = qobject_cast<SongRecord *>(object)) {
                    song->setIsFavorite(!song->isFavorite());
                    song->setFavoritedAt(song->isFavorite() ? now() : QDateTime());
                } else {
                    auto *card = static_cast<LearnedCard *>(object);
                    card->setIsFavorite(!card->isFavorite());
                    card->setFavoritedAt(card->isFavorite() ? now() : QDateTime());
                }
            });
        });
    }

    void setMastered(const WriteTarget &target, bool mastered)
    {
        job([&](ModelContext &ctx) {
            ctx.perform([&] {
                auto *card = static_cast<LearnedCard *>(resolved(ctx, target));
                card->setIsMastered(mastered);
                card->setLearned(mastered);
                card->setMasteredAt(mastered ? now() : QDateTime());
            });
        });
    }

    void migrateStudyPanel()
    {
        job([&](ModelContext &ctx) { ctx.perform([&] { SongOperations::migrateStudyPanel(ctx, now()); }); });
    }

    void replaceLibrary(const LibrarySource &source)
    {
        job([&](ModelContext &ctx) { ctx.perform([&] { ctx.replaceAllRows(source); }); });
    }

private:
    ModelContext &context()
    {
        if (!m_context)
            m_context = std::make_unique<ModelContext>(m_container, ModelContext::Disposal::Immediate, false);
        return *m_context;
    }

    QDateTime now() const { return m_clock->now(); }

    // One read transaction, so the song and its cards come from one state of the file.
    static std::optional<SongRecordSnapshot> read(ModelContext &ctx, const QString &key)
    {
        return ctx.read([&]() -> std::optional<SongRecordSnapshot> {
            SongRecord *song = ctx.fetchSong(key);
            if (!song)
                return std::nullopt;
            return SongRecordSnapshot::fromRecord(*song);
        });
    }

    static SongRecord *existing(ModelContext &ctx, const QString &key)
    {
        SongRecord *song = ctx.fetchSong(key);
        if (!song)
            throw CardStoreActorError::recordNotFound(key);
        return song;
    }

    static StoredModel *resolved(ModelContext &ctx, const WriteTarget &target)
    {
        const PersistentIdentifier &row = target.row;
        if (StoredModel *object = row.isTemporary() ? nullptr : ctx.resolve(row))
            return object;
        // The row was replaced (a restore): the same song or card, when the new library has it.
        if (SongRecord *song = target.songKey.isEmpty() ? nullptr : ctx.fetchSong(target.songKey)) {
            if (row.entity == PersistentIdentifier::Entity::Song)
                return song;
            for (LearnedCard *card : song->cards()) {
                if (card->cardId() == target.cardId)
                    return card;
            }
        }
        throw row.entity == PersistentIdentifier::Entity::Song ? CardStoreActorError::recordNotFound(row.toString())
                                                               : CardStoreActorError::cardNotFound(row.toString());
    }

    static LearnedCard *cardOf(SongRecord &song, const QString &cardId)
    {
        for (LearnedCard *card : song.cards()) {
            if (card->cardId() == cardId)
                return card;
        }
        throw CardStoreActorError::cardNotFound(cardId);
    }

    std::shared_ptr<StoreContainer> m_container;
    WallClock *m_clock;
    std::unique_ptr<ModelContext> m_context;
};

CardStoreActor::CardStoreActor(std::shared_ptr<StoreContainer> container, WallClock *clock)
    : m_core(std::make_shared<Core>(std::move(container), clock ? clock : WallClock::system()))
    , m_executor(QStringLiteral("com.cantorella.CardStoreActor"))
{
}

CardStoreActor::~CardStoreActor()
{
    // The connection and its objects belong to the actor's thread: close them there,
    // after every queued operation.
    m_executor.runBlocking([core = m_core] { core->close(); });
}

QCoro::Task<std::optional<SongRecordSnapshot>> CardStoreActor::snapshot(QString key)
{
    return m_executor.run([core = m_core, key] { return core->snapshot(key); });
}

QCoro::Task<SongRecordSnapshot> CardStoreActor::upsertSong(QString key, QString title, QString artist,
                                                           QString lyrics, std::optional<QString> language,
                                                           QList<GoldenCard> cards)
{
    return m_executor.run([core = m_core, key, title, artist, lyrics, language, cards] {
        return core->upsertSong(key, title, artist, lyrics, language, cards);
    });
}

QCoro::Task<SongRecordSnapshot> CardStoreActor::ensureRecord(QString key, QString title, QString artist,
                                                             QString lyrics, std::optional<QString> language)
{
    return m_executor.run([core = m_core, key, title, artist, lyrics, language] {
        return core->ensureRecord(key, title, artist, lyrics, language);
    });
}

QCoro::Task<SongRecordSnapshot> CardStoreActor::saveStory(QString key, QString title, QString artist,
                                                          std::optional<QString> article)
{
    return m_executor.run(
        [core = m_core, key, title, artist, article] { return core->saveStory(key, title, artist, article); });
}

QCoro::Task<SongRecordSnapshot> CardStoreActor::recordPlay(QString key, QString title, QString artist)
{
    return m_executor.run([core = m_core, key, title, artist] { return core->recordPlay(key, title, artist); });
}

QCoro::Task<void> CardStoreActor::replaceLibrary(LibrarySource source)
{
    return m_executor.run([core = m_core, source = std::move(source)] { core->replaceLibrary(source); });
}

QCoro::Task<void> CardStoreActor::deleteSong(QString key)
{
    return m_executor.run([core = m_core, key] { core->deleteSong(key); });
}

QCoro::Task<std::optional<SongRecordSnapshot>> CardStoreActor::setLyricsOffset(QString key,
                                                                               std::optional<double> offset)
{
    return m_executor.run([core = m_core, key, offset] { return core->setLyricsOffset(key, offset); });
}

QCoro::Task<std::optional<SongRecordSnapshot>> CardStoreActor::retimeCards(QString key, Timestamps timestamps)
{
    return m_executor.run([core = m_core, key, timestamps] { return core->retimeCards(key, timestamps); });
}

QCoro::Task<SongRecordSnapshot> CardStoreActor::toggleFavorite(QString songKey)
{
    return m_executor.run([core = m_core, songKey] { return core->toggleSongFavorite(songKey); });
}

QCoro::Task<SongRecordSnapshot> CardStoreActor::toggleFavorite(QString cardId, QString songKey)
{
    return m_executor.run([core = m_core, cardId, songKey] { return core->toggleCardFavorite(cardId, songKey); });
}

QCoro::Task<SongRecordSnapshot> CardStoreActor::toggleMastered(QString cardId, QString songKey)
{
    return m_executor.run([core = m_core, cardId, songKey] { return core->toggleMastered(cardId, songKey); });
}

QCoro::Task<void> CardStoreActor::toggleFavorite(WriteTarget target)
{
    return m_executor.run([core = m_core, target] { core->toggleFavorite(target); });
}

QCoro::Task<void> CardStoreActor::setMastered(WriteTarget card, bool mastered)
{
    Q_ASSERT(card.row.entity == PersistentIdentifier::Entity::Card);
    return m_executor.run([core = m_core, card, mastered] { core->setMastered(card, mastered); });
}

QCoro::Task<void> CardStoreActor::migrateStudyPanel()
{
    return m_executor.run([core = m_core] { core->migrateStudyPanel(); });
}

QCoro::Task<void> CardStoreActor::barrier()
{
    return m_executor.run([] {});
}
