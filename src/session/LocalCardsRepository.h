#pragma once

#include "backend/LLMProvider.h"
#include "core/GoldenCard.h"
#include "platform/Cancellation.h"

#include <QList>
#include <QPointer>
#include <QString>

#include <qcoro/qcorotask.h>

#include <memory>

class CardStore;
class LearnedCard;

// Does the study library already hold cards for a song? Looks the song up in the GUI thread's
// store. Also offers a lookup that falls back to having the cards client write the cards and
// storing them. GUI thread only.
class LocalCardsRepository
{
public:
    class LookupResult
    {
    public:
        // The song's stored cards; never empty.
        static LookupResult hit(QList<GoldenCard> cards) { return LookupResult(std::move(cards)); }
        // No record, a record without cards, or the store could not be read.
        static LookupResult missing() { return LookupResult({}); }

        bool isHit() const { return !m_cards.isEmpty(); }
        const QList<GoldenCard> &cards() const { return m_cards; }
        friend bool operator==(const LookupResult &, const LookupResult &) = default;

    private:
        explicit LookupResult(QList<GoldenCard> cards) : m_cards(std::move(cards)) {}
        QList<GoldenCard> m_cards;
    };

    // `cardStore` is shared, not owned.
    LocalCardsRepository(CardStore *cardStore, std::shared_ptr<LLMProvider> llm);

    // Never fails: a store that cannot be read answers `missing`, so the caller generates cards.
    LookupResult lookup(const QString &songKey) const;

    // The stored cards, or else new ones from the cards client (no target language), stored with
    // the song (no language) and returned. Fails with the client's error (nothing is stored) or
    // the store's; the fetched cards are returned only once they are stored.
    QCoro::Task<QList<GoldenCard>> lookupOrGenerate(NowPlayingTrack track, QString lyrics,
                                                    CancellationToken token = {});

    // A stored card as a golden card: the texts and line time; the hints are left out.
    static GoldenCard goldenCard(const LearnedCard &card);

private:
    QPointer<CardStore> m_cardStore;
    std::shared_ptr<LLMProvider> m_llm;
};
