#include "session/LocalCardsRepository.h"

#include "core/store/CardStore.h"
#include "core/store/LearnedCard.h"
#include "core/store/SongRecord.h"

namespace {

LocalCardsRepository::LookupResult lookupIn(CardStore *store, const QString &songKey)
{
    using Result = LocalCardsRepository::LookupResult;
    if (!store)
        return Result::missing();
    try {
        SongRecord *record = store->record(songKey);
        if (!record)
            return Result::missing();
        QList<GoldenCard> cards;
        for (const LearnedCard *card : record->cards())
            cards.append(LocalCardsRepository::goldenCard(*card));
        return cards.isEmpty() ? Result::missing() : Result::hit(std::move(cards));
    } catch (...) {
        return Result::missing();
    }
}

// Touches only what it was given: the repository may be gone by the time the client answers.
QCoro::Task<QList<GoldenCard>> generateAndStore(QPointer<CardStore> store, std::shared_ptr<LLMProvider> llm,
                                                NowPlayingTrack track, QString lyrics, CancellationToken token)
{
    const QString key = track.songKey();
    const LocalCardsRepository::LookupResult stored = lookupIn(store, key);
    if (stored.isHit())
        co_return stored.cards();

    const std::optional<QString> noLanguage;
    auto fetching = llm->fetchCards(lyrics, track, noLanguage, token);
    QList<GoldenCard> cards = co_await std::move(fetching);

    // The user's graph was dropped while the client worked: there is no store to write to.
    if (!store)
        throw CancelledError();
    store->upsertSong(key, track.title, track.artist, lyrics, std::nullopt, cards);
    co_return cards;
}

} // namespace

LocalCardsRepository::LocalCardsRepository(CardStore *cardStore, std::shared_ptr<LLMProvider> llm)
    : m_cardStore(cardStore)
    , m_llm(std::move(llm))
{
}

LocalCardsRepository::LookupResult LocalCardsRepository::lookup(const QString &songKey) const
{
    return lookupIn(m_cardStore, songKey);
}

QCoro::Task<QList<GoldenCard>> LocalCardsRepository::lookupOrGenerate(NowPlayingTrack track, QString lyrics,
                                                                      CancellationToken token)
{
    return generateAndStore(m_cardStore, m_llm, std::move(track), std::move(lyrics), std::move(token));
}

GoldenCard LocalCardsRepository::goldenCard(const LearnedCard &card)
{
    GoldenCard golden;
    golden.en = card.en();
    golden.cn = card.cn();
    golden.note = card.note();
    golden.example = card.example();
    golden.tag = card.tag();
    golden.lineTimestamp = card.lineTimestamp();
    return golden;
}
