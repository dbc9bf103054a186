// The Now list's rows model under QAbstractItemModelTester: rows only for slotList whose card
// exists, a reset only when the slotList or their cards change, and a publish that reports only the
// rows whose lit, dimmed or approach value changed.

#include "tst_nowfixture.h"

#include "ui/player/CardSlotRowsModel.h"
#include "ui/player/NowViewRules.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

class TestNowRows : public QObject
{
    Q_OBJECT

private slots:
    void rowsResetsAndPublishes()
    {
        NowWorld w;
        SongRecord *record = w.storeSong(QStringLiteral("Song"), {10, 20, 30});
        QList<LearnedCard *> cards = NowViewRules::liveCards(record);
        CardSlotRowsModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
        QSignalSpy changes(&model, &QAbstractItemModel::dataChanged);

        const QList<CardSlot> slotList = CardSlotExpander::expand(cards);
        // A slot whose card is gone gets no row.
        QHash<QString, LearnedCard *> byId = NowViewRules::cardsById(cards);
        byId.remove(cards.at(1)->cardId());
        const SlotCacheKey key{record->key(), NowViewRules::cardsHash(cards)};
        model.setSlots(key, slotList, byId);
        QCOMPARE(model.rowCount(), 2);
        QCOMPARE(resets.size(), 1);
        QCOMPARE(model.data(model.index(1), CardSlotRowsModel::SlotIdRole).toString(), slotList.at(2).slotId);
        QCOMPARE(model.data(model.index(0), CardSlotRowsModel::SlotLineTimestampRole).toDouble(), 10.0);

        // The same slotList and cards under another key (a card mastered): no reset.
        model.setSlots(SlotCacheKey{record->key(), key.cardsHash + 1}, slotList, byId);
        QCOMPARE(resets.size(), 1);
        // Another card object for a slot: reset.
        model.setSlots(key, slotList, NowViewRules::cardsById(cards));
        QCOMPARE(resets.size(), 2);
        QCOMPARE(model.rowCount(), 3);
        // The same slots, each over a new card object (the library restored under the list):
        // reset, and the rows read the new cards; then back.
        const QList<LearnedCard *> restored = NowViewRules::liveCards(w.storeSong(QStringLiteral("Restored"), {10, 20, 30}));
        QHash<QString, LearnedCard *> restoredById;
        for (qsizetype i = 0; i < cards.size(); ++i)
            restoredById.insert(cards.at(i)->cardId(), restored.at(i));
        model.setSlots(key, slotList, restoredById);
        QCOMPARE(resets.size(), 3);
        QCOMPARE(model.rows().at(2).card, restored.at(2));
        model.setSlots(key, slotList, NowViewRules::cardsById(cards));
        QCOMPARE(resets.size(), 4);
        QCOMPARE(model.rows().at(2).card, cards.at(2));

        CardSlotRowsModel::Playback playback;
        playback.activeSlotId = slotList.at(0).slotId;
        playback.dimUnlit = true;
        playback.upcoming = cards.at(1);
        playback.elapsed = 19.0;
        model.publish(playback);
        QCOMPARE(changes.size(), 3); // lit; approaching and dimmed; dimmed
        QCOMPARE(model.data(model.index(1), CardSlotRowsModel::PreflightProgressRole).toDouble(), 0.5);

        changes.clear();
        model.publish(playback);
        QCOMPARE(changes.size(), 0);

        playback.activeSlotId = slotList.at(1).slotId;
        playback.upcoming = cards.at(2);
        playback.elapsed = 20.0;
        model.publish(playback);
        QCOMPARE(changes.size(), 2); // the third stays dimmed and not yet approaching
        QVERIFY(model.data(model.index(1), CardSlotRowsModel::IsActiveRole).toBool());
        QVERIFY(!model.data(model.index(1), CardSlotRowsModel::IsDimmedRole).toBool());
        QCOMPARE(model.data(model.index(1), CardSlotRowsModel::PreflightProgressRole).toDouble(), 0.0);

        model.clear();
        QCOMPARE(model.rowCount(), 0);
    }

    void ruleHelpers()
    {
        NowWorld w;
        SongRecord *record = w.storeSong(QStringLiteral("Song"), {10, 20});
        const QList<LearnedCard *> cards = NowViewRules::liveCards(record);
        const size_t before = NowViewRules::cardsHash(cards);
        w.store->toggleFavorite(cards.first());
        QCOMPARE(NowViewRules::cardsHash(cards), before); // favourites do not rebuild the list
        w.store->markMastered(cards.first());
        QVERIFY(NowViewRules::cardsHash(cards) != before);
        QCOMPARE(NowViewRules::nextTimedCard(cards, 10.0), cards.at(1));
        QCOMPARE(NowViewRules::nextTimedCard(cards, 20.0), nullptr);
    }

    void preflightProgress_data()
    {
        QTest::addColumn<double>("secondsBefore");
        QTest::addColumn<double>("progress");
        QTest::newRow("1.5 s before") << 1.5 << 0.25;
        QTest::newRow("exactly 2 s before") << 2.0 << 0.0;
        QTest::newRow("at the line") << 0.0 << 0.0;
        QTest::newRow("0.5 s before") << 0.5 << 0.75;
    }
    void preflightProgress()
    {
        QFETCH(double, secondsBefore);
        QFETCH(double, progress);
        QCOMPARE(NowViewRules::preflightProgress(30.0, 30.0 - secondsBefore), progress);
        QCOMPARE(NowViewRules::preflightProgress(std::nullopt, 0), 0.0);
    }
};

QTEST_MAIN(TestNowRows)
#include "tst_nowrows.moc"
