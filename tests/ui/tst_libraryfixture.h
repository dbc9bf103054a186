#pragma once

// A small library for the study library's tests: songs with the given artists, cards that are
// favourite or mastered, on a hand-driven wall clock.

#include "tst_nowfixture.h"

#include "core/store/LearnedCard.h"
#include "core/store/SongRecord.h"

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

// Checks a model's structure for as long as the test lives.
inline std::unique_ptr<QAbstractItemModelTester> tester(QAbstractItemModel *model)
{
    return std::make_unique<QAbstractItemModelTester>(model, QAbstractItemModelTester::FailureReportingMode::QtTest);
}
