#include "tst_libraryfixture.h"

#include "core/store/CardStoreActor.h"
#include "ui/library/CardGridModel.h"
#include "ui/library/CellTapArbiter.h"
#include "ui/library/HistoryFilterModel.h"
#include "ui/library/LibraryRules.h"
#include "ui/library/SongFavoriteController.h"
#include "ui/library/SongListModel.h"
#include "ui/library/StudyPanelController.h"

#include <QSignalSpy>
#include <QtTest>

#include <sqlite3.h>

// The study library's lists, filter and controllers against a real store, without QML.
class TstLibraryModels : public QObject
{
    Q_OBJECT

    static QStringList titles(const QAbstractItemModel &model)
    {
        QStringList out;
        for (int row = 0; row < model.rowCount(); ++row) {
            auto *song = model.index(row, 0).data(SongListModel::SongRole).value<SongRecord *>();
            out << (song ? song->title() : QStringLiteral("<null>"));
        }
        return out;
    }
    static QStringList phrases(const CardGridModel &model)
    {
        QStringList out;
        for (int i = 0; i < model.count(); ++i)
            out << (model.cardAt(i) ? model.cardAt(i)->en() : QStringLiteral("<null>"));
        return out;
    }

private slots:
    // Presses separated by "|" (the events are delivered in between); within a press, the taps
    // that reach the song label and the cell, in their order.
    void cellTapsWithoutTheLabel_data()
    {
        QTest::addColumn<QString>("presses");
        QTest::addColumn<int>("cellTaps");
        QTest::newRow("cell alone") << "cell" << 1;
        QTest::newRow("label, then cell") << "label cell" << 0;
        QTest::newRow("cell, then label") << "cell label" << 0;
        QTest::newRow("label alone") << "label" << 0;
        QTest::newRow("one press reported twice") << "cell cell" << 1;
        QTest::newRow("two presses") << "cell|cell" << 2;
        QTest::newRow("a label-only press leaves the next cell tap alone") << "label|cell" << 1;
        QTest::newRow("label press between cell presses") << "cell|label cell|cell" << 2;
    }
    void cellTapsWithoutTheLabel()
    {
        QFETCH(QString, presses);
        QFETCH(int, cellTaps);
        CellTapArbiter arbiter;
        QSignalSpy confirmed(&arbiter, &CellTapArbiter::cellTapConfirmed);
        for (const QString &press : presses.split(u'|')) {
            for (const QString &tap : press.split(u' '))
                tap == QLatin1String("label") ? arbiter.labelTapped() : arbiter.cellTapped();
            QCoreApplication::processEvents();
        }
        QCOMPARE(confirmed.size(), cellTaps);
    }

    void filter_data()
    {
        QTest::addColumn<QStringList>("songs"); // "title/artist", stored in this order (last played first)
        QTest::addColumn<QString>("search");
        QTest::addColumn<QStringList>("shown");
        QTest::addColumn<QString>("emptyMessage");

        const QStringList two{"Danny Boy/Frederic Weatherly", "Greensleeves/Traditional"};
        QTest::newRow("empty text keeps all") << two << "" << QStringList{"Greensleeves", "Danny Boy"} << "";
        QTest::newRow("trimmed, any case") << two << "  GREEN " << QStringList{"Greensleeves"} << "";
        QTest::newRow("artist only") << two << "weatherly" << QStringList{"Danny Boy"} << "";
        QTest::newRow("spaces match nothing") << two << "   " << QStringList{} << "没有匹配的歌曲";
        QTest::newRow("no match") << two << "zzz" << QStringList{} << "没有匹配的歌曲";
        QTest::newRow("no songs") << QStringList{} << "x" << QStringList{} << "还没有播放记录";
        QTest::newRow("no songs, no text") << QStringList{} << "" << QStringList{} << "还没有播放记录";
        QTest::newRow("decomposed query, precomposed title")
            << QStringList{"Caf\u00e9/X", "Cafe/X"} << "cafe\u0301" << QStringList{"Café"} << "";
        QTest::newRow("precomposed query, decomposed artist")
            << QStringList{"Pavane/Gabriel Faure\u0301"} << "FAUR\u00c9" << QStringList{"Pavane"} << "";
    }

    void filter()
    {
        QFETCH(QStringList, songs);
        QFETCH(QString, search);
        QFETCH(QStringList, shown);
        QFETCH(QString, emptyMessage);
        LibraryWorld w;
        for (const QString &s : songs)
            w.add(s.section('/', 0, 0), s.section('/', 1));
        HistoryModel history;
        HistoryFilterModel filter;
        auto checkSource = tester(&history);
        auto checkFilter = tester(&filter);
        filter.setSongs(&history);
        history.setCardStore(w.store.get());
        filter.setSearchText(search);
        QCOMPARE(titles(filter), shown);
        QCOMPARE(filter.emptyMessage(), emptyMessage);
        // A restore stores the same songs in the other order, so each row has another title now:
        // the search reads the new titles.
        w.store->transaction([&] {
            w.store->deleteAllSongs();
            for (auto s = songs.crbegin(); s != songs.crend(); ++s)
                w.add(s->section('/', 0, 0), s->section('/', 1));
        });
        LibraryWorld::releaseDeleted();
        QCOMPARE(titles(filter), QStringList(shown.crbegin(), shown.crend()));
        // Clearing the search shows every song again.
        filter.setSearchText(QString());
        QCOMPARE(filter.rowCount(), songs.size());
    }

    // The playing song's key as the player spells it, and the stored key's spelling: the same,
    // or canonically equivalent (the accent decomposed) — one song either way.
    void playingRowFollowsTheTrack_data()
    {
        QTest::addColumn<QString::NormalizationForm>("storedSpelling");
        QTest::addColumn<QString::NormalizationForm>("trackSpelling");
        QTest::newRow("as stored") << QString::NormalizationForm_C << QString::NormalizationForm_C;
        QTest::newRow("decomposed") << QString::NormalizationForm_C << QString::NormalizationForm_D;
        QTest::newRow("stored decomposed") << QString::NormalizationForm_D << QString::NormalizationForm_C;
    }

    void playingRowFollowsTheTrack()
    {
        QFETCH(QString::NormalizationForm, storedSpelling);
        QFETCH(QString::NormalizationForm, trackSpelling);
        LibraryWorld w;
        const QString a = QStringLiteral("Caf\u00e9 A");
        const QString b = QStringLiteral("Caf\u00e9 B");
        w.add(a.normalized(storedSpelling));
        w.add(b.normalized(storedSpelling));
        HistoryModel history;
        auto check = tester(&history);
        history.setCardStore(w.store.get());
        QSignalSpy changed(&history, &QAbstractItemModel::dataChanged);
        const auto playing = [&] {
            QList<bool> out;
            for (int row = 0; row < history.rowCount(); ++row)
                out << history.index(row).data(SongListModel::IsPlayingRole).toBool();
            return out;
        };
        const auto track = [&](const QString &title) { return LibraryWorld::keyOf(title, "Artist").normalized(trackSpelling); };
        QCOMPARE(playing(), (QList<bool>{false, false}));
        history.setCurrentSongKey(track(a));
        QCOMPARE(playing(), (QList<bool>{false, true}));
        history.setCurrentSongKey(track(b));
        QCOMPARE(playing(), (QList<bool>{true, false}));
        QCOMPARE(changed.size(), 3); // A on; A off and B on
        history.setCurrentSongKey(QString());
        QCOMPARE(playing(), (QList<bool>{false, false}));
    }

    // The list holds no connection to each song, yet a song played again redraws its row's "last
    // played" text (seen from that moment, without a fetch), whether set on the record or played by
    // another connection; a song another connection deletes reads null at once and leaves when the
    // list is fetched again, once, at the merge's announcement.
    void rowsFollowTheirSongs()
    {
        LibraryWorld w;
        SongRecord *a = w.add("A");
        w.add("B");
        w.add("C");
        w.wall.advance(std::chrono::minutes(30));
        HistoryModel history;
        auto check = tester(&history);
        history.setWallClock(&w.wall);
        history.setCardStore(w.store.get());
        const auto texts = [&] {
            QStringList out;
            for (int row = 0; row < history.rowCount(); ++row)
                out << history.index(row).data(SongListModel::LastPlayedTextRole).toString();
            return out;
        };
        QCOMPARE(texts(), (QStringList{"30分钟前", "31分钟前", "32分钟前"}));
        const int fetches = history.fetchCount();

        QSignalSpy changed(&history, &QAbstractItemModel::dataChanged);
        const auto redrawn = [&](int row) {
            QCOMPARE(changed.size(), 1);
            QCOMPARE(changed.first().at(0).toModelIndex().row(), row);
            QCOMPARE(changed.first().at(2).value<QList<int>>(), QList<int>{SongListModel::LastPlayedTextRole});
            changed.clear();
        };
        w.wall.advance(std::chrono::minutes(10));
        a->setLastPlayedAt(w.wall.now());
        redrawn(2);
        // The replayed row is seen from the moment it changed; the others from the fetch.
        QCOMPARE(texts(), (QStringList{"30分钟前", "31分钟前", "刚刚"}));

        w.wall.advance(std::chrono::minutes(1));
        CardStoreActor actor(w.files.container, &w.wall);
        await(actor.recordPlay(LibraryWorld::keyOf("B", "Artist"), "B", "Artist").then([](auto) {}));
        QTRY_VERIFY(!changed.isEmpty());
        redrawn(1);
        QCOMPARE(texts(), (QStringList{"30分钟前", "刚刚", "刚刚"}));
        QCOMPARE(history.fetchCount(), fetches);

        QSignalSpy reset(&history, &QAbstractItemModel::modelReset);
        connect(&history, &QAbstractItemModel::dataChanged, &history, [&](const QModelIndex &row) {
            QCOMPARE(reset.size(), 0);
            QCOMPARE(row.data(SongListModel::SongRole).value<SongRecord *>(), nullptr);
        });
        await(actor.deleteSong(LibraryWorld::keyOf("C", "Artist")));
        QTRY_COMPARE(history.fetchCount(), fetches + 1);
        QCOMPARE(changed.size(), 1);
        QCOMPARE(changed.first().at(0).toModelIndex().row(), 0);
        QCOMPARE(titles(history), (QStringList{"B", "A"}));
        LibraryWorld::releaseDeleted();
        QCOMPARE(history.fetchCount(), fetches + 1);
    }

    void favoriteSongs()
    {
        LibraryWorld w;
        SongRecord *a = w.add("A");
        SongRecord *b = w.add("B");
        w.add("C");
        w.favorite(a);
        w.favorite(b);
        FavoriteSongsModel favorites;
        auto check = tester(&favorites);
        favorites.setCardStore(w.store.get());
        QCOMPARE(titles(favorites), (QStringList{"B", "A"}));

        // Un-favourited from its row: it stays, with its flag and date cleared in the store.
        favorites.toggleFavorite(b);
        QTRY_VERIFY(!b->isFavorite()); // once the background write has landed
        QCOMPARE(titles(favorites), (QStringList{"B", "A"}));
        QCOMPARE(w.files.count("SELECT COUNT(*) FROM songs WHERE favorited_at IS NOT NULL"), 1);
        // The next build of the tab no longer lists it.
        FavoriteSongsModel rebuilt;
        rebuilt.setCardStore(w.store.get());
        QCOMPARE(titles(rebuilt), QStringList{"A"});
    }

    void failingFetchEmptiesOnlyItsList()
    {
        LibraryWorld w;
        SongRecord *a = w.add("A", "Artist", 1);
        w.favorite(a);
        w.favorite(a->cards().first());
        w.files.raw().exec(QStringLiteral("ALTER TABLE cards RENAME TO cards_away"));
        FavoriteSongsModel songs;
        FavoriteCardsModel cards;
        auto checkCards = tester(&cards);
        songs.setCardStore(w.store.get());
        cards.setCardStore(w.store.get());
        QCOMPARE(songs.count(), 1);
        QCOMPARE(cards.count(), 0);
        QCOMPARE(cards.rowCount(), 0);
    }

    void cardGridRows_data()
    {
        QTest::addColumn<double>("width");
        QTest::addColumn<int>("columns");
        QTest::addColumn<int>("rows");
        QTest::newRow("100") << 100.0 << 1 << 5;
        QTest::newRow("563") << 563.0 << 1 << 5;
        QTest::newRow("564") << 564.0 << 2 << 3;
        QTest::newRow("836") << 836.0 << 3 << 2;
    }

    void cardGridRows()
    {
        QFETCH(double, width);
        QFETCH(int, columns);
        QFETCH(int, rows);
        QCOMPARE(LibraryRules::columnCount(width), columns);
        LibraryWorld w;
        SongRecord *song = w.add("A", "Artist", 5);
        for (LearnedCard *card : song->cards())
            w.favorite(card);
        FavoriteCardsModel grid;
        auto check = tester(&grid);
        grid.setCardStore(w.store.get());
        grid.setViewWidth(width);
        QCOMPARE(grid.columns(), columns);
        QCOMPARE(grid.rowCount(), rows);
        // Every card once, newest favourite first, row by row.
        QStringList seen;
        for (int row = 0; row < grid.rowCount(); ++row) {
            const auto cards = grid.index(row).data(CardGridModel::CardsRole).value<QList<QObject *>>();
            QVERIFY(cards.size() <= columns);
            for (QObject *card : cards)
                seen << static_cast<LearnedCard *>(card)->en();
        }
        QCOMPARE(seen, (QStringList{"A 4", "A 3", "A 2", "A 1", "A 0"}));
        QVERIFY(grid.cellWidth() * columns + 12 * (columns - 1) <= std::max(0.0, width - 32) + 1e-9);
    }

    void masteredSummary_data()
    {
        QTest::addColumn<QList<int>>("masteredPerSong");
        // The first song's last mastered card is filed under the song's key with its accent
        // decomposed: canonically the same key.
        QTest::addColumn<bool>("respelled");
        QTest::addColumn<QString>("summary");
        QTest::newRow("none") << QList<int>{} << false << "已掌握 0 张卡片，来自 0 首歌曲";
        QTest::newRow("3 cards, 2 songs") << QList<int>{2, 1} << false << "已掌握 3 张卡片，来自 2 首歌曲";
        QTest::newRow("one song") << QList<int>{3} << false << "已掌握 3 张卡片，来自 1 首歌曲";
        QTest::newRow("one song, two spellings") << QList<int>{2} << true << "已掌握 2 张卡片，来自 1 首歌曲";
        QTest::newRow("two songs, one in two spellings") << QList<int>{3, 1} << true << "已掌握 4 张卡片，来自 2 首歌曲";
    }

    void masteredSummary()
    {
        QFETCH(QList<int>, masteredPerSong);
        QFETCH(bool, respelled);
        QFETCH(QString, summary);
        LibraryWorld w;
        for (int i = 0; i < masteredPerSong.size(); ++i) {
            SongRecord *song = w.add(QStringLiteral("Caf\u00e9 %1").arg(i), "Artist", 3);
            for (int c = 0; c < masteredPerSong.at(i); ++c)
                w.master(song->cards().at(c));
            if (respelled && i == 0) {
                song->cards().at(masteredPerSong.at(i) - 1)->setSongKey(song->key().normalized(QString::NormalizationForm_D));
                w.store->context().save();
            }
        }
        w.add("Other", "Artist", 2);
        MasteredCardsModel mastered;
        auto check = tester(&mastered);
        mastered.setCardStore(w.store.get());
        QCOMPARE(mastered.summary(), summary);
    }

    // A first visit: the list hands out cards whose rows are not read yet. The summary counts
    // their songs without reading one (a card read is "SELECT … FROM cards WHERE id = ?1"), by
    // each card's own stored key, whatever the size of the list.
    void masteredSummaryReadsNoCard_data()
    {
        QTest::addColumn<int>("songs");
        QTest::newRow("2 songs") << 2;
        QTest::newRow("40 songs") << 40;
    }

    void masteredSummaryReadsNoCard()
    {
        QFETCH(int, songs);
        LibraryWorld w;
        for (int i = 0; i < songs; ++i) {
            SongRecord *song = w.add(QStringLiteral("S%1").arg(i), "Artist", 3);
            w.master(song->cards().at(0));
            w.master(song->cards().at(1));
        }
        w.add("Unmastered", "Artist", 2);
        // A card filed under a key of its own counts as a song of its own.
        w.store->record(LibraryWorld::keyOf("S0", "Artist"))->cards().at(0)->setSongKey(QStringLiteral("elsewhere"));
        w.store->context().save();

        CardStore firstVisit(w.files.container, &w.wall);
        int cardReads = 0;
        sqlite3_trace_v2(
            firstVisit.context().database().handle(), SQLITE_TRACE_STMT,
            [](unsigned, void *reads, void *, void *sql) {
                if (QByteArrayView(static_cast<const char *>(sql)).contains("FROM cards WHERE id = "))
                    ++*static_cast<int *>(reads);
                return 0;
            },
            &cardReads);
        MasteredCardsModel mastered;
        mastered.setCardStore(&firstVisit);
        QCOMPARE(mastered.summary(), QStringLiteral("已掌握 %1 张卡片，来自 %2 首歌曲").arg(2 * songs).arg(songs + 1));
        QCOMPARE(cardReads, 0);
        // The count would see a read: showing a card reads its row.
        QVERIFY(!mastered.cardAt(0)->en().isEmpty());
        QCOMPARE(cardReads, 1);
        sqlite3_trace_v2(firstVisit.context().database().handle(), 0, nullptr, nullptr);
    }

    void unmaster_data()
    {
        QTest::addColumn<bool>("storeFails");
        QTest::newRow("saved") << false;
        QTest::newRow("store fails") << true;
    }

    void unmaster()
    {
        QFETCH(bool, storeFails);
        LibraryWorld w;
        SongRecord *song = w.add("A", "Artist", 2);
        LearnedCard *first = song->cards().at(0);
        LearnedCard *second = song->cards().at(1);
        first->setLearned(true);
        w.store->context().save();
        w.master(first);
        w.master(second);
        MasteredCardsModel mastered;
        auto check = tester(&mastered);
        mastered.setCardStore(w.store.get());
        QCOMPARE(phrases(mastered), (QStringList{"A 1", "A 0"}));
        QSignalSpy closed(&mastered, &MasteredCardsModel::selectedCardChanged);
        QSignalSpy fetched(&mastered, &MasteredCardsModel::fetched);
        QSignalSpy failed(w.store.get(), &CardStore::backgroundWriteFailed);
        mastered.setSelectedCard(first);
        if (storeFails)
            w.files.failWrites(QStringLiteral("UPDATE"), QStringLiteral("cards"), QStringLiteral("1"));
        mastered.unmasterSelected();
        QCOMPARE(mastered.selectedCard(), nullptr); // closed at once
        QCOMPARE(closed.size(), 2);
        // Fetched again once the background write has landed or failed; a failure is announced.
        QTRY_COMPARE(fetched.size(), 1);
        QCOMPARE(failed.size(), storeFails ? 1 : 0);
        if (storeFails) {
            QCOMPARE(phrases(mastered), (QStringList{"A 1", "A 0"}));
            QVERIFY(first->isMastered());
            QVERIFY(first->learned());
        } else {
            QCOMPARE(phrases(mastered), QStringList{"A 1"});
            QCOMPARE(mastered.summary(), QStringLiteral("已掌握 1 张卡片，来自 1 首歌曲"));
            QVERIFY(!first->isMastered());
            QVERIFY(!first->learned());
            QVERIFY(!first->masteredAt().isValid());
        }
    }

    void favoriteButton()
    {
        LibraryWorld w;
        SongFavoriteController button;
        button.setCardStore(w.store.get());
        QVERIFY(!button.hasKey());
        button.toggle(); // nothing to toggle

        const QString key = LibraryWorld::keyOf("Later", "Artist");
        button.setSongKey(key);
        QVERIFY(button.hasKey());
        QVERIFY(!button.hasRecord());
        QVERIFY(!button.isFavorite());
        QCOMPARE(button.accessibleName(), QStringLiteral("收藏整首歌曲 / Favorite this song"));
        QCOMPARE(button.helpText(), QStringLiteral("收藏整首歌曲"));

        // The pipeline stores the song in the background: the button becomes usable.
        CardStoreActor actor(w.files.container, &w.wall);
        await(actor.recordPlay(key, QStringLiteral("Later"), QStringLiteral("Artist")).then([](auto) {}));
        QTRY_VERIFY(button.hasRecord());

        button.toggle();
        QTRY_VERIFY(button.isFavorite()); // once the background write has landed
        QCOMPARE(button.accessibleName(), QStringLiteral("取消收藏整首歌曲 / Unfavorite this song"));
        QCOMPARE(button.helpText(), QStringLiteral("取消收藏整首歌曲"));
        button.toggle();
        QTRY_VERIFY(!button.isFavorite());
        QCOMPARE(w.files.count("SELECT COUNT(*) FROM songs WHERE favorited_at IS NOT NULL OR is_favorite = 1"), 0);

        // A toggle from elsewhere shows at once.
        w.store->toggleFavorite(w.store->record(key));
        QVERIFY(button.isFavorite());
    }

    void panelLocksBeforeSwitching()
    {
        LibraryWorld w;
        SongRecord *song = w.add("A", "Artist", 1);
        StudyPanelController panel;
        panel.setCardStore(w.store.get());
        panel.setSelectedTab(StudyPanelController::History);
        SongRecord *lockedWhenSwitched = nullptr;
        connect(&panel, &StudyPanelController::selectedTabChanged, &panel,
                [&] { lockedWhenSwitched = panel.lockedSong(); });
        panel.selectSong(song);
        QCOMPARE(lockedWhenSwitched, song);
        QCOMPARE(panel.selectedTab(), int(StudyPanelController::Now));
        QCOMPARE(panel.switchDuration(), 250);
        panel.clearLock();
        QCOMPARE(panel.lockedSong(), nullptr);

        // A card's song; a card without one changes nothing.
        panel.setSelectedTab(StudyPanelController::Mastered);
        QCOMPARE(panel.switchDuration(), 320);
        LearnedCard loose(QStringLiteral("k"), QStringLiteral("en"), {}, {}, {}, QStringLiteral("t"), std::nullopt,
                          false, nullptr, std::nullopt, std::nullopt, std::nullopt);
        panel.selectCard(&loose);
        QCOMPARE(panel.selectedTab(), int(StudyPanelController::Mastered));
        QCOMPARE(panel.lockedSong(), nullptr);
        panel.selectCard(song->cards().first());
        QCOMPARE(panel.selectedTab(), int(StudyPanelController::Now));
        QCOMPARE(panel.lockedSong(), song);
    }

    void panelFollowsTheTrack()
    {
        LibraryWorld w;
        StudyPanelController panel;
        panel.setVm(&w.vm);
        QCOMPARE(panel.currentSongKey(), QString());
        w.vm.resetForNewSong(NowWorld::track("Song"));
        QCOMPARE(panel.currentSongKey(), NowWorld::key("Song"));
    }

    void migration_data()
    {
        QTest::addColumn<bool>("fails");
        QTest::addColumn<QString>("banner");
        QTest::newRow("succeeds") << false << "";
        QTest::newRow("fails") << true << "本地数据迁移失败，部分历史可能不可用";
    }

    void migration()
    {
        QFETCH(bool, fails);
        QFETCH(QString, banner);
        LibraryWorld w;
        StudyPanelController panel;
        panel.setCardStore(w.store.get());
        int runs = 0;
        panel.setMigration([&](CardStore &) {
            ++runs;
            if (fails)
                throw std::runtime_error("disk full");
        });
        panel.componentComplete();
        QTRY_COMPARE(runs, 1);
        QCOMPARE(panel.migrationError(), banner);
    }

    // A restore replaces every record while each tab's list is showing and Now is locked: every
    // list is fetched again (no row reads a released object) and the lock follows its key.
    void restoreWhileShowing()
    {
        LibraryWorld w;
        SongRecord *a = w.add("A", "Artist", 2);
        SongRecord *b = w.add("B", "Artist", 2);
        w.favorite(a);
        w.favorite(a->cards().first());
        w.master(b->cards().first());

        LibraryTabs tabs;
        HistoryFilterModel filter;
        std::vector<std::unique_ptr<QAbstractItemModelTester>> checks;
        for (QAbstractItemModel *m : std::initializer_list<QAbstractItemModel *>{
                 &tabs.history, &filter, &tabs.favoriteSongs, &tabs.favoriteCards, &tabs.mastered})
            checks.push_back(tester(m));
        filter.setSongs(&tabs.history);
        filter.setSearchText(QStringLiteral("b"));
        tabs.open(w.store.get());
        StudyPanelController panel;
        panel.setCardStore(w.store.get());
        panel.selectSong(a);

        w.store->transaction([&] {
            w.store->deleteAllSongs();
            for (const QString &title : {QStringLiteral("A"), QStringLiteral("B")}) {
                SongRecord *song = w.store->upsertSong(LibraryWorld::keyOf(title, "Artist"), title, "Artist", "l", "en",
                                                       {golden(title + " 0", "t"), golden(title + " 1", "t")});
                w.store->toggleFavorite(song);
                w.store->markMastered(song->cards().first());
            }
        });
        LibraryWorld::releaseDeleted();

        QCOMPARE(tabs.notFetchedAgain(1), QStringList());
        QCOMPARE(titles(tabs.history), (QStringList{"B", "A"}));
        QCOMPARE(titles(filter), (QStringList{"B"}));
        QCOMPARE(titles(tabs.favoriteSongs), (QStringList{"B", "A"}));
        QCOMPARE(tabs.favoriteCards.count(), 0);
        QCOMPARE(tabs.mastered.count(), 2);
        QVERIFY(panel.lockedSong() != nullptr);
        QVERIFY(panel.lockedSong() != a);
        QCOMPARE(panel.lockedSong()->key(), LibraryWorld::keyOf("A", "Artist"));
        QVERIFY(!panel.lockedSong()->isDeleted());

        // A restore without that song clears the lock.
        w.store->deleteAllSongs();
        LibraryWorld::releaseDeleted();
        QCOMPARE(panel.lockedSong(), nullptr);
        QCOMPARE(tabs.history.count(), 0);
        QCOMPARE(filter.emptyMessage(), QStringLiteral("还没有播放记录"));
    }

    // A restore from the background writer while each tab's list is showing: the lists fetch
    // again over later turns, and the wait for the restore to be taken in ends only once every
    // list shows the restored library.
    void restoreTakenInOnceTheListsShowIt()
    {
        LibraryWorld w;
        SongRecord *old = w.add("Old", "Artist", 2);
        w.favorite(old); // every list holds something the restore lets go of
        w.favorite(old->cards().first());
        w.master(old->cards().last());
        LibraryTabs tabs;
        tabs.open(w.store.get());

        constexpr int songs = 300;
        const LibrarySource restored = [](LibraryWriter &out) {
            for (int i = 0; i < songs; ++i) {
                const qint64 at = 1'700'000'000'000 + i;
                LibrarySongRow song;
                song.key = "restored " + QByteArray::number(i) + "|song";
                song.title = "R" + QByteArray::number(i);
                song.artist = "Artist";
                song.lastPlayedAt = at;
                song.isFavorite = i % 3 == 0;
                song.favoritedAt = song.isFavorite ? std::optional(at) : std::nullopt;
                LibraryCardRow card;
                card.en = "phrase " + QByteArray::number(i);
                card.tag = "t";
                card.isMastered = i % 2 == 0;
                card.masteredAt = card.isMastered ? std::optional(at) : std::nullopt;
                card.isFavorite = i % 5 == 0;
                card.favoritedAt = card.isFavorite ? std::optional(at) : std::nullopt;
                song.cards.push_back(card);
                out.write(std::move(song));
            }
        };
        QCoro::waitFor(w.store->backgroundWriter()->replaceLibrary(restored));
        QCoro::waitFor(w.store->externalChangesTakenIn());

        QCOMPARE(tabs.notFetchedAgain(1), QStringList());
        QCOMPARE(tabs.history.count(), songs);
        QCOMPARE(titles(tabs.history).first(), QStringLiteral("R299"));
        QCOMPARE(tabs.favoriteSongs.count(), songs / 3);
        QCOMPARE(titles(tabs.favoriteSongs).first(), QStringLiteral("R297"));
        QCOMPARE(phrases(tabs.favoriteCards).first(), QStringLiteral("phrase 295"));
        QCOMPARE(tabs.favoriteCards.count(), songs / 5);
        QCOMPARE(tabs.mastered.count(), songs / 2);
        QCOMPARE(tabs.mastered.songCount(), songs / 2);
    }
};

QTEST_MAIN(TstLibraryModels)
#include "tst_librarymodels.moc"
