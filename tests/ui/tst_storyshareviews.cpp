#include "session/ToastCenter.h"
#include "session/player/PlayerViewModel.h"
#include "ui/library/ShareSheetController.h"

#include "DesignTestSupport.h"
#include "ShareFixtures.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

// The story overlay, the story button and the share sheet as QML, offscreen: they load without a
// single warning, and their input reaches the models.
class TstStoryShareViews : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<QSettings> m_settings;
    std::unique_ptr<PlayerViewModel> m_vm;
    std::unique_ptr<ShareSheetController> m_sheet;

    static constexpr const char *scene = R"(
import QtQuick
import Cantorella.Library
Item {
    id: root
    property QtObject vm
    property QtObject sheetController
    property bool reduceMotion: false
    SongStoryOverlay { vm: root.vm; reduceMotion: root.reduceMotion }
    StoryButton { x: 20; y: 20; vm: root.vm; reduceMotion: root.reduceMotion }
    ShareSheet { controller: root.sheetController }
}
)";

    std::unique_ptr<designtest::Scene> load()
    {
        auto s = std::make_unique<designtest::Scene>();
        const QVariantMap props{{"vm", QVariant::fromValue<QObject *>(m_vm.get())},
                                {"sheetController", QVariant::fromValue<QObject *>(m_sheet.get())}};
        if (!s->load(scene, {800, 950}, props))
            return nullptr;
        // Keys go to the active window only (there is no window manager to activate it).
        s->window->requestActivate();
        if (!QTest::qWaitForWindowActive(s->window.get()))
            return nullptr;
        return s;
    }

    // Popups live in the window's overlay layer, not under the scene's root: search the items.
    QQuickItem *popupItem(designtest::Scene &s, const char *name)
    {
        return findItem(s.window->contentItem(), QString::fromLatin1(name));
    }

private slots:
    void initTestCase() { designtest::configureApplication(); }

    void init()
    {
        designtest::failOnAnyWarning();
        m_settings = std::make_unique<QSettings>(m_dir.filePath("d.ini"), QSettings::IniFormat);
        PlayerViewModelDependencies deps;
        deps.settings = m_settings.get();
        m_vm = std::make_unique<PlayerViewModel>([] { return ContinuousInstant{}; }, deps);
        NowPlayingTrack track;
        track.title = QStringLiteral("Song");
        track.artist = QStringLiteral("Artist");
        m_vm->setTrack(track);
        m_sheet = std::make_unique<ShareSheetController>();
    }

    void cleanup()
    {
        m_sheet.reset();
        m_vm.reset();
    }

    void escapeClosesTheOverlayAtOnce()
    {
        auto s = load();
        QVERIFY(s);
        m_vm->setCurrentStory(SongStory{"T", "A", "TITLE: Night\nYEAR: 1999\nEN:\nText\nCN:\n中文", {}});
        m_vm->setIsStoryModalOpen(true);
        QQuickItem *card = popupItem(*s, "storyOverlay.card");
        QVERIFY(card);
        QTRY_VERIFY(card->isVisible());
        QTest::keyClick(s->window.get(), Qt::Key_Escape);
        QVERIFY(!m_vm->isStoryModalOpen());
        // No exit animation: the card is gone on the next frame.
        QTRY_VERIFY_WITH_TIMEOUT(!card->isVisible(), 100);
        // The overlay still follows the flag afterwards.
        m_vm->setIsStoryModalOpen(true);
        QTRY_VERIFY(card->isVisible());
    }

    void backdropClosesButCardDoesNot()
    {
        auto s = load();
        QVERIFY(s);
        m_vm->setCurrentStory(SongStory{"T", "A", "EN:\nText", {}});
        m_vm->setIsStoryModalOpen(true);
        QQuickItem *card = popupItem(*s, "storyOverlay.card");
        QVERIFY(card);
        QTRY_VERIFY(card->isVisible() && card->width() > 0);
        QTest::mouseClick(s->window.get(), Qt::LeftButton, {}, card->mapToScene({30, 30}).toPoint());
        QVERIFY(m_vm->isStoryModalOpen());
        QTest::mouseClick(s->window.get(), Qt::LeftButton, {}, QPoint(10, 10));
        QTRY_VERIFY(!m_vm->isStoryModalOpen());
    }

    void buttonOpensTheOverlay()
    {
        auto s = load();
        QVERIFY(s);
        auto *button = s->find<QQuickItem>("storyButton");
        QVERIFY(button);
        QVERIFY(std::abs(button->property("inkColor").value<QColor>().alphaF() - 0.7) < 0.01); // idle
        QTest::mouseClick(s->window.get(), Qt::LeftButton, {}, button->mapToScene({10, 8}).toPoint());
        QVERIFY(!m_vm->isStoryModalOpen());
        m_vm->setCurrentStory(SongStory{"T", "A", "EN:\nText", {}});
        QCOMPARE(button->property("inkColor").value<QColor>(), QColor(34, 233, 255)); // ready
        QTest::mouseClick(s->window.get(), Qt::LeftButton, {}, button->mapToScene({10, 8}).toPoint());
        QVERIFY(m_vm->isStoryModalOpen());
    }

    void sheetShowsAndCloses()
    {
        auto s = load();
        QVERIFY(s);
        ShareCardContent content = sharefixture::fullCard();
        content.heroIsFallback = true;
        m_sheet->present(content);
        QQuickItem *note = popupItem(*s, "shareSheet.fallbackNote");
        QVERIFY(note);
        QTRY_VERIFY(note->isVisible());
        auto *preview = popupItem(*s, "shareSheet.preview");
        QVERIFY(preview);
        QVERIFY(preview->width() > 300);
        // The sheet gives the square picture a square space: no empty bands beside or above it.
        QTRY_VERIFY2(std::abs(preview->width() - preview->height()) < 1.0,
                     qPrintable(QStringLiteral("%1 × %2").arg(preview->width()).arg(preview->height())));
        QTest::keyClick(s->window.get(), Qt::Key_Escape);
        QTRY_VERIFY(!m_sheet->isOpen());
    }
};

QTEST_MAIN(TstStoryShareViews)
#include "tst_storyshareviews.moc"
