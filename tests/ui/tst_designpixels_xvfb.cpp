// Pixels that only a real OpenGL renderer draws (run under xvfb-run with the xcb platform): the
// mesh background's shader, its drift, the particles' discs, the gradient ring's mesh, and a
// gated-off window that swaps no frame.

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

const QByteArray ringQml = R"(
import QtQuick
import Cantorella.Design
Rectangle {
    color: "black"
    GradientRing {
        objectName: "ring"
        x: 100; y: 100; width: 400; height: 200
        radius: 16
        borderWidth: 2
        startColor: "#ff0000"; middleColor: "#00ff00"; endColor: "#0000ff"
    }
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
    void gradientRingIsTheBorderOnly_data();
    void gradientRingIsTheBorderOnly();
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

// The ring (400 × 200 at 100, 100, radius 16, 2 px) in pure red → green → blue: each pixel is
// "start", "middle", "end" or "ink" (black: nothing drawn). The colour runs along the item's
// normalised diagonal, so the line from its bottom-left to its top-right corner is the middle.
void DesignPixelsTest::gradientRingIsTheBorderOnly_data()
{
    QTest::addColumn<double>("borderWidth");
    QTest::addColumn<QPoint>("at");
    QTest::addColumn<QString>("expected");
    QTest::newRow("top edge, near the start") << 2.0 << QPoint(130, 100) << "start";
    QTest::newRow("inner row of the top edge") << 2.0 << QPoint(130, 101) << "start";
    QTest::newRow("left edge, low") << 2.0 << QPoint(100, 270) << "middle";
    QTest::newRow("top edge, near the right") << 2.0 << QPoint(480, 100) << "middle";
    QTest::newRow("bottom edge, near the end") << 2.0 << QPoint(470, 299) << "end";
    QTest::newRow("right edge, low") << 2.0 << QPoint(499, 280) << "end";
    QTest::newRow("inside the border") << 2.0 << QPoint(300, 200) << "ink";
    QTest::newRow("just inside the top edge") << 2.0 << QPoint(300, 104) << "ink";
    QTest::newRow("just outside the top edge") << 2.0 << QPoint(300, 97) << "ink";
    QTest::newRow("outside the rounded corner") << 2.0 << QPoint(101, 101) << "ink";
    QTest::newRow("no border") << 0.0 << QPoint(130, 100) << "ink";
}

void DesignPixelsTest::gradientRingIsTheBorderOnly()
{
    QFETCH(double, borderWidth);
    QFETCH(QPoint, at);
    QFETCH(QString, expected);
    Scene scene;
    QVERIFY(scene.load(ringQml, windowSize));
    scene.find(QStringLiteral("ring"))->setProperty("borderWidth", borderWidth);
    const QColor c = scene.window->grabWindow().pixelColor(at);
    const auto is = [&c](int r, int g, int b) {
        return std::abs(c.red() - r) <= 48 && std::abs(c.green() - g) <= 48 && std::abs(c.blue() - b) <= 48;
    };
    const bool matches = expected == QLatin1String("start")    ? is(255, 0, 0)
                         : expected == QLatin1String("middle") ? is(0, 255, 0) || is(40, 215, 0) || is(0, 215, 40)
                         : expected == QLatin1String("end")    ? is(0, 0, 255)
                                                               : is(0, 0, 0);
    QVERIFY2(matches, qPrintable(c.name()));
}

QTEST_MAIN(DesignPixelsTest)
#include "tst_designpixels_xvfb.moc"
