#include "core/store/CardStore.h"

#include "core/AppLog.h"

#include "core/store/CardStoreActor.h"
#include "core/store/SongOperations.h"
#include "platform/Async.h"
#include "platform/Clock.h"
#include "platform/Text.h"

#include <QSettings>
#include <QTimer>

CardStoreError::CardStoreError(PersistentIdentifier id)
    : m_id(id)
    , m_what(QStringLiteral("No card with identifier %1").arg(id.toString()).toUtf8())
{
}

CardStore::CardStore(std::shared_ptr<StoreContainer> container, WallClock *clock, QObject *parent)
    : QObject(parent)
    , m_context(std::make_unique<ModelContext>(std::move(container), ModelContext::Disposal::Deferred, true,
                                             StoreContainer::CommitSync::InBackground))
    , m_clock(clock ? clock : WallClock::system())
    , m_merged(std::make_shared<AsyncSignal>())
{
    // Called on the committing thread (under the context's lock, so never after the
    // notifier is cleared in the destructor); the merge itself runs here on our thread.
    m_context->setExternalChangeNotifier([this] {
        QMetaObject::invokeMethod(this, &CardStore::mergeExternalChanges, Qt::QueuedConnection);
    });
    ModelContext::Observer observer;
    observer.released = [this](StoredModel *object) { emit objectReleased(object); };
    observer.changed = [this](StoredModel *object, int field) {
        if (field == SongRecord::LastPlayedAt && object->id().entity == PersistentIdentifier::Entity::Song)
            emit songLastPlayedAtChanged(static_cast<SongRecord *>(object));
    };
    m_context->setObserver(std::move(observer));
}

CardStore::~CardStore()
{
    m_context->setExternalChangeNotifier({});
    m_context->setObserver({}); // the objects die with the context, after this object's signals
    m_merged->fire(); // waiters see the store gone
}

QDateTime CardStore::now() const
{
    return m_clock->now();
}

void CardStore::mergeExternalChanges()
{
    if (m_mergeBusy)
        return; // the slices under way take these in too
    m_mergeBusy = true;
    mergeSlice();
}

void CardStore::mergeSlice()
{
    if (m_context->inUnitOfWork()) {
        // Taken in when the open unit ends (announceMerged()).
        m_mergeBusy = false;
        return;
    }
    bool done = true;
    try {
        done = m_context->mergeExternalChangesFor(mergeSliceLength);
    } catch (const std::exception &error) {
        // There is no caller to take the error. The objects keep their last values; a fetch
        // reads them again.
        qCWarning(lcPersistence, "Refreshing after another connection's commit failed: %s", error.what());
        m_context->abandonExternalChanges();
    }
    // The rest on a later turn, after the events waiting now (input, frames, timers); so is the
    // announcement, whose receivers fetch their lists again.
    QTimer::singleShot(0, this, done ? &CardStore::finishMerge : &CardStore::mergeSlice);
}

void CardStore::finishMerge()
{
    if (m_context->hasExternalChangesPending()) {
        mergeSlice(); // more came in meanwhile
        return;
    }
    m_mergeBusy = false;
    announceMergedKeys();
}

void CardStore::announceMerged()
{
    if (m_context->inUnitOfWork())
        return;
    // Runs after our own unit of work has committed: a failed re-read must not escape (the
    // caller's work already succeeded). The objects keep their last values and are refreshed
    // by the next merge.
    try {
        m_context->mergeExternalChanges();
    } catch (const std::exception &error) {
        qCWarning(lcPersistence, "Refreshing after another connection's commit failed: %s", error.what());
        m_context->abandonExternalChanges();
    }
    m_mergeBusy = false;
    announceMergedKeys();
}

void CardStore::announceMergedKeys()
{
    const QSet<QString> keys = m_context->takeMergedKeys();
    if (!keys.isEmpty()) {
        const QStringList list(keys.begin(), keys.end());
        emit externalChangesMerged(list);
    }
    m_merged->fire();
}

QCoro::Task<void> CardStore::externalChangesTakenIn()
{
    QPointer<CardStore> self(this);
    const std::shared_ptr<AsyncSignal> merged = m_merged;
    std::function<bool()> done = [self] {
        return !self
            || (!self->m_mergeBusy && self->m_takingInHolds == 0 && !self->m_context->hasExternalChangesPending());
    };
    co_await detail::waitUntil(merged.get(), done, CancellationToken());
}

std::shared_ptr<void> CardStore::holdTakingIn()
{
    ++m_takingInHolds;
    return std::shared_ptr<void>(nullptr, [self = QPointer<CardStore>(this), merged = m_merged](void *) {
        if (self)
            --self->m_takingInHolds;
        merged->fire();
    });
}

// ---- the window's writes ------------------------------------------------------------

std::shared_ptr<CardStoreActor> CardStore::backgroundWriter()
{
    if (!m_writer)
        m_writer = std::make_shared<CardStoreActor>(m_context->container().shared_from_this(), m_clock);
    return m_writer;
}

void CardStore::setBackgroundWriter(std::shared_ptr<CardStoreActor> writer)
{
    m_writer = std::move(writer);
}

namespace {

// After the write: the commit notice reached the store before this resumes; wait until it is
// taken in, so the caller sees the object changed.
QCoro::Task<void> landed(QPointer<CardStore> store, QCoro::Task<void> write)
{
    co_await std::move(write);
    if (store)
        co_await store->externalChangesTakenIn();
}

QCoro::Task<void> nothingToDo()
{
    co_return;
}

// An object that stands for no stored row: the write fails as one whose row is gone.
QCoro::Task<void> noRow(PersistentIdentifier id)
{
    throw id.entity == PersistentIdentifier::Entity::Song ? CardStoreActorError::recordNotFound(id.toString())
                                                          : CardStoreActorError::cardNotFound(id.toString());
    co_return;
}

// The row the user acted on and the key of its song (and card), read at the tap: the write
// applies to the same key when a restore has replaced the row by the time it runs.
WriteTarget targetOf(StoredModel *object)
{
    if (auto *song = qobject_cast<SongRecord *>(object))
        return {song->id(), song->key(), {}};
    auto *card = static_cast<LearnedCard *>(object);
    // A released card's song may be gone already: its own copy of the key then.
    SongRecord *song = card->isDeleted() ? nullptr : card->song();
    return {card->id(), song ? song->key() : card->songKey(), card->cardId()};
}

} // namespace

QCoro::Task<void> CardStore::toggleFavoriteInBackground(StoredModel *object)
{
    if (object->rowId() <= 0)
        return noRow(object->id());
    // A released object still names its key: the writer finds the restored one, if any.
    return landed(this, backgroundWriter()->toggleFavorite(targetOf(object)));
}

QCoro::Task<void> CardStore::setMasteredInBackground(LearnedCard *card, bool mastered)
{
    if (card->rowId() <= 0)
        return noRow(card->id());
    return landed(this, backgroundWriter()->setMastered(targetOf(card), mastered));
}

QCoro::Task<void> CardStore::migrateStudyPanelInBackground()
{
    if (QSettings().value(QLatin1String(migrationFlagKey), false).toBool())
        return nothingToDo();
    return migrated(this, backgroundWriter()->migrateStudyPanel());
}

QCoro::Task<void> CardStore::migrated(QPointer<CardStore> self, QCoro::Task<void> migration)
{
    co_await std::move(migration);
    // Only after the save succeeded: a failed run leaves the flag unset and runs again.
    QSettings settings;
    settings.setValue(QLatin1String(migrationFlagKey), true);
    settings.sync();
    if (self)
        co_await self->externalChangesTakenIn();
}

QCoro::Task<void> CardStore::report(QPointer<CardStore> self, QCoro::Task<void> write, QPointer<QObject> context,
                                     std::function<void()> then)
{
    std::exception_ptr failure;
    try {
        co_await std::move(write);
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure && self)
        emit self->backgroundWriteFailed(failure);
    if (then && context)
        then();
}

void CardStore::requestToggleFavorite(StoredModel *object)
{
    [[maybe_unused]] QCoro::Task<void> running = report(this, toggleFavoriteInBackground(object), nullptr, {});
}

void CardStore::requestSetMastered(LearnedCard *card, bool mastered, QObject *context, std::function<void()> then)
{
    [[maybe_unused]] QCoro::Task<void> running =
        report(this, setMasteredInBackground(card, mastered), context, std::move(then));
}

// ---- queries ------------------------------------------------------------------------

QList<SongRecord *> CardStore::allSongs()
{
    return m_context->fetchSongs(ModelContext::SongFetch::ByLastPlayedDesc);
}

QList<SongRecord *> CardStore::favoriteSongs()
{
    return m_context->fetchSongs(ModelContext::SongFetch::FavoritesByFavoritedAtDesc);
}

QList<LearnedCard *> CardStore::favoriteCards()
{
    return m_context->fetchCards(ModelContext::CardFetch::FavoritesByFavoritedAtDesc);
}

QList<LearnedCard *> CardStore::masteredCards()
{
    return m_context->fetchCards(ModelContext::CardFetch::MasteredByMasteredAtDesc);
}

SongRecord *CardStore::record(const QString &key)
{
    return m_context->fetchSong(key);
}

// ---- the user's changes -------------------------------------------------------------

void CardStore::toggleFavorite(SongRecord *song)
{
    transaction([&] {
        song->setIsFavorite(!song->isFavorite());
        song->setFavoritedAt(song->isFavorite() ? now() : QDateTime());
    });
}

void CardStore::toggleFavorite(LearnedCard *card)
{
    transaction([&] {
        card->setIsFavorite(!card->isFavorite());
        card->setFavoritedAt(card->isFavorite() ? now() : QDateTime());
    });
}

void CardStore::markMastered(LearnedCard *card)
{
    transaction([&] {
        card->setIsMastered(true);
        card->setLearned(true);
        card->setMasteredAt(now());
    });
}

void CardStore::unmarkMastered(LearnedCard *card)
{
    transaction([&] {
        card->setIsMastered(false);
        card->setLearned(false);
        card->setMasteredAt(QDateTime());
    });
}

// ---- bulk ---------------------------------------------------------------------------

void CardStore::deleteAllSongs()
{
    transaction([&] { m_context->remove(m_context->fetchSongs(ModelContext::SongFetch::All)); });
}

SongRecord *CardStore::upsertSong(const QString &key, const QString &title, const QString &artist,
                                  const QString &lyrics, const std::optional<QString> &language,
                                  const QList<GoldenCard> &cards)
{
    return transaction([&] {
        return SongOperations::upsertSong(*m_context, key, title, artist, lyrics, language, cards, now());
    });
}

void CardStore::migrateStudyPanelIfNeeded()
{
    QSettings settings;
    if (settings.value(QLatin1String(migrationFlagKey), false).toBool())
        return;
    transaction([&] { SongOperations::migrateStudyPanel(*m_context, now()); });
    // Only after the save succeeded: a failed run leaves the flag unset and runs again.
    settings.setValue(QLatin1String(migrationFlagKey), true);
    settings.sync();
}

// ---- further operations -------------------------------------------------------------

void CardStore::recordPlay(const QString &key, const QString &title, const QString &artist)
{
    transaction([&] {
        SongRecord *song = m_context->fetchSong(key);
        if (!song) {
            song = new SongRecord(key, title, artist, QString(), {}, now());
            song->setPlayCount(1);
            song->setLastPlayedAt(now());
            m_context->insert(song);
        } else {
            song->setPlayCount(song->playCount() + 1);
            song->setLastPlayedAt(now());
        }
    });
}

void CardStore::saveStory(const QString &key, const QString &title, const QString &artist,
                          const std::optional<QString> &article)
{
    transaction([&] {
        if (SongRecord *song = m_context->fetchSong(key)) {
            song->setTitle(title);
            song->setArtist(artist);
            song->setStoryArticle(article);
        }
    });
}

void CardStore::insert(SongRecord *song)
{
    transaction([&] {
        m_context->insert(song);
        for (LearnedCard *card : song->cards())
            m_context->insert(card);
    });
}

void CardStore::markLearned(const PersistentIdentifier &id, bool learned)
{
    transaction([&] {
        auto *card = qobject_cast<LearnedCard *>(m_context->resolve(id));
        if (!card)
            throw CardStoreError::cardNotFound(id);
        card->setLearned(learned);
    });
}

void CardStore::retimeCards(SongRecord *song, const QHash<QString, std::optional<double>> &timestamps)
{
    if (timestamps.isEmpty())
        return;
    transaction([&] { SongOperations::retimeCards(*song, timestamps); });
}

void CardStore::applySongState(const QString &key, bool isFavorite, const QDateTime &favoritedAt, qint64 playCount,
                               const QDateTime &lastPlayedAt, const std::optional<QString> &language,
                               const std::optional<QString> &storyArticle,
                               const std::optional<double> &lyricsOffset)
{
    transaction([&] {
        SongRecord *song = m_context->fetchSong(key);
        if (!song)
            return;
        song->setIsFavorite(isFavorite);
        song->setFavoritedAt(favoritedAt);
        song->setPlayCount(playCount);
        song->setLastPlayedAt(lastPlayedAt);
        song->setLanguage(language);
        song->setStoryArticle(storyArticle);
        song->setLyricsOffset(lyricsOffset);
    });
}

void CardStore::applyCardState(const QString &key, const QString &en, const QString &tag, bool isMastered,
                               const QDateTime &masteredAt, bool isFavorite, const QDateTime &favoritedAt)
{
    transaction([&] {
        SongRecord *song = m_context->fetchSong(key);
        if (!song)
            return;
        for (LearnedCard *card : song->cards()) {
            if (Text::canonicallyEqual(card->en(), en) && Text::canonicallyEqual(card->tag(), tag)) {
                card->setIsMastered(isMastered);
                card->setMasteredAt(masteredAt);
                card->setLearned(isMastered);
                card->setIsFavorite(isFavorite);
                card->setFavoritedAt(favoritedAt);
                return;
            }
        }
    });
}
