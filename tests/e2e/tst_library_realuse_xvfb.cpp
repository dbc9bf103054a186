// The library tabs in real use, under a virtual X display: the shell in this process on a private
// session bus, the local stand-in server and mpv playing a demo song, every step a mouse click at
// the centre of what a person would press. The song's favourite button and a card's heart reach
// the store and the Favorites tab; a card marked mastered is in the Mastered tab; History shows the
// playing song with its dot; the share sheet's copy puts a picture on the clipboard with its toast;
// a shell built again on the same data folder still has the favourites.

#include "DemoApp.h"
#include "WindowDriver.h"

#include "app/ApplicationShell.h"
#include "core/store/CardStore.h"
#include "session/ToastCenter.h"
#include "session/player/PlayerViewModel.h"

#include <QClipboard>
#include <QMimeData>
#include <QRegularExpression>
#include <QTest>

using namespace WindowDriver;

namespace {

const QString songKey = QStringLiteral("traditional|amazing grace");

// The nearest item at or above `item` that carries a `property` (a row's model object).
QObject *carried(QQuickItem *item, const char *property)
{
    for (; item; item = item->parentItem()) {
        if (auto *object = item->property(property).value<QObject *>())
            return object;
    }
    return nullptr;
}

QQuickItem *studyPanel(QQuickWindow *window)
{
    return item(window, QStringLiteral("studyPanel"));
}

QString currentTab(QQuickWindow *window)
{
    auto *tab = studyPanel(window)->property("currentTab").value<QQuickItem *>();
    return tab ? tab->objectName() : QString();
}

// Clicks the study panel's segment `title` and waits for its tab to be shown and settled.
bool openTab(QQuickWindow *window, const QString &title, const QString &tabName)
{
    if (!pointAndClick(window, firstVisible(studyPanel(window), QStringLiteral("segment.") + title)))
        return false;
    if (!QTest::qWaitFor([&] { return currentTab(window) == tabName; }, 5000))
        return false;
    QTest::qWait(400); // the switch's slide
    return true;
}

// The card grid cell showing a card whose English line is `en`.
QQuickItem *cellFor(QQuickItem *under, const QString &en)
{
    for (QQuickItem *cell : visibleNamed(under, QStringLiteral("cardGrid.cell"))) {
        QObject *card = cell->property("modelData").value<QObject *>();
        if (card && card->property("en").toString() == en)
            return cell;
    }
    return nullptr;
}

// A song row's model object whose title is `title`, at or below `under`.
bool listsSong(QQuickItem *under, const QString &title)
{
    QList<QQuickItem *> all;
    collectNamed(under, QString(), all); // every item without a name: rows and their parts
    for (QQuickItem *row : all) {
        QObject *song = row->property("song").value<QObject *>();
        if (row->isVisible() && song && song->property("title").toString() == title)
            return true;
    }
    return false;
}

QStringList enOf(const QList<LearnedCard *> &cards)
{
    QStringList en;
    for (const LearnedCard *card : cards)
        en << card->en();
    return en;
}

} // namespace

class TestLibraryRealUse : public QObject
{
    Q_OBJECT

    demo::Stage m_stage;
    demo::Playback &m_playback = m_stage.playback;

private slots:
    void initTestCase()
    {
        QVERIFY2(qEnvironmentVariableIsSet("DISPLAY"), "run on an X display (support/on-own-display.sh)");
        const QString failed = m_stage.start();
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
    }

    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral("qrc:/|QML|qml"))); }

    void libraryTabsInRealUse()
    {
        demo::SignedInApp app;
        QVERIFY(app.start(m_playback.base(), QStringLiteral("library@example.com")));
        QQuickWindow *window = app.window();
        resize(window, 800, 950);

        QVERIFY(m_playback.play(QStringLiteral("grace.ogg")));
        PlayerViewModel *vm = app.appState()->viewModel();
        CardStore *store = app.appState()->cardStore();
        QVERIFY(vm && store);
        QTRY_VERIFY_WITH_TIMEOUT(vm->cards().size() >= 2 && !vm->isLoadingCards() && store->record(songKey), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(litRow(window), 15000);
        QVERIFY(store->favoriteSongs().isEmpty() && store->favoriteCards().isEmpty() && store->masteredCards().isEmpty());

        // The song's favourite button in the Now tab's header.
        QQuickItem *songFavorite = nullptr;
        QTRY_VERIFY((songFavorite = firstVisible(studyPanel(window), QStringLiteral("studyPanel.songFavorite")))
                    && songFavorite->isEnabled());
        QVERIFY(pointAndClick(window, songFavorite));
        QTRY_VERIFY(store->record(songKey)->isFavorite());
        QTRY_COMPARE(firstVisible(songFavorite, QStringLiteral("songFavorite.icon"))->property("name").toString(),
                     QStringLiteral("heart.fill"));

        // The heart of the lit card, then "标记掌握" on the lit card.
        QVERIFY(pointAndClick(window, firstVisible(litRow(window), QStringLiteral("glassCard.heart"))));
        QTRY_COMPARE(store->favoriteCards().size(), 1);
        const QString favoriteEn = store->favoriteCards().first()->en();
        QQuickItem *master = nullptr;
        QTRY_VERIFY((master = firstVisible(litRow(window), QStringLiteral("glassCard.mastered")))
                    && master->property("text").toString() == QStringLiteral("标记掌握"));
        QVERIFY(pointAndClick(window, master));
        QTRY_COMPARE(store->masteredCards().size(), 1);
        const QString masteredEn = store->masteredCards().first()->en();

        // Favorites: the song under "收藏歌曲", the card under "收藏例句".
        QVERIFY(openTab(window, QStringLiteral("Favorites"), QStringLiteral("studyPanel.favorites")));
        QQuickItem *favorites = firstVisible(studyPanel(window), QStringLiteral("studyPanel.favorites"));
        QTRY_VERIFY(listsSong(firstVisible(favorites, QStringLiteral("favorites.songs")), QStringLiteral("Amazing Grace")));
        QVERIFY(pointAndClick(window, firstVisible(favorites, QStringLiteral("segment.收藏例句"))));
        QTRY_VERIFY(cellFor(favorites, favoriteEn));

        // Mastered: the card.
        QVERIFY(openTab(window, QStringLiteral("Mastered"), QStringLiteral("studyPanel.mastered")));
        QTRY_VERIFY(cellFor(firstVisible(studyPanel(window), QStringLiteral("studyPanel.mastered")), masteredEn));

        // History: the playing song, with its dot.
        QVERIFY(openTab(window, QStringLiteral("History"), QStringLiteral("studyPanel.history")));
        QQuickItem *dot = nullptr;
        QTRY_VERIFY((dot = firstVisible(studyPanel(window), QStringLiteral("songRow.playingDot"))));
        QObject *playing = carried(dot, "song");
        QVERIFY(playing);
        QCOMPARE(playing->property("key").toString(), songKey);

        // Now: a card's share sheet, its copy button, the toast and a picture on the clipboard.
        QVERIFY(openTab(window, QStringLiteral("Now"), QStringLiteral("studyPanel.now")));
        QTRY_VERIFY_WITH_TIMEOUT(litRow(window), 10000);
        QGuiApplication::clipboard()->clear();
        QObject *sheet = window->findChild<QObject *>(QStringLiteral("shareSheet"));
        QVERIFY(sheet);
        QVERIFY(pointAndClick(window, firstVisible(litRow(window), QStringLiteral("glassCard.share"))));
        QTRY_VERIFY(sheet->property("opened").toBool());
        QVERIFY(pointAndClick(window, item(window, QStringLiteral("shareSheet.copy"))));
        QTRY_COMPARE(app.appState()->toastCenter()->currentText(), QStringLiteral("已复制到剪贴板"));
        QQuickItem *toastText = item(window, QStringLiteral("toastView.text"));
        QTRY_VERIFY(toastText && toastText->isVisible()
                    && toastText->property("text").toString() == QStringLiteral("已复制到剪贴板"));
        QVERIFY(QGuiApplication::clipboard()->mimeData()->hasImage());
        QVERIFY(!QGuiApplication::clipboard()->image().isNull());
        QTest::keyClick(window, Qt::Key_Escape);
        QTRY_VERIFY(!sheet->property("visible").toBool());

        // The shell built again on the same data folder: the favourites are still there.
        QVERIFY(app.restart());
        window = app.window();
        store = app.appState()->cardStore();
        QVERIFY(store);
        QTRY_VERIFY(store->record(songKey) && store->record(songKey)->isFavorite());
        QCOMPARE(enOf(store->favoriteCards()), QStringList{favoriteEn});
        QCOMPARE(enOf(store->masteredCards()), QStringList{masteredEn});
        QTRY_VERIFY(studyPanel(window));
        QVERIFY(openTab(window, QStringLiteral("Favorites"), QStringLiteral("studyPanel.favorites")));
        favorites = firstVisible(studyPanel(window), QStringLiteral("studyPanel.favorites"));
        QTRY_VERIFY(listsSong(firstVisible(favorites, QStringLiteral("favorites.songs")), QStringLiteral("Amazing Grace")));
        QVERIFY(pointAndClick(window, firstVisible(favorites, QStringLiteral("segment.收藏例句"))));
        QTRY_VERIFY(cellFor(favorites, favoriteEn));

        m_playback.stopPlayer();
    }
};

CANTORELLA_APP_TEST_MAIN(TestLibraryRealUse)

#include "tst_library_realuse_xvfb.moc"
