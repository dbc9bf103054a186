// Screenshots of the song story and sharing views on the OpenGL renderer (run under xvfb-run with
// the xcb platform), written to build/screenshots/story-share/ for a person to look at.
#include "session/ToastCenter.h"
#include "session/player/PlayerViewModel.h"
#include "ui/design/FrameClock.h"
#include "ui/library/ShareSheetController.h"

#include "DesignTestSupport.h"
#include "ShareFixtures.h"

#include <QDir>
#include <QImageReader>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

namespace {

class PathPicker : public ShareSavePicker
{
public:
    QString path;
    void pickPath(const QString &, const QString &, Chosen chosen) override { chosen(path); }
};

const char *const scene = R"(
import QtQuick
import Cantorella.Design
import Cantorella.Library
Item {
    id: root
    property QtObject vm
    property QtObject sheetController
    property QtObject frameClock
    Rectangle { anchors.fill: parent; color: Theme.backgroundInk }
    StoryButton {
        objectName: "button"
        x: parent.width - width - 16
        y: parent.height - height - 72
        vm: root.vm
        frameClock: root.frameClock
    }
    SongStoryOverlay { vm: root.vm }
    ShareSheet { controller: root.sheetController }
}
)";

const char *const storyArticle = "TITLE: Night Drive\nTITLE_CN: 夜路\nYEAR: 1984\nGENRE: Synth-pop\n"
                                 "MOOD: nostalgic, dreamy, neon, midnight, hopeful, restless\n"
                                 "QUOTE: \"We ride until the morning light\"\n"
                                 "EN:\nWritten on a long night drive, the song turns the empty highway into a "
                                 "place of freedom.\n\nThe band recorded it live in one take.\n"
                                 "CN:\n这首歌写于一次漫长的夜间驾驶，把空旷的公路变成了自由的象征。\n\n乐队一次录成。";

} // namespace

class TstStoryShareScreens : public QObject
{
    Q_OBJECT

    QString m_out;
    QTemporaryDir m_dir;
    std::unique_ptr<QSettings> m_settings;
    std::unique_ptr<PlayerViewModel> m_vm;
    std::unique_ptr<ToastCenter> m_toasts;
    std::unique_ptr<ShareSheetController> m_sheet;
    PathPicker *m_picker = nullptr;
    std::unique_ptr<FrameClock> m_frames;

    std::unique_ptr<designtest::Scene> load(QSize window = {800, 950})
    {
        auto s = std::make_unique<designtest::Scene>();
        const QVariantMap props{{"vm", QVariant::fromValue<QObject *>(m_vm.get())},
                                {"sheetController", QVariant::fromValue<QObject *>(m_sheet.get())},
                                {"frameClock", QVariant::fromValue<QObject *>(m_frames.get())}};
        if (!s->load(scene, window, props))
            return nullptr;
        s->window->requestActivate();
        return s;
    }

    // A card whose line was not found: the example stands in as the hero line, with the note.
    static ShareCardContent fallbackCard()
    {
        ShareCardContent content = sharefixture::fullCard();
        content.heroLine = content.example;
        content.previousLyricLines.clear();
        content.heroIsFallback = true;
        return content;
    }

    void save(const QImage &image, const QString &name)
    {
        QVERIFY(!image.isNull());
        QVERIFY(image.save(m_out + QLatin1Char('/') + name));
    }

private slots:
    void initTestCase()
    {
        designtest::configureApplication();
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("needs the xcb platform (run under xvfb-run)");
        m_out = QStringLiteral(CANTORELLA_BINARY_DIR "/screenshots/story-share");
        QDir().mkpath(m_out);
    }

    void init()
    {
        designtest::failOnAnyWarning();
        m_settings = std::make_unique<QSettings>(m_dir.filePath("d.ini"), QSettings::IniFormat);
        PlayerViewModelDependencies deps;
        deps.settings = m_settings.get();
        m_vm = std::make_unique<PlayerViewModel>([] { return ContinuousInstant{}; }, deps);
        NowPlayingTrack track;
        track.title = QStringLiteral("Night Drive");
        track.artist = QStringLiteral("Example Band");
        m_vm->setTrack(track);
        m_toasts = std::make_unique<ToastCenter>();
        m_sheet = std::make_unique<ShareSheetController>();
        m_sheet->setToastCenter(m_toasts.get());
        auto picker = std::make_unique<PathPicker>();
        m_picker = picker.get();
        m_sheet->setServices(nullptr, nullptr, std::move(picker));
        m_frames = std::make_unique<FrameClock>(ContinuousClock::system());
    }

    void cleanup()
    {
        m_sheet.reset();
        m_frames.reset();
        m_vm.reset();
    }

    void buttonLooks()
    {
        auto s = load();
        QVERIFY(s);
        auto *button = s->find<QQuickItem>("button");
        QVERIFY(button);
        const QRect area = button->mapRectToScene(QRectF(-16, -16, button->width() + 32, button->height() + 32))
                               .toAlignedRect();
        QTest::qWait(100);
        save(s->window->grabWindow().copy(area), QStringLiteral("button-idle.png"));
        m_vm->setCurrentStory(SongStory{"Night Drive", "Example Band", storyArticle, {}});
        QTest::qWait(300);
        save(s->window->grabWindow().copy(area), QStringLiteral("button-ready.png"));
    }

    // The main window's two sizes: as it opens and at its minimum.
    static void windowSizes()
    {
        QTest::addColumn<QSize>("window");
        QTest::newRow("800x950") << QSize(800, 950);
        QTest::newRow("680x800") << QSize(680, 800);
    }

    static QString sized(const char *name, QSize window)
    {
        return QStringLiteral("%1-%2x%3.png").arg(QLatin1String(name)).arg(window.width()).arg(window.height());
    }

    void overlay_data() { windowSizes(); }
    void overlay()
    {
        QFETCH(QSize, window);
        auto s = load(window);
        QVERIFY(s);
        m_vm->setCurrentStory(SongStory{"Night Drive", "Example Band", storyArticle, {}});
        m_vm->setIsStoryModalOpen(true);
        QTest::qWait(600);
        save(s->window->grabWindow(), sized("overlay", window));
    }

    void sheet_data() { windowSizes(); }
    void sheet()
    {
        QFETCH(QSize, window);
        auto s = load(window);
        QVERIFY(s);
        m_sheet->present(fallbackCard());
        QTest::qWait(400);
        save(s->window->grabWindow(), sized("sheet", window));
    }

    void exportedPictures()
    {
        auto s = load();
        QVERIFY(s);
        m_sheet->present(fallbackCard());

        m_picker->path = m_out + QStringLiteral("/exported.png");
        QFile::remove(m_picker->path);
        m_sheet->saveImage();
        QCOMPARE(m_toasts->currentText(), QStringLiteral("已保存到 exported.png"));
        QVERIFY(QImageReader(m_picker->path).size().width() >= 1200);

        // The overfull card, for a look at how it stays readable.
        m_sheet->present(sharefixture::overfullCard());
        m_picker->path = m_out + QStringLiteral("/exported-overfull.png");
        m_sheet->saveImage();
        QCOMPARE(m_toasts->currentText(), QStringLiteral("已保存到 exported-overfull.png"));
    }
};

QTEST_MAIN(TstStoryShareScreens)
#include "tst_storyshare_xvfb.moc"
