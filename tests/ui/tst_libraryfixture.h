#pragma once

// A small library for the study library's tests: songs with the given artists, cards that are
// favourite or mastered, on a hand-driven wall clock.

#include "tst_nowfixture.h"

#include "core/store/LearnedCard.h"
#include "core/store/SongRecord.h"
#include "ui/library/CardGridModel.h"
#include "ui/library/SongListModel.h"

#include <QAbstractItemModelTester>

struct LibraryWorld : NowWorld
{
    static QString keyOf(const QString &title, const QString &artist)
    {
        NowPlayingTrack t;
        t.title = title;
        t.artist = artist;
        return t.songKey();
    }

    // The study panel's inputs, as the main view hands them down (motion reduced).
    QVariantMap panelProperties()
    {
        return {{"vm", QVariant::fromValue<QObject *>(&vm)},
                {"cardStore", QVariant::fromValue<QObject *>(store.get())},
                {"cardLighting", QVariant::fromValue<QObject *>(&lighting)},
                {"toastCenter", QVariant::fromValue<QObject *>(&toasts)},
                {"clocks", QVariant::fromValue<QObject *>(&clocks)},
                {"reduceMotion", true}};
    }

    // A played song with `cards` cards ("<title> <i>", tag "t"), one minute after the last one.
    SongRecord *add(const QString &title, const QString &artist = QStringLiteral("Artist"), int cards = 0)
    {
        wall.advance(std::chrono::minutes(1));
        QList<GoldenCard> list;
        for (int i = 0; i < cards; ++i)
            list << golden(QStringLiteral("%1 %2").arg(title).arg(i), QStringLiteral("t"));
        return store->upsertSong(keyOf(title, artist), title, artist, QStringLiteral("lyrics"), QStringLiteral("en"),
                                 list);
    }

    // Lets the event loop release what the store deleted (deferred deletes) and run what that
    // queued.
    static void releaseDeleted()
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        settle();
    }

    void favorite(SongRecord *song)
    {
        wall.advance(std::chrono::minutes(1));
        store->toggleFavorite(song);
    }
    void favorite(LearnedCard *card)
    {
        wall.advance(std::chrono::minutes(1));
        store->toggleFavorite(card);
    }
    void master(LearnedCard *card)
    {
        wall.advance(std::chrono::minutes(1));
        store->markMastered(card);
    }
};

// The lists of the study panel's tabs (History, Favourites' two, Mastered) on one store, and how
// many fetches each had made when it was opened.
struct LibraryTabs
{
    HistoryModel history;
    FavoriteSongsModel favoriteSongs;
    FavoriteCardsModel favoriteCards;
    MasteredCardsModel mastered;
    const QList<StoredListModel *> lists{&history, &favoriteSongs, &favoriteCards, &mastered};
    QList<int> fetchesAtOpen;

    void open(CardStore *store)
    {
        for (StoredListModel *list : lists) {
            list->setCardStore(store);
            fetchesAtOpen << list->fetchCount();
        }
    }
    // Lists that have not been fetched exactly `times` more since open(), by class name.
    QStringList notFetchedAgain(int times) const
    {
        QStringList out;
        for (qsizetype i = 0; i < lists.size(); ++i) {
            if (lists.at(i)->fetchCount() != fetchesAtOpen.at(i) + times)
                out << QString::fromLatin1(lists.at(i)->metaObject()->className());
        }
        return out;
    }
};

// Checks a model's structure for as long as the test lives.
inline std::unique_ptr<QAbstractItemModelTester> tester(QAbstractItemModel *model)
{
    return std::make_unique<QAbstractItemModelTester>(model, QAbstractItemModelTester::FailureReportingMode::QtTest);
}
