// Screenshots of the study panel's library tabs on the OpenGL renderer (run under xvfb-run with
// the xcb platform), written to build/screenshots/library/ for a person to look at.
#include "tst_libraryfixture.h"

#include "ui/library/StudyPanelController.h"

#include "DesignTestSupport.h"

#include <QDir>
#include <QtTest>

class TstLibraryScreens : public QObject
{
    Q_OBJECT

    QString m_out;
    std::unique_ptr<LibraryWorld> m_world;
    std::vector<std::unique_ptr<LibraryWorld>> m_finished; // clocks outlive released views' sleepers

    std::unique_ptr<designtest::Scene> loadPanel(QSize size = {480, 900})
    {
        auto s = std::make_unique<designtest::Scene>();
        if (!s->load("import Cantorella.Library\nStudyPanel {}", size, m_world->panelProperties()))
            return nullptr;
        s->window->requestActivate();
        return s;
    }

    static StudyPanelController *controller(designtest::Scene &s)
    {
        return s.root->property("controller").value<StudyPanelController *>();
    }

    static bool show(designtest::Scene &s, int tab)
    {
        controller(s)->setSelectedTab(tab);
        return QTest::qWaitFor(
            [&] {
                auto *tabs = s.root->findChild<QQuickItem *>(QStringLiteral("studyPanel.tabs"));
                auto *current = s.root->property("currentTab").value<QQuickItem *>();
                return current && current->opacity() == 1.0 && !tabs->property("busy").toBool();
            },
            3000);
    }

    void save(designtest::Scene &s, const QString &name)
    {
        QTest::qWait(100); // let the last frame settle
        QVERIFY(s.window->grabWindow().save(m_out + QLatin1Char('/') + name));
    }

    void fill()
    {
        LibraryWorld &w = *m_world;
        const QList<std::pair<QString, QString>> songs{
            {"Greensleeves", "Traditional"},
            {"Oh! Susanna", "Stephen Foster"},
            {"A very long title that does not fit on one line at all, not even close", "Some Band With A Long Name"},
            {"Scarborough Fair", "Traditional"},
            {"À la claire fontaine", "Traditionnel"}};
        for (const auto &[title, artist] : songs) {
            SongRecord *song = w.add(title, artist, 3);
            w.wall.advance(std::chrono::hours(20));
            if (title != "Scarborough Fair")
                w.favorite(song);
        }
        SongRecord *greensleeves = w.store->record(LibraryWorld::keyOf("Greensleeves", "Traditional"));
        SongRecord *susanna = w.store->record(LibraryWorld::keyOf("Oh! Susanna", "Stephen Foster"));
        w.favorite(greensleeves->cards().at(0));
        w.favorite(susanna->cards().at(1));
        w.favorite(susanna->cards().at(2));
        w.master(greensleeves->cards().at(1));
        w.master(susanna->cards().at(0));
        w.master(greensleeves->cards().at(2));
        NowPlayingTrack playing;
        playing.title = QStringLiteral("Greensleeves");
        playing.artist = QStringLiteral("Traditional");
        playing.isPlaying = true;
        w.vm.resetForNewSong(playing);
    }

private slots:
    void initTestCase()
    {
        designtest::configureApplication();
        m_out = QStringLiteral(CANTORELLA_BINARY_DIR "/screenshots/library");
        QDir().mkpath(m_out);
    }
    void init() { m_world = std::make_unique<LibraryWorld>(); }
    void cleanup()
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        m_finished.push_back(std::move(m_world));
    }

    // The panel as the main window gives it room: beside the 360-point lyrics panel in an
    // 800 × 950 and in a 680 × 800 window.
    void tabs_data()
    {
        QTest::addColumn<bool>("filled");
        QTest::addColumn<QSize>("window");
        for (const QSize window : {QSize(800, 950), QSize(680, 800)}) {
            const QByteArray size = QByteArray::number(window.width()) + 'x' + QByteArray::number(window.height());
            QTest::newRow(("empty " + size).constData()) << false << window;
            QTest::newRow(("filled " + size).constData()) << true << window;
        }
    }

    void tabs()
    {
        QFETCH(bool, filled);
        QFETCH(QSize, window);
        if (filled)
            fill();
        const QString suffix = QStringLiteral("%1-%2x%3.png")
                                   .arg(filled ? QStringLiteral("-filled") : QStringLiteral("-empty"))
                                   .arg(window.width())
                                   .arg(window.height());
        auto s = loadPanel({window.width() - 360, window.height()});
        QVERIFY(s);
        QVERIFY(show(*s, StudyPanelController::History));
        save(*s, "history" + suffix);
        QVERIFY(show(*s, StudyPanelController::Favorites));
        save(*s, "favorites-songs" + suffix);
        QQuickItem *cardsSegment = visibleItem(s->window->contentItem(), QStringLiteral("segment.收藏例句"));
        QVERIFY(cardsSegment);
        QTest::mouseClick(s->window.get(), Qt::LeftButton, {},
                          cardsSegment->mapToScene({cardsSegment->width() / 2, cardsSegment->height() / 2}).toPoint());
        save(*s, "favorites-cards" + suffix);
        QVERIFY(show(*s, StudyPanelController::Mastered));
        save(*s, "mastered" + suffix);
        if (!filled)
            return;
        QQuickItem *cell = visibleItem(s->window->contentItem(), QStringLiteral("cardGrid.cell"));
        QVERIFY(cell);
        QTest::mouseClick(s->window.get(), Qt::LeftButton, {}, cell->mapToScene({cell->width() / 2, 20}).toPoint());
        QTRY_VERIFY(visibleItem(s->window->contentItem(), QStringLiteral("unmaster.confirm")));
        save(*s, "mastered-popover" + suffix);
        // The playing song locked from History: Now with the return chip and the song's heart.
        QTest::keyClick(s->window.get(), Qt::Key_Escape);
        controller(*s)->selectSong(m_world->store->record(LibraryWorld::keyOf("Oh! Susanna", "Stephen Foster")));
        QVERIFY(show(*s, StudyPanelController::Now));
        save(*s, "now-locked" + suffix);
    }

    // A wider panel: two columns of cards.
    void twoColumns()
    {
        fill();
        auto s = loadPanel({640, 900});
        QVERIFY(s);
        QVERIFY(show(*s, StudyPanelController::Mastered));
        save(*s, "mastered-two-columns.png");
    }

    void banner()
    {
        m_world->files.raw().exec(QStringLiteral("ALTER TABLE cards RENAME TO cards_away"));
        QSettings().remove(QString::fromLatin1(CardStore::migrationFlagKey));
        auto s = loadPanel();
        QVERIFY(s);
        QTRY_VERIFY(visibleItem(s->window->contentItem(), QStringLiteral("studyPanel.migrationBanner")));
        QVERIFY(show(*s, StudyPanelController::History));
        save(*s, "banner.png");
    }
};

QTEST_MAIN(TstLibraryScreens)
#include "tst_library_xvfb.moc"
