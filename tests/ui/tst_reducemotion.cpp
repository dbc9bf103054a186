// What Reduce Motion drops and what it keeps, on the real views, each reading the one setting of
// the engine (CANTORELLA_REDUCE_MOTION here): a change either moves to its value over time or
// lands at once, and ends at the value the setting calls for.

#include "tst_nowfixture.h"

#include "DesignTestSupport.h"

#include <QQuickItem>
#include <QTest>

#include <cmath>
#include <functional>

namespace {

enum class Scene { button, accountButton, storyDismiss, glassCard, nowView, compactPanel };

// One case: a scene, the item watched, what changes, the property that follows.
struct Case
{
    Scene scene;
    QString item;                          // objectName, or "" for the scene's root
    std::function<void(QQuickItem *, NowWorld &)> change;
    const char *property;
};

const QByteArray sceneQml(Scene scene)
{
    switch (scene) {
    case Scene::button:
        return "import QtQuick\nimport Cantorella.Design\nCTButton { text: \"按钮\" }\n";
    case Scene::accountButton:
        return "import QtQuick\nimport Cantorella.Account\nUserInfoButton { text: \"备份\" }\n";
    case Scene::storyDismiss:
        return "import QtQuick\nimport Cantorella.Library\nStoryContent { width: 400; model: StoryOverlayModel {} }\n";
    case Scene::glassCard:
        return "import QtQuick\nimport Cantorella.Player\nGlassCardView { width: 400; en: \"hello\"; cn: \"你好\" }\n";
    case Scene::nowView:
        return "import QtQuick\nimport Cantorella.Player\nNowView {}\n";
    case Scene::compactPanel:
        return "import QtQuick\nimport Cantorella.Player\nCompactLyricsPanel {}\n";
    }
    return {};
}

QVariantMap worldProperties(NowWorld &w)
{
    return {{QStringLiteral("vm"), QVariant::fromValue(&w.vm)},
            {QStringLiteral("cardStore"), QVariant::fromValue(w.store.get())},
            {QStringLiteral("cardLighting"), QVariant::fromValue(&w.lighting)},
            {QStringLiteral("toastCenter"), QVariant::fromValue(&w.toasts)},
            {QStringLiteral("clocks"), QVariant::fromValue(&w.clocks)}};
}

void press(QQuickItem *item, NowWorld &)
{
    item->setProperty("down", true);
}

} // namespace

Q_DECLARE_METATYPE(Case)

class TestReduceMotion : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { designtest::configureApplication(); }
    void init() { designtest::failOnAnyWarning(); }
    void cleanup() { qunsetenv("CANTORELLA_REDUCE_MOTION"); }

    void dropsOnlyWhatItShould_data()
    {
        QTest::addColumn<Case>("c");
        QTest::addColumn<bool>("reduce");
        QTest::addColumn<bool>("animated"); // still on its way right after the change
        QTest::addColumn<double>("settled");

        const auto both = [](const char *name, const Case &c, bool animatedOn, double settledOn, bool animatedOff,
                             double settledOff) {
            QTest::addRow("%s, Reduce Motion on", name) << c << true << animatedOn << settledOn;
            QTest::addRow("%s, Reduce Motion off", name) << c << false << animatedOff << settledOff;
        };
        // Dropped: the press swell of every button (also those no view hands the setting to),
        // the glass card's preflight swell, the wrap-up's scale.
        both("button press", {Scene::button, {}, press, "scale"}, false, 1.0, true, 0.97);
        both("account popover button press", {Scene::accountButton, {}, press, "scale"}, false, 1.0, true, 0.97);
        const auto pressDismiss = [](QQuickItem *story, NowWorld &w) {
            press(findItem(story, QStringLiteral("storyOverlay.dismiss")), w);
        };
        both("story dismiss button press", {Scene::storyDismiss, QStringLiteral("storyOverlay.dismiss"), pressDismiss, "scale"},
             false, 1.0, true, 0.97);
        const auto preflight = [](QQuickItem *card, NowWorld &) { card->setProperty("preflightProgress", 0.5); };
        both("glass card preflight swell", {Scene::glassCard, {}, preflight, "scale"}, false, 1.0, true, 1.004);
        // In a list already built for an earlier song (a list built for a song at its end shows
        // the wrap-up with its own fade in).
        const auto wrapUp = [](QQuickItem *, NowWorld &w) {
            w.play(QStringLiteral("Earlier"), 10.0);
            w.play(QStringLiteral("Song"), 196.0);
        };
        both("wrap-up scale", {Scene::nowView, QStringLiteral("now.wrapUp"), wrapUp, "scale"}, false, 1.0, true, 1.0);
        // Kept: the glass card's look changes, the cross-fades, the wrap-up's fade, the press dimming.
        const auto light = [](QQuickItem *card, NowWorld &) { card->setProperty("isActive", true); };
        both("glass card lighting", {Scene::glassCard, {}, light, "scale"}, true, 1.015, true, 1.015);
        both("button press dimming", {Scene::button, {}, press, "opacity"}, false, 0.75, true, 0.75);
        const auto play = [](QQuickItem *, NowWorld &w) { w.play(QStringLiteral("Song"), 10.0); };
        both("Now cross-fade", {Scene::nowView, QStringLiteral("now.idle"), play, "opacity"}, true, 0.0, true, 0.0);
        both("wrap-up fade", {Scene::nowView, QStringLiteral("now.wrapUp"), wrapUp, "opacity"}, true, 1.0, true, 1.0);
        both("compact panel cross-fade", {Scene::compactPanel, QStringLiteral("compactPanel.idle"), play, "opacity"},
             true, 0.0, true, 0.0);
    }

    void dropsOnlyWhatItShould()
    {
        QFETCH(Case, c);
        QFETCH(bool, reduce);
        QFETCH(bool, animated);
        QFETCH(double, settled);

        // The engine makes its one setting on first use, from the environment.
        qputenv("CANTORELLA_REDUCE_MOTION", reduce ? "1" : "0");
        NowWorld w;
        w.storeSong(QStringLiteral("Song"), {20.0, 40.0});
        designtest::Scene scene;
        const bool withWorld = c.scene == Scene::nowView || c.scene == Scene::compactPanel;
        QVERIFY(scene.load(sceneQml(c.scene), {440, 700}, withWorld ? worldProperties(w) : QVariantMap()));
        QQuickItem *root = scene.root;
        QVERIFY(root);

        c.change(root, w);
        QQuickItem *item = c.item.isEmpty() ? root : findItem(root, c.item);
        QVERIFY2(item, qPrintable(c.item));
        const double right = item->property(c.property).toDouble();
        QCOMPARE(std::abs(right - settled) > 1e-6, animated);
        QTRY_VERIFY2(std::abs(item->property(c.property).toDouble() - settled) < 1e-6,
                     qPrintable(QString::number(item->property(c.property).toDouble())));
        // And stays there: a dropped motion must not start late either.
        QTest::qWait(450);
        QVERIFY2(std::abs(item->property(c.property).toDouble() - settled) < 1e-6,
                 qPrintable(QString::number(item->property(c.property).toDouble())));
    }
};

QTEST_MAIN(TestReduceMotion)
#include "tst_reducemotion.moc"
