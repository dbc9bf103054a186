// Pixels that only a real OpenGL renderer draws (run under xvfb-run with the xcb platform): the
// mesh background's shader, its drift, the particles' discs, and a gated-off window that swaps
// no frame.

#include "ui/design/FrameClock.h"
#include "ui/design/ParticleCanvas.h"

#include <QElapsedTimer>
#include <QPainter>

#include "DesignTestSupport.h"

#include <QSignalSpy>

using namespace designtest;

namespace {

const QByteArray meshQml = R"(
import QtQuick
import Cantorella.Design
MeshGradientBackground { elapsed: 0 }
)";

const QByteArray gatedQml = R"(
import QtQuick
import Cantorella.Design
Item {
    id: root
    property FrameClock frameClock
    property bool playing: false
    AnimationActivityView {
        id: gate
        objectName: "gate"
        anchors.fill: parent
        isPlaying: root.playing
        MeshGradientBackground { anchors.fill: parent; isAnimating: gate.active; frameClock: root.frameClock }
        ParticleCanvas { anchors.fill: parent; isAnimating: gate.active; frameClock: root.frameClock }
    }
}
)";

const QByteArray particlesQml = R"(
import QtQuick
import Cantorella.Design
Rectangle {
    color: "black"
    ParticleCanvas { objectName: "particles"; anchors.fill: parent }
}
)";

const QSize windowSize(800, 950);

bool isInk(QColor c)
{
    return c.red() < 20 && c.green() < 20 && c.blue() < 30;
}

} // namespace

class DesignPixelsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        configureApplication();
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("needs the xcb platform (run under xvfb-run)");
    }
    void init() { failOnAnyWarning(); }

    void meshIsDrawnAndDrifts();
    void particlesAreDrawnAsThePainterDrawsThem();
    void gatedOffWindowSwapsNoFrame();
};

void DesignPixelsTest::meshIsDrawnAndDrifts()
{
    Scene scene;
    QVERIFY(scene.load(meshQml, windowSize));
    QTest::qWait(200);
    const QImage rest = scene.window->grabWindow();
    QCOMPARE(rest.size() / rest.devicePixelRatio(), windowSize);

    // Glow 1's centre is pink (strong red and blue, little green), not the ink behind it.
    const QColor pink = rest.pixelColor(240, 285);
    QVERIFY2(!isInk(pink) && pink.red() > 150 && pink.blue() > 120 && pink.green() < 110,
             qPrintable(pink.name()));
    // Glow 2's centre is cyan.
    const QColor cyan = rest.pixelColor(600, 570);
    QVERIFY2(cyan.green() > 120 && cyan.blue() > 150 && cyan.red() < 110, qPrintable(cyan.name()));

    // e = 0.5 (elapsed 7 of 14): the field grows by 2.5 % and moves 10 px right and up.
    scene.root->setProperty("elapsed", 7.0);
    QTest::qWait(200);
    const QImage moved = scene.window->grabWindow();
    long long difference = 0;
    for (int y = 0; y < windowSize.height(); y += 10)
        for (int x = 0; x < windowSize.width(); x += 10) {
            const QColor a = rest.pixelColor(x, y), b = moved.pixelColor(x, y);
            difference += std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue());
        }
    QVERIFY2(difference > 7600 * 4, qPrintable(QString::number(difference))); // on average > 4 levels a sample
    // The pink glow's centre moved with the field: it now reads the way its left neighbour did.
    const QColor shifted = moved.pixelColor(250, 275);
    QVERIFY(std::abs(shifted.red() - pink.red()) + std::abs(shifted.blue() - pink.blue()) < 24);
}

// The scene-graph discs land where the painter's dots do, in the same colour and alpha (a wrong
// premultiplication or a misplaced vertex shows at the centres), and leave the rest untouched.
void DesignPixelsTest::particlesAreDrawnAsThePainterDrawsThem()
{
    Scene scene;
    QVERIFY(scene.load(particlesQml, windowSize));
    QTest::qWait(200);
    const QImage drawn = scene.window->grabWindow().convertToFormat(QImage::Format_RGB32);
    auto *canvas = qobject_cast<ParticleCanvas *>(scene.find(QStringLiteral("particles")));
    QVERIFY(canvas);
    QImage painted(windowSize, QImage::Format_RGB32);
    painted.fill(Qt::black);
    {
        QPainter painter(&painted);
        ParticleCanvas::drawParticles(painter, windowSize, canvas->drawnTime(), canvas->particles());
    }
    const auto dots = ParticleCanvas::dotsAt(windowSize, canvas->drawnTime(), canvas->particles());
    int compared = 0;
    for (const ParticleDot &dot : dots) {
        const QPoint centre = dot.centre.toPoint();
        if (dot.radius < 2 || !QRect(QPoint(), windowSize).contains(centre) || dot.color.alphaF() < 0.05)
            continue;
        const QColor a = drawn.pixelColor(centre), b = painted.pixelColor(centre);
        QVERIFY2(std::abs(a.red() - b.red()) <= 6 && std::abs(a.green() - b.green()) <= 6
                     && std::abs(a.blue() - b.blue()) <= 6,
                 qPrintable(a.name() + QStringLiteral(" vs ") + b.name()));
        ++compared;
    }
    QVERIFY(compared >= 5);
    long long differing = 0;
    for (int y = 0; y < windowSize.height(); ++y)
        for (int x = 0; x < windowSize.width(); ++x)
            differing += drawn.pixel(x, y) != painted.pixel(x, y);
    // Only edge pixels may differ (the two antialiasings round differently).
    QVERIFY2(differing < 40 * qsizetype(dots.size()), qPrintable(QString::number(differing)));
}

void DesignPixelsTest::gatedOffWindowSwapsNoFrame()
{
    FrameClock frameClock(ContinuousClock::system());
    Scene scene;
    QVERIFY(scene.load(gatedQml, windowSize, {{QStringLiteral("frameClock"), QVariant::fromValue(&frameClock)}}));
    scene.window->requestActivate();
    QVERIFY(QTest::qWaitForWindowActive(scene.window.get()));
    QTest::qWait(300);

    QSignalSpy swaps(scene.window.get(), &QQuickWindow::frameSwapped);
    QTest::qWait(1000);
    QCOMPARE(swaps.count(), 0);

    // The same window animating does swap frames, at most 30 a second.
    scene.root->setProperty("playing", true);
    auto *gate = scene.find(QStringLiteral("gate"));
    QTRY_VERIFY(gate->property("active").toBool());
    QTest::qWait(200);
    // Ten frames, however long a busy machine takes to draw them, and never faster than 30 a second.
    swaps.clear();
    QElapsedTimer animating;
    animating.start();
    QTRY_VERIFY_WITH_TIMEOUT(swaps.count() >= 10, 20000);
    const double seconds = double(animating.elapsed()) / 1000;
    QVERIFY2(swaps.count() <= 30 * seconds + 3, qPrintable(QStringLiteral("%1 in %2 s").arg(swaps.count()).arg(seconds)));

    scene.root->setProperty("playing", false);
    QTest::qWait(200);
    swaps.clear();
    QTest::qWait(1000);
    QCOMPARE(swaps.count(), 0);
}

QTEST_MAIN(DesignPixelsTest)
#include "tst_designpixels_xvfb.moc"
