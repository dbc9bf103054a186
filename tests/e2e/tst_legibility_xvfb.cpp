// Whether the song story can be read over the busiest demo song, in the real window under a
// virtual X display: the shell in this process, the stand-in server and mpv playing "Scarborough
// Fair" (the demo song with the most card text). With the story open, its text is hidden for one
// picture: every pixel left in the text's place is what lies behind the text. The text colour,
// blended over the brightest of those pixels, must keep a contrast of 4.5 : 1 (WCAG AA), and those
// pixels must be even enough that nothing behind shows through as shapes.
// Screenshots of the open story go to build/screenshots/legibility/.

#include "DemoApp.h"
#include "WindowDriver.h"

#include "session/player/PlayerViewModel.h"

#include <QTest>

#include <cmath>

using namespace WindowDriver;

namespace {

const QString screenshots = QStringLiteral(CANTORELLA_BINARY_DIR "/screenshots/legibility");

double channel(double c)
{
    c /= 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double luminance(double r, double g, double b)
{
    return 0.2126 * channel(r) + 0.7152 * channel(g) + 0.0722 * channel(b);
}

double contrast(double a, double b)
{
    return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

// The lowest contrast of text in `colour` (blended by its alpha) over any pixel of `area`.
double worstContrast(const QImage &picture, const QRect &area, const QColor &colour)
{
    double worst = 1e9;
    const double a = colour.alphaF();
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor behind = picture.pixelColor(x, y);
            const double r = a * colour.red() + (1 - a) * behind.red();
            const double g = a * colour.green() + (1 - a) * behind.green();
            const double b = a * colour.blue() + (1 - a) * behind.blue();
            worst = std::min(worst, contrast(luminance(r, g, b),
                                             luminance(behind.red(), behind.green(), behind.blue())));
        }
    }
    return worst;
}

// How far the brightest pixel of `area` stands out from the darkest, as a contrast ratio: what
// shows through the panel as shapes (1 : 1 is an even fill).
double showThrough(const QImage &picture, const QRect &area)
{
    double lightest = 0;
    double darkest = 1;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor c = picture.pixelColor(x, y);
            const double l = luminance(c.red(), c.green(), c.blue());
            lightest = std::max(lightest, l);
            darkest = std::min(darkest, l);
        }
    }
    return contrast(lightest, darkest);
}

QRect sceneRect(QQuickItem *item, qreal dpr)
{
    const QRectF r = item->mapRectToScene(QRectF(0, 0, item->width(), item->height()));
    return QRectF(r.topLeft() * dpr, r.size() * dpr).toAlignedRect();
}

} // namespace

class TestLegibility : public QObject
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
        QVERIFY(m_playback.makeSong(QStringLiteral("scarborough.ogg"), QStringLiteral("Scarborough Fair"),
                                    QStringLiteral("Traditional"), 88));
    }

    void storyOverTheBusiestSong_data()
    {
        QTest::addColumn<QSize>("window");
        QTest::newRow("800x950") << QSize(800, 950);
        QTest::newRow("680x800") << QSize(680, 800);
    }

    void storyOverTheBusiestSong()
    {
        QFETCH(QSize, window);
        demo::SignedInApp app;
        QVERIFY(app.start(m_playback.base(), QStringLiteral("reader@example.com")));
        QQuickWindow *shown = app.window();
        resize(shown, window.width(), window.height());
        QVERIFY(m_playback.play(QStringLiteral("scarborough.ogg")));
        PlayerViewModel *vm = app.appState()->viewModel();
        QTRY_VERIFY_WITH_TIMEOUT(vm->cards().size() >= 4 && vm->currentStory() && !vm->lyricLines().isEmpty(), 20000);
        // A lit card and a sung line behind the story.
        demo::Playback::control({QStringLiteral("position"), QStringLiteral("31.5")});
        QTRY_VERIFY_WITH_TIMEOUT(litRow(shown), 15000);

        vm->setIsStoryModalOpen(true);
        QQuickItem *card = item(shown, QStringLiteral("storyOverlay.card"));
        QVERIFY(card);
        QTRY_VERIFY(card->isVisible() && card->scale() == 1.0);
        QTest::qWait(500); // the entrance
        QVERIFY(screenshot(shown, screenshots, QStringLiteral("story")));

        QQuickItem *english = item(shown, QStringLiteral("storyOverlay.english"));
        QQuickItem *chinese = item(shown, QStringLiteral("storyOverlay.chinese"));
        QQuickItem *titles = item(shown, QStringLiteral("storyOverlay.titleEN"));
        QVERIFY(english && chinese && titles && english->isVisible() && chinese->isVisible());
        QQuickItem *text = item(shown, QStringLiteral("storyOverlay.scroll"));
        QVERIFY(text);
        text->setOpacity(0);
        QTest::qWait(150);
        const QImage behind = shown->grabWindow().convertToFormat(QImage::Format_RGB32);
        text->setOpacity(1);
        const qreal dpr = behind.devicePixelRatio();

        struct Run
        {
            QQuickItem *item;
            QColor colour;
        };
        const Run runs[] = {{titles, QColor(Qt::white)},
                            {english, QColor(Qt::white)},
                            {chinese, QColor::fromRgbF(1, 1, 1, 0.7f)}};
        for (const Run &run : runs) {
            const QRect area = sceneRect(run.item, dpr).intersected(sceneRect(card, dpr)).intersected(behind.rect());
            if (area.isEmpty() && run.item == chinese)
                continue; // scrolled below the card at the smaller size
            QVERIFY2(!area.isEmpty(), qPrintable(run.item->objectName()));
            const double worst = worstContrast(behind, area, run.colour);
            const double ghosts = showThrough(behind, area);
            qInfo().noquote() << run.item->objectName() << "worst contrast" << QString::number(worst, 'f', 2)
                              << "show-through" << QString::number(ghosts, 'f', 2);
            QVERIFY2(worst >= 4.5, qPrintable(QStringLiteral("%1: %2 : 1").arg(run.item->objectName()).arg(worst)));
            // Lyrics and cards behind must not show through as shapes: the brightest pixel behind
            // the text stays within 1.15 : 1 of the darkest (the translucent fill let 1.34 through).
            QVERIFY2(ghosts <= 1.15, qPrintable(QStringLiteral("%1 shows through: %2 : 1")
                                                    .arg(run.item->objectName()).arg(ghosts)));
        }
        m_playback.stopPlayer();
    }
};

CANTORELLA_APP_TEST_MAIN(TestLegibility)

#include "tst_legibility_xvfb.moc"
