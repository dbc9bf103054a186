#include "tst_libraryfixture.h"

#include "ui/library/CardGridModel.h"
#include "ui/library/StudyPanelController.h"

#include "DesignTestSupport.h"

#include <QtTest>

// The study panel as QML, offscreen: every tab loads, filled and empty, without a single
// warning; presses reach the right control (a row's heart vs the row, a card's heart and song
// label vs the card); a restore while a tab shows and Now is locked leaves nothing dangling.
class TstLibraryViews : public QObject
{
    Q_OBJECT

    std::unique_ptr<LibraryWorld> m_world;
    // Worlds of finished tests: their clocks outlive the sleepers a released view cancelled,
    // which wake on a later turn of the event loop.
    std::vector<std::unique_ptr<LibraryWorld>> m_finished;

    // Items a view released with deleteLater (a replaced tab) go before the engine does.
    struct SceneDeleter
    {
        void operator()(designtest::Scene *s) const
        {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            delete s;
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
    };
    using ScenePtr = std::unique_ptr<designtest::Scene, SceneDeleter>;

    ScenePtr loadPanel()
    {
        ScenePtr s(new designtest::Scene);
        if (!s->load("import Cantorella.Library\nStudyPanel {}", {480, 900}, m_world->panelProperties()))
            return nullptr;
        return s;
    }

    static StudyPanelController *controller(designtest::Scene &s)
    {
        return s.root->property("controller").value<StudyPanelController *>();
    }

    static QQuickItem *findText(QQuickItem *item, const QString &text)
    {
        if (item->inherits("QQuickText") && item->property("text").toString() == text && item->isVisible())
            return item;
        for (QQuickItem *child : item->childItems()) {
            if (QQuickItem *found = findText(child, text))
                return found;
        }
        return nullptr;
    }
    static QQuickItem *find(designtest::Scene &s, const char *name)
    {
        return visibleItem(s.window->contentItem(), QString::fromUtf8(name));
    }

    static QString textOf(designtest::Scene &s, const char *name)
    {
        QQuickItem *item = find(s, name);
        return item ? item->property("text").toString() : QString();
    }

    // Switches tabs and waits until the new tab is the only one on screen.
    static bool showTab(designtest::Scene &s, int tab, const char *name)
    {
        controller(s)->setSelectedTab(tab);
        const bool shown = QTest::qWaitFor(
            [&] {
                auto *current = s.root->property("currentTab").value<QQuickItem *>();
                return current && current->objectName() == QLatin1String(name) && current->opacity() == 1.0
                    && !s.root->findChild<QQuickItem *>(QStringLiteral("studyPanel.tabs"))->property("busy").toBool();
            },
            3000);
        if (!shown) {
            auto *current = s.root->property("currentTab").value<QQuickItem *>();
            qInfo() << "tab not shown:" << current << (current ? current->opacity() : -1)
                    << s.root->findChild<QQuickItem *>(QStringLiteral("studyPanel.tabs"))->property("busy");
        }
        return shown;
    }

    static void click(designtest::Scene &s, QQuickItem *item, QPointF at = {-1, -1})
    {
        if (at.x() < 0)
            at = QPointF(item->width() / 2, item->height() / 2);
        QTest::mouseClick(s.window.get(), Qt::LeftButton, {}, item->mapToScene(at).toPoint());
    }

    void fill()
    {
        LibraryWorld &w = *m_world;
        SongRecord *a = w.add("Oh! Susanna", "Stephen Foster", 3);
        SongRecord *b = w.add("A very long title that does not fit on one line at all, not even close", "Band", 2);
        w.favorite(a);
        w.favorite(b);
        w.favorite(a->cards().at(0));
        w.master(a->cards().at(1));
        w.master(b->cards().at(0));
    }

private slots:
    void initTestCase() { designtest::configureApplication(); }

    void init()
    {
        designtest::failOnAnyWarning();
        m_world = std::make_unique<LibraryWorld>();
    }
    void cleanup() { m_finished.push_back(std::move(m_world)); }

    void eachTab_data()
    {
        QTest::addColumn<int>("tab");
        QTest::addColumn<bool>("filled");
        QTest::addColumn<QString>("tabName");
        QTest::addColumn<QString>("emptyName"); // visible exactly when empty
        QTest::addColumn<QString>("filledName"); // visible exactly when filled
        const QList<std::tuple<int, const char *, const char *, const char *>> tabs{
            {StudyPanelController::History, "studyPanel.history", "history.empty", "history.list"},
            {StudyPanelController::Favorites, "studyPanel.favorites", "favorites.songsEmpty", "favorites.songs"},
            {StudyPanelController::Mastered, "studyPanel.mastered", "mastered.empty", "mastered.cards"}};
        for (const auto &[tab, name, empty, filled] : tabs) {
            for (bool isFilled : {false, true}) {
                QTest::addRow("%s %s", name, isFilled ? "filled" : "empty")
                    << tab << isFilled << QString::fromLatin1(name) << QString::fromLatin1(empty)
                    << QString::fromLatin1(filled);
            }
        }
    }

    void eachTab()
    {
        QFETCH(int, tab);
        QFETCH(bool, filled);
        QFETCH(QString, tabName);
        QFETCH(QString, emptyName);
        QFETCH(QString, filledName);
        if (filled)
            fill();
        auto s = loadPanel();
        QVERIFY(s);
        QVERIFY(showTab(*s, tab, tabName.toLatin1().constData()));
        QCOMPARE(find(*s, emptyName.toLatin1().constData()) != nullptr, !filled);
        QCOMPARE(find(*s, filledName.toLatin1().constData()) != nullptr, filled);
        if (tab == StudyPanelController::Favorites) {
            // The cards segment, then back: no fetch, no warning.
            click(*s, find(*s, "segment.收藏例句"));
            QTRY_COMPARE(find(*s, "favorites.cards") != nullptr, filled);
            QCOMPARE(find(*s, "favorites.cardsEmpty") != nullptr, !filled);
        }
        // And back to Now, which is built afresh.
        QVERIFY(showTab(*s, StudyPanelController::Now, "studyPanel.now"));
    }

    void rowHeartTogglesWithoutSelecting()
    {
        fill();
        m_world->vm.resetForNewSong(NowWorld::track("Elsewhere"));
        auto s = loadPanel();
        QVERIFY(s);
        QVERIFY(showTab(*s, StudyPanelController::History, "studyPanel.history"));
        SongRecord *susanna = m_world->store->record(LibraryWorld::keyOf("Oh! Susanna", "Stephen Foster"));
        QQuickItem *list = find(*s, "history.list");
        QTRY_VERIFY(findText(list, "Oh! Susanna"));
        QQuickItem *row = findText(list, "Oh! Susanna")->parentItem()->parentItem()->parentItem();
        QQuickItem *heart = visibleItem(row, "songRow.heart");
        QVERIFY(heart);
        QVERIFY(susanna->isFavorite());
        click(*s, heart);
        QTRY_VERIFY(!susanna->isFavorite()); // once the background write has landed
        QCOMPARE(controller(*s)->selectedTab(), int(StudyPanelController::History));
        QCOMPARE(controller(*s)->lockedSong(), nullptr);

        // Anywhere else on the row selects the song: Now, locked, with its return chip.
        click(*s, findText(list, "Stephen Foster"));
        QTRY_COMPARE(controller(*s)->lockedSong(), susanna);
        QVERIFY(showTab(*s, StudyPanelController::Now, "studyPanel.now"));
        QTRY_VERIFY(find(*s, "now.returnChip"));
        click(*s, find(*s, "now.returnChip"));
        QTRY_COMPARE(controller(*s)->lockedSong(), nullptr);
    }

    void masteredCardPresses()
    {
        fill();
        auto s = loadPanel();
        QVERIFY(s);
        QVERIFY(showTab(*s, StudyPanelController::Mastered, "studyPanel.mastered"));
        QQuickItem *grid = find(*s, "mastered.cards");
        QTRY_VERIFY(grid && visibleItem(grid, "cardGrid.cell"));
        QTest::qWait(100); // the rows take their heights
        QQuickItem *cell = visibleItem(grid, "cardGrid.cell");
        auto *card = cell->property("modelData").value<LearnedCard *>();
        QVERIFY(card);
        const bool wasFavorite = card->isFavorite();

        // The card's heart: its own press, no popover.
        click(*s, visibleItem(cell, "glassCard.heart"));
        QTRY_COMPARE(card->isFavorite(), !wasFavorite);
        QTest::qWait(50);
        QVERIFY(!find(*s, "unmaster.confirm"));

        // Elsewhere on the card: the popover with the phrase in quotes.
        click(*s, cell, {cell->width() / 2, 20});
        QTRY_VERIFY(find(*s, "unmaster.confirm"));
        QCOMPARE(textOf(*s, "unmaster.phrase"), "\"" + card->en() + "\"");
        click(*s, find(*s, "unmaster.confirm"));
        QTRY_VERIFY(!find(*s, "unmaster.confirm"));
        QTRY_VERIFY(!card->isMastered());
        QTRY_COMPARE(textOf(*s, "mastered.summary"),
                     QStringLiteral("已掌握 1 张卡片，来自 1 首歌曲"));

        // The song label selects the card's song and opens no popover.
        grid = find(*s, "mastered.cards");
        QTRY_VERIFY(visibleItem(grid, "cardGrid.cell"));
        cell = visibleItem(grid, "cardGrid.cell");
        auto *left = cell->property("modelData").value<LearnedCard *>();
        SongRecord *song = left->song();
        QQuickItem *label = findText(cell, song->title() + " - " + song->artist());
        QVERIFY(label);
        click(*s, label);
        QTRY_COMPARE(controller(*s)->lockedSong(), song);
        QVERIFY(showTab(*s, StudyPanelController::Now, "studyPanel.now"));
        QVERIFY(!find(*s, "unmaster.confirm"));
    }

    void restoreWithEachTabOpen_data()
    {
        QTest::addColumn<int>("tab");
        QTest::addColumn<QString>("tabName");
        QTest::newRow("now") << int(StudyPanelController::Now) << "studyPanel.now";
        QTest::newRow("history") << int(StudyPanelController::History) << "studyPanel.history";
        QTest::newRow("favorites") << int(StudyPanelController::Favorites) << "studyPanel.favorites";
        QTest::newRow("mastered") << int(StudyPanelController::Mastered) << "studyPanel.mastered";
    }

    void restoreWithEachTabOpen()
    {
        QFETCH(int, tab);
        QFETCH(QString, tabName);
        fill();
        LibraryWorld &w = *m_world;
        auto s = loadPanel();
        QVERIFY(s);
        const QString key = LibraryWorld::keyOf("Oh! Susanna", "Stephen Foster");
        controller(*s)->selectSong(w.store->record(key));
        if (tab != StudyPanelController::Now)
            QVERIFY(showTab(*s, tab, tabName.toLatin1().constData()));
        if (tab == StudyPanelController::Favorites) {
            click(*s, find(*s, "segment.收藏例句"));
            QTRY_VERIFY(find(*s, "favorites.cards"));
        }
        w.store->transaction([&] {
            w.store->deleteAllSongs();
            SongRecord *song = w.store->upsertSong(key, "Oh! Susanna", "Stephen Foster", "l", "en",
                                                   {golden("again", "t"), golden("more", "t")});
            w.store->toggleFavorite(song);
            w.store->toggleFavorite(song->cards().first());
            w.store->markMastered(song->cards().first());
        });
        LibraryWorld::releaseDeleted();
        QTest::qWait(50);
        QVERIFY(controller(*s)->lockedSong());
        QCOMPARE(controller(*s)->lockedSong()->key(), key);
        QVERIFY(!controller(*s)->lockedSong()->isDeleted());
        if (tab == StudyPanelController::Mastered)
            QTRY_COMPARE(textOf(*s, "mastered.summary"),
                         QStringLiteral("已掌握 1 张卡片，来自 1 首歌曲"));
        if (tab == StudyPanelController::History)
            QTRY_VERIFY(!findText(find(*s, "history.list"), "Band"));
        QVERIFY(showTab(*s, StudyPanelController::Now, "studyPanel.now"));
    }

    void migrationBanner()
    {
        // A store that cannot be read: the migration fails and the banner shows above the picker.
        m_world->files.raw().exec(QStringLiteral("ALTER TABLE cards RENAME TO cards_away"));
        QSettings().remove(QString::fromLatin1(CardStore::migrationFlagKey));
        auto s = loadPanel();
        QVERIFY(s);
        QTRY_VERIFY(find(*s, "studyPanel.migrationBanner"));
        QCOMPARE(textOf(*s, "migrationBanner.message"), QStringLiteral("本地数据迁移失败，部分历史可能不可用"));
    }
};

QTEST_MAIN(TstLibraryViews)
#include "tst_libraryviews.moc"
