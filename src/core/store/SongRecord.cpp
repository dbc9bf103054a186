#include "core/store/SongRecord.h"

#include "core/AppLog.h"

#include "core/store/LearnedCard.h"
#include "core/store/ModelContext.h"

SongRecord::SongRecord(const QString &key, const QString &title, const QString &artist, const QString &lyrics,
                       const QList<LearnedCard *> &cards, const QDateTime &now)
    : StoredModel(PersistentIdentifier::Entity::Song)
{
    m_v.key = key;
    m_v.title = title;
    m_v.artist = artist;
    m_v.lyrics = lyrics;
    m_v.lastPlayedAt = now;
    m_v.isFavorite = false;
    m_v.playCount = 0;
    for (LearnedCard *card : cards)
        card->setSong(this);
}

SongRecord::SongRecord(Rehydrate, const SongValues &values)
    : StoredModel(PersistentIdentifier::Entity::Song)
    , m_v(values)
    , m_cardsLoaded(false)
{
}

SongRecord::~SongRecord() = default;

void SongRecord::ensureCardsLoaded()
{
    if (m_cardsLoaded)
        return;
    if (ModelContext *context = modelContext())
        context->loadCards(this);
    m_cardsLoaded = true;
}

QList<LearnedCard *> SongRecord::cards()
{
    ensureCardsLoaded();
    return m_cards;
}

QList<QObject *> SongRecord::cardObjects()
{
    // Read by QML: no exception may cross the meta-object call. A failed load shows no
    // cards and is tried again on the next read.
    try {
        ensureCardsLoaded();
    } catch (const std::exception &error) {
        qCWarning(lcPersistence, "Loading the cards of a song failed: %s", error.what());
    }
    QList<QObject *> out;
    out.reserve(m_cards.size());
    for (LearnedCard *card : std::as_const(m_cards))
        out.append(card);
    return out;
}

void SongRecord::setCards(const QList<LearnedCard *> &cards)
{
    ensureCardsLoaded();
    const QList<LearnedCard *> old = m_cards;
    for (LearnedCard *card : old) {
        if (!cards.contains(card))
            card->setSong(nullptr);
    }
    for (LearnedCard *card : cards)
        card->setSong(this);
    if (m_cards != cards) {
        willChange();
        m_cards = cards;
        emit cardsChanged();
    }
}

void SongRecord::attachCard(LearnedCard *card)
{
    ensureCardsLoaded();
    if (!m_cards.contains(card)) {
        willChange();
        m_cards.append(card);
        emit cardsChanged();
    }
    // A new card that joins a song of a context joins the context too.
    if (ModelContext *context = modelContext(); context && card->state() == ModelState::New)
        context->insert(card);
}

void SongRecord::detachCard(LearnedCard *card)
{
    if (!m_cardsLoaded || !m_cards.contains(card))
        return;
    willChange();
    m_cards.removeOne(card);
    emit cardsChanged();
}
