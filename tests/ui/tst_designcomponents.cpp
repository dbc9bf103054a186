#include "DesignTestSupport.h"

#include <QSignalSpy>

using namespace designtest;

// Loads every component of Cantorella.Design offscreen in each of its variants and checks the
// behaviour that lives in QML: hidden badges take no space, presses in a button's corners do
// not click, the press look with and without Reduce Motion, the bars' (lack of) animation, and
// the toast's entry and exit.
class DesignComponentsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { configureApplication(); }
    void init() { failOnAnyWarning(); }

    void everyComponentLoads_data();
    void everyComponentLoads();
    void hiddenBadgesTakeNoSpace_data();
    void hiddenBadgesTakeNoSpace();
    void cornerPressesDoNotClick_data();
    void cornerPressesDoNotClick();
    void pressLook_data();
    void pressLook();
    void readOnlyBarJumpsLearnedBarAnimates();
    void toastEntersAndLeaves_data();
    void toastEntersAndLeaves();
};

namespace {
QByteArray inItem(const QByteArray &body)
{
    return "import QtQuick\nimport QtQuick.Layouts\nimport Cantorella.Design\nItem { " + body + " }";
}
} // namespace

void DesignComponentsTest::everyComponentLoads_data()
{
    QTest::addColumn<QByteArray>("body");
    const char *tones[] = {"CT.NeonCyan", "CT.NeonPink", "CT.Surface"};
    for (const char *tone : tones) {
        for (const char *look : {"true", "false"}) {
            for (const char *down : {"true", "undefined"}) {
                for (const char *reduce : {"true", "false"}) {
                    QTest::addRow("button %s primary=%s down=%s reduce=%s", tone, look, down, reduce)
                        << QByteArray("CTButton { text: \"重试\"; iconName: \"arrow.clockwise\"; tone: ") + tone
                               + "; primary: " + look + "; down: " + down + "; reduceMotion: " + reduce + " }";
                }
            }
        }
        QTest::addRow("chip %s", tone) << QByteArray("CTChip { text: \"NOW PLAYING\"; tone: ") + tone + " }";
    }
    QTest::newRow("chip with dot") << QByteArray(
        "CTChip { Rectangle { width: 5; height: 5; radius: 2.5; color: Theme.neonCyan } "
        "Text { text: \"NOW PLAYING\"; color: \"white\"; font: Theme.smallLabel } }");
    for (const char *language : {"undefined", "null", "\"\"", "\"en\"", "\"EN\"", "\"<b>zh</b>\""})
        QTest::addRow("language badge %s", language) << QByteArray("LanguageBadgeView { language: ") + language + " }";
    for (const char *source : {"undefined", "null", "\"lrclib\"", "\"netease\"", "\"cache\"", "\"manualImport\"", "\"\""})
        QTest::addRow("source badge %s", source) << QByteArray("SourceBadgeView { source: ") + source + " }";
    QTest::newRow("repeat badge") << QByteArray("RepeatBadgeView { n: 4; total: 3 }");
    QTest::newRow("read-only bar") << QByteArray("ReadOnlyProgressBar { width: 200; elapsed: 30; duration: 120 }");
    QTest::newRow("learned bar") << QByteArray("LearnedProgressBar { width: 200; fraction: 1.7 }");
    QTest::newRow("relative time") << QByteArray(
        "RelativeTimeLabel { now: new Date(2024, 2, 15, 8, 0); date: new Date(2024, 2, 14, 23, 0); color: \"white\" }");
    QTest::newRow("icon") << QByteArray("Icon { name: \"heart.fill\"; size: 14; color: Theme.neonPink }");
    QTest::newRow("frosted fill") << QByteArray("FrostedFill { width: 100; height: 40; radius: 20 }");
    QTest::newRow("gradient capsule") << QByteArray("GradientCapsule { width: 100; height: 30 }");
    QTest::newRow("mesh, still") << QByteArray("MeshGradientBackground { anchors.fill: parent; elapsed: 7 }");
    QTest::newRow("particles, still") << QByteArray("ParticleCanvas { anchors.fill: parent }");
    QTest::newRow("gate") << QByteArray("AnimationActivityView { anchors.fill: parent; isPlaying: true }");
    QTest::newRow("modal size") << QByteArray("Item { width: ModalSizing.sizeIn(800, 950).width }");
    QTest::newRow("palette") << QByteArray("Rectangle { color: MeshGradientPalette.color(3, 0.7, 0.5) }");
    QTest::newRow("toast shown") << QByteArray("ToastView { anchors.fill: parent; text: \"已复制 / Copied\"; toastId: \"1\" }");
    QTest::newRow("toast none") << QByteArray("ToastView { anchors.fill: parent }");
}

void DesignComponentsTest::everyComponentLoads()
{
    QFETCH(QByteArray, body);
    Scene scene;
    QVERIFY(scene.load(inItem(body)));
    QTest::qWait(20); // a frame, so warnings from drawing show too
}

void DesignComponentsTest::hiddenBadgesTakeNoSpace_data()
{
    QTest::addColumn<QByteArray>("language");
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<bool>("languageShown");
    QTest::addColumn<bool>("sourceShown");
    QTest::newRow("both absent") << QByteArray("undefined") << QByteArray("undefined") << false << false;
    QTest::newRow("both null") << QByteArray("null") << QByteArray("null") << false << false;
    QTest::newRow("empty code: empty capsule") << QByteArray("\"\"") << QByteArray("null") << true << false;
    QTest::newRow("both shown") << QByteArray("\"en\"") << QByteArray("\"cache\"") << true << true;
}

void DesignComponentsTest::hiddenBadgesTakeNoSpace()
{
    QFETCH(QByteArray, language);
    QFETCH(QByteArray, source);
    QFETCH(bool, languageShown);
    QFETCH(bool, sourceShown);
    Scene scene;
    QVERIFY(scene.load(inItem("RowLayout { spacing: 6; Item { implicitWidth: 10; implicitHeight: 10 } "
                              "LanguageBadgeView { objectName: \"language\"; language: " + language + " } "
                              "SourceBadgeView { objectName: \"source\"; source: " + source + " } "
                              "Item { objectName: \"end\"; implicitWidth: 10; implicitHeight: 10 } }")));
    auto *lang = scene.find(QStringLiteral("language"));
    auto *src = scene.find(QStringLiteral("source"));
    auto *end = scene.find(QStringLiteral("end"));
    QVERIFY(lang && src && end);
    QCOMPARE(lang->isVisible(), languageShown);
    QCOMPARE(src->isVisible(), sourceShown);
    double expectedX = 16;
    if (languageShown) {
        QVERIFY(lang->width() >= 12); // an empty code still has its insets
        expectedX += lang->width() + 6;
    }
    if (sourceShown)
        expectedX += src->width() + 6;
    QTRY_COMPARE(end->x(), expectedX);
}

void DesignComponentsTest::cornerPressesDoNotClick_data()
{
    QTest::addColumn<QPoint>("point");
    QTest::addColumn<bool>("clicks");
    QTest::newRow("centre") << QPoint(60, 15) << true;
    QTest::newRow("left tip") << QPoint(1, 15) << true;
    QTest::newRow("top edge, middle") << QPoint(60, 1) << true;
    QTest::newRow("top-left corner") << QPoint(2, 2) << false;
    QTest::newRow("bottom-right corner") << QPoint(117, 27) << false;
}

void DesignComponentsTest::cornerPressesDoNotClick()
{
    QFETCH(QPoint, point);
    QFETCH(bool, clicks);
    Scene scene;
    QVERIFY(scene.load(inItem("CTButton { objectName: \"button\"; x: 20; y: 20; width: 120; height: 30; text: \"标记掌握\" }")));
    auto *button = scene.find(QStringLiteral("button"));
    QVERIFY(button);
    QSignalSpy clicked(button, SIGNAL(clicked()));
    QTest::mouseClick(scene.window.get(), Qt::LeftButton, {}, button->mapToScene(point).toPoint());
    QCOMPARE(clicked.count(), clicks ? 1 : 0);
}

void DesignComponentsTest::pressLook_data()
{
    QTest::addColumn<bool>("primary");
    QTest::addColumn<bool>("reduceMotion");
    QTest::addColumn<double>("pressedOpacity");
    QTest::addColumn<double>("pressedScale");
    QTest::newRow("primary") << true << false << 0.85 << 0.97;
    QTest::newRow("primary, reduce motion") << true << true << 0.85 << 1.0;
    QTest::newRow("secondary") << false << false << 0.75 << 0.97;
    QTest::newRow("secondary, reduce motion") << false << true << 0.75 << 1.0;
}

void DesignComponentsTest::pressLook()
{
    QFETCH(bool, primary);
    QFETCH(bool, reduceMotion);
    QFETCH(double, pressedOpacity);
    QFETCH(double, pressedScale);
    Scene scene;
    QVERIFY(scene.load(inItem(QByteArray("CTButton { objectName: \"button\"; x: 20; y: 20; text: \"重试\"; primary: ")
                              + (primary ? "true" : "false") + "; reduceMotion: " + (reduceMotion ? "true" : "false")
                              + " }")));
    auto *button = scene.find(QStringLiteral("button"));
    QVERIFY(button);
    const QPoint centre = button->mapToScene(QPointF(button->width() / 2, button->height() / 2)).toPoint();

    QTest::mousePress(scene.window.get(), Qt::LeftButton, {}, centre);
    if (reduceMotion) {
        // At once, and no shrink.
        QCOMPARE(button->opacity(), pressedOpacity);
    } else {
        QVERIFY(button->opacity() > pressedOpacity); // easing towards it
    }
    QTRY_COMPARE(button->opacity(), pressedOpacity);
    QTRY_COMPARE(button->scale(), pressedScale);
    if (reduceMotion) {
        QTest::qWait(150);
        QCOMPARE(button->scale(), 1.0);
    }

    QTest::mouseRelease(scene.window.get(), Qt::LeftButton, {}, centre);
    if (reduceMotion)
        QCOMPARE(button->opacity(), 1.0);
    QTRY_COMPARE(button->opacity(), 1.0);
    QTRY_COMPARE(button->scale(), 1.0);
}

void DesignComponentsTest::readOnlyBarJumpsLearnedBarAnimates()
{
    Scene scene;
    QVERIFY(scene.load(inItem("ReadOnlyProgressBar { objectName: \"readOnly\"; width: 200; elapsed: 30; duration: 120 } "
                              "LearnedProgressBar { objectName: \"learned\"; y: 20; width: 200; fraction: 0.25 }")));
    auto *readOnly = scene.find(QStringLiteral("readOnly"));
    auto *learned = scene.find(QStringLiteral("learned"));
    QVERIFY(readOnly && learned);
    auto *readOnlyFill = readOnly->findChild<QQuickItem *>(QStringLiteral("readOnlyProgressBar.fill"));
    auto *learnedFill = learned->findChild<QQuickItem *>(QStringLiteral("learnedProgressBar.fill"));
    QVERIFY(readOnlyFill && learnedFill);
    QCOMPARE(readOnlyFill->width(), 50.0);
    QCOMPARE(learnedFill->width(), 50.0); // the first value is not animated

    readOnly->setProperty("elapsed", 60);
    QCOMPARE(readOnlyFill->width(), 100.0);
    readOnly->setProperty("elapsed", -4);
    QCOMPARE(readOnlyFill->width(), 0.0);

    QElapsedTimer timer;
    timer.start();
    learned->setProperty("fraction", 0.5);
    QTest::qWait(100);
    QVERIFY(learnedFill->width() > 50.0 && learnedFill->width() < 100.0);
    QTRY_COMPARE(learnedFill->width(), 100.0);
    QVERIFY(timer.elapsed() >= 400); // eased over half a second

    learned->setProperty("fraction", 1.7);
    QTRY_COMPARE(learnedFill->width(), 200.0);
    learned->setProperty("fraction", -0.2);
    QTRY_COMPARE(learnedFill->width(), 0.0);
    // A resize is not animated: the animated value is the fraction.
    learned->setProperty("fraction", 0.5);
    QTRY_COMPARE(learnedFill->width(), 100.0);
    learned->setWidth(300);
    QCOMPARE(learnedFill->width(), 150.0);
}

void DesignComponentsTest::toastEntersAndLeaves_data()
{
    QTest::addColumn<bool>("reduceMotion");
    QTest::newRow("motion") << false;
    QTest::newRow("reduce motion") << true;
}

void DesignComponentsTest::toastEntersAndLeaves()
{
    QFETCH(bool, reduceMotion);
    Scene scene;
    QVERIFY(scene.load(inItem(QByteArray("ToastView { objectName: \"toast\"; anchors.fill: parent; reduceMotion: ")
                              + (reduceMotion ? "true" : "false") + " }")));
    auto *toast = scene.find(QStringLiteral("toast"));
    auto *popup = toast->findChild<QObject *>(QStringLiteral("toastView.popup"));
    QVERIFY(popup);
    QCOMPARE(popup->property("visible").toBool(), false);

    toast->setProperty("text", QStringLiteral("已复制 / Copied"));
    toast->setProperty("toastId", QStringLiteral("a"));
    auto *content = popup->property("contentItem").value<QQuickItem *>();
    auto *capsule = content ? content->findChild<QQuickItem *>(QStringLiteral("toastView.capsule")) : nullptr;
    QVERIFY(capsule);
    auto *text = capsule->findChild<QQuickItem *>(QStringLiteral("toastView.text"));
    QCOMPARE(text->property("text").toString(), QStringLiteral("已复制 / Copied"));
    QTRY_VERIFY(popup->property("visible").toBool());
    // Mid-entry: rising from 8 px below, unless Reduce Motion leaves it in place.
    const QPointF start = capsule->mapToScene(QPointF());
    QTRY_COMPARE(capsule->opacity(), 1.0);
    const QPointF rest = capsule->mapToScene(QPointF());
    QCOMPARE(rest.y() + capsule->height() + 24, double(scene.window->height()));
    if (reduceMotion)
        QCOMPARE(start, rest);
    else
        QVERIFY(start.y() > rest.y());

    // A newer toast replaces the text at once.
    toast->setProperty("text", QStringLiteral("生成图片失败"));
    toast->setProperty("toastId", QStringLiteral("b"));
    QCOMPARE(text->property("text").toString(), QStringLiteral("生成图片失败"));

    toast->setProperty("toastId", QString());
    QTRY_COMPARE(popup->property("visible").toBool(), false);
    QCOMPARE(text->property("text").toString(), QStringLiteral("生成图片失败")); // kept while fading
}

QTEST_MAIN(DesignComponentsTest)
#include "tst_designcomponents.moc"
