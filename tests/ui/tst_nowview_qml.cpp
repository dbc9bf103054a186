// The Now tab loaded offscreen on hand-driven clocks, failing on any QML warning: the lit row is
// centred as lines pass, a drag pauses following (and keeps a hand-lit card lit) until
// "回到当前", a new session of the same song goes back to the top, every state shows its texts, a
// failing store write toasts, and a tap lights a card by hand for 8 s.

#include "tst_nowfixture.h"

#include "DesignTestSupport.h"
#include "ui/player/NowViewController.h"

#include <QGuiApplication>
#include <QQuickItem>
#include <QSignalSpy>
#include <QTest>

using namespace std::chrono_literals;

namespace {

struct NowScene
{
    NowWorld &world;
    designtest::Scene scene;
    NowViewController *ctl = nullptr;

    explicit NowScene(NowWorld &w, QSize size = {440, 700}) : world(w) {}

    bool load(QSize size = {440, 700}, const QColor &backdrop = Qt::transparent)
    {
        const bool ok = scene.load("import QtQuick\nimport Cantorella.Player\nNowView {}\n", size,
                                   {{QStringLiteral("vm"), QVariant::fromValue(&world.vm)},
                                    {QStringLiteral("cardStore"), QVariant::fromValue(world.store.get())},
                                    {QStringLiteral("cardLighting"), QVariant::fromValue(&world.lighting)},
                                    {QStringLiteral("toastCenter"), QVariant::fromValue(&world.toasts)},
                                    {QStringLiteral("clocks"), QVariant::fromValue(&world.clocks)},
                                    {QStringLiteral("reduceMotion"), false},
                                    {QStringLiteral("backdrop"), backdrop}});
        ctl = scene.root ? scene.root->property("controller").value<NowViewController *>() : nullptr;
        return ok && ctl;
    }
    // The song with ten cards, one every ten seconds from 10 s, playing from `at` seconds.
    bool loadPlayingTenCards(double at);
    // Built with the first song.
    QQuickItem *list() const { return scene.find(QStringLiteral("now.list")); }
    ~NowScene()
    {
        delete scene.root;
        scene.root = nullptr;
        NowWorld::settle();
    }

    QQuickItem *row(int cardIndex) const
    {
        return findItem(scene.root, QStringLiteral("now.row.card%1|t#1/1").arg(cardIndex));
    }
    // The row's centre minus the viewport's centre, in points.
    double offCentre(QQuickItem *item) const
    {
        const QPointF topLeft = item->mapToItem(list(), QPointF(0, 0));
        return topLeft.y() + item->height() / 2 - list()->height() / 2;
    }
    bool shows(const QString &objectName) const
    {
        QQuickItem *item = scene.find(objectName);
        return item && item->isVisible() && item->opacity() > 0.99;
    }
    QPoint centreOf(QQuickItem *item) const { return item->mapToScene(QPointF(item->width() / 2, item->height() / 2)).toPoint(); }
    // Presses in the list's middle and drags up 150 points in 10-point steps, still pressed;
    // returns where the pointer is.
    QPoint pressAndDragUp() const
    {
        QQuickWindow *window = scene.window.get();
        const QPoint from = centreOf(list());
        QTest::mousePress(window, Qt::LeftButton, {}, from);
        for (int dy = 10; dy <= 150; dy += 10)
            QTest::mouseMove(window, from + QPoint(0, -dy), 10);
        return from + QPoint(0, -150);
    }
};

QList<double> tenCardsEveryTenSeconds()
{
    QList<double> times;
    for (int i = 1; i <= 10; ++i)
        times << 10.0 * i;
    return times;
}

bool NowScene::loadPlayingTenCards(double at)
{
    world.storeSong(QStringLiteral("Song"), tenCardsEveryTenSeconds());
    world.play(QStringLiteral("Song"), at, 200, 150, 1.0);
    return load();
}

} // namespace

class TestNowViewQml : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { designtest::configureApplication(); }
    void init() { designtest::failOnAnyWarning(); }

    void litRowStaysCentredAcrossThreeLines()
    {
        NowWorld w;
        NowScene s(w);
        QVERIFY(s.loadPlayingTenCards(39.0));
        for (int card : {3, 4, 5}) {
            w.advance(10000ms);
            QTRY_COMPARE(s.ctl->activeSlotIdText(), QStringLiteral("card%1|t#1/1").arg(card));
            QQuickItem *row = s.row(card);
            QVERIFY(row);
            QTRY_VERIFY2(std::abs(s.offCentre(row)) <= 1.0, qPrintable(QString::number(s.offCentre(row))));
        }
    }

    // On an opaque backdrop the wash is one opaque fill of the colour the 12 % wash makes there
    // (so nothing below it is drawn or blended); on anything else it is the wash at 12 %.
    void washIsOpaqueOnlyOnAnOpaqueBackdrop_data()
    {
        QTest::addColumn<QColor>("backdrop");
        QTest::addColumn<double>("opacity");
        QTest::newRow("opaque panel colour") << QColor(8, 4, 20) << 1.0;
        QTest::newRow("no backdrop") << QColor(Qt::transparent) << 0.12;
        QTest::newRow("translucent backdrop") << QColor(8, 4, 20, 200) << 0.12;
    }
    void washIsOpaqueOnlyOnAnOpaqueBackdrop()
    {
        QFETCH(QColor, backdrop);
        QFETCH(double, opacity);
        NowWorld w;
        NowScene s(w);
        QVERIFY(s.load({440, 700}, backdrop));
        QQuickItem *wash = s.scene.find(QStringLiteral("now.hueEcho"));
        QVERIFY(wash);
        QCOMPARE(wash->opacity(), opacity);
        const QColor fill = wash->property("color").value<QColor>();
        QCOMPARE(fill.alpha(), 255);
        if (opacity == 1.0) {
            // Brighter than the backdrop by the wash, never its own full colour.
            QVERIFY(fill != backdrop);
            QVERIFY(qAbs(fill.red() - backdrop.red()) < 20 && qAbs(fill.blue() - backdrop.blue()) < 20);
        }
    }

    void dragPausesFollowingUntilBackToCurrent()
    {
        NowWorld w;
        NowScene s(w);
        QVERIFY(s.loadPlayingTenCards(50.5));
        QQuickItem *lit = s.row(4);
        QVERIFY(lit);
        QTRY_VERIFY(std::abs(s.offCentre(lit)) <= 1.0);
        w.advance(1000ms); // past the guard of the list's own scroll
        w.lighting.select(QStringLiteral("card4|t"));
        w.advance(5000ms);

        QQuickWindow *window = s.scene.window.get();
        QTest::mouseRelease(window, Qt::LeftButton, {}, s.pressAndDragUp());
        QTRY_VERIFY(s.shows(QStringLiteral("now.backToCurrent")));
        QVERIFY(!s.ctl->isTrackingCards());
        // The drag restarted the 8 s wait: 5 s after the pick and 4 s after the drag it still holds.
        w.advance(4000ms);
        QVERIFY2(!w.lighting.isAuto(), "the drag restarted the idle wait");
        w.lighting.setMode(LightingMode::automatic());

        QQuickItem *back = s.scene.find(QStringLiteral("now.backToCurrent"));
        QTest::mouseClick(window, Qt::LeftButton, {}, s.centreOf(back));
        QTRY_VERIFY(s.ctl->isTrackingCards());
        // 10 s have passed since the start at 50.5 s: the next card is lit now.
        QCOMPARE(s.ctl->activeSlotIdText(), QStringLiteral("card5|t#1/1"));
        lit = s.row(5);
        QTRY_VERIFY2(std::abs(s.offCentre(lit)) <= 1.0, qPrintable(QString::number(s.offCentre(lit))));
        QTRY_VERIFY(!s.shows(QStringLiteral("now.backToCurrent")));
    }

    // While the ambient animations run, the tab's content is cached in a texture; while the list
    // moves (a drag here) each frame draws its rows anyway, so the texture goes until it stops.
    void contentIsCachedOnlyWhileTheListIsStill()
    {
        NowWorld w;
        NowScene s(w);
        QVERIFY(s.loadPlayingTenCards(50.5));
        QQuickWindow *window = s.scene.window.get();
        window->requestActivate();
        QVERIFY(QTest::qWaitForWindowActive(window));
        QQuickItem *content = s.scene.find(QStringLiteral("now.content"));
        QVERIFY(content);
        const auto cached = [content] {
            return content->property("layer").value<QObject *>()->property("enabled").toBool();
        };
        QTRY_VERIFY(cached());

        const QPoint at = s.pressAndDragUp();
        QTRY_VERIFY(s.list()->property("moving").toBool());
        QVERIFY(!cached());
        QTest::mouseRelease(window, Qt::LeftButton, {}, at);
        QTRY_VERIFY_WITH_TIMEOUT(!s.list()->property("moving").toBool(), 10000);
        QVERIFY(cached());
    }

    // The song's state applied again mid-song (its library restored): the list stays on the lit
    // card instead of going back to the top.
    void newSessionOfTheSameSongKeepsTheLitCard()
    {
        NowWorld w;
        NowScene s(w);
        QVERIFY(s.loadPlayingTenCards(70.5));
        QTRY_VERIFY(s.list()->property("contentY").toDouble() > 100);
        w.advance(1000ms);
        const QString lit = s.ctl->activeSlotIdText();
        const double where = s.list()->property("contentY").toDouble();
        w.play(QStringLiteral("Song"), 70.5, 200, 150, 1.0);
        w.advance(1000ms);
        QCOMPARE(s.ctl->activeSlotIdText(), lit);
        QTRY_VERIFY2(std::abs(s.list()->property("contentY").toDouble() - where) <= 1.0,
                     qPrintable(QString::number(s.list()->property("contentY").toDouble() - where)));
    }

    // The song's content (header, progress and card list) is built with the first song, not
    // with the tab: a tab made while a song plays shows it at once; one made before fades it in
    // when the song comes. Built, it stays when the song goes, and fades out.
    void songContentIsBuiltWithTheFirstSong_data()
    {
        QTest::addColumn<bool>("playingAtLoad");
        QTest::newRow("song playing when the tab is made") << true;
        QTest::newRow("song coming after the tab") << false;
    }
    void songContentIsBuiltWithTheFirstSong()
    {
        QFETCH(bool, playingAtLoad);
        NowWorld w;
        w.storeSong(QStringLiteral("Song"), {10});
        if (playingAtLoad)
            w.play(QStringLiteral("Song"), 12.0);
        NowScene s(w);
        QVERIFY(s.load());
        if (playingAtLoad) {
            QVERIFY(s.shows(QStringLiteral("now.content")));
        } else {
            QVERIFY(s.shows(QStringLiteral("now.idle")));
            QVERIFY(!s.list());
            w.play(QStringLiteral("Song"), 12.0);
            QVERIFY(s.list());
            QVERIFY(s.scene.find(QStringLiteral("now.content"))->opacity() < 0.99);
        }
        QTRY_VERIFY(s.shows(QStringLiteral("now.content")));
        QTRY_VERIFY(s.row(0));
        QQuickItem *list = s.list();
        w.vm.resetForNoTrack();
        QTRY_VERIFY(s.shows(QStringLiteral("now.idle")));
        QTRY_VERIFY(!s.list()->isVisible());
        QCOMPARE(s.list(), list);
    }

    void statesShowTheirTexts_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("text");
        QTest::newRow("idle") << "idle" << "now.idle" << "在你最喜欢的播放器里按下播放，金句卡片会出现在这里";
        QTest::newRow("loading") << "loading" << "now.loading" << "正在生成学习卡片…";
        QTest::newRow("empty") << "empty" << "now.empty" << "这首歌还没有学习卡片";
        QTest::newRow("error, no detail") << "errorAbsent" << "now.error" << "LLM 服务暂时不可用，请稍后重试。";
        QTest::newRow("error, empty detail") << "errorEmpty" << "now.error" << "";
        QTest::newRow("error, detail") << "errorDetail" << "now.error" << "服务繁忙";
    }
    void statesShowTheirTexts()
    {
        QFETCH(QString, situation);
        QFETCH(QString, shown);
        QFETCH(QString, text);
        NowWorld w;
        if (situation != QLatin1String("idle"))
            w.play(QStringLiteral("Song"), 1.0);
        if (situation == QLatin1String("loading"))
            w.vm.beginCardsLoading();
        if (situation.startsWith(QLatin1String("error"))) {
            w.vm.setCardsError(CantorellaError::cardsUnavailable());
            w.vm.setCardsErrorDetail(situation == QLatin1String("errorAbsent") ? std::nullopt
                                     : situation == QLatin1String("errorEmpty")
                                         ? std::optional<QString>(QString())
                                         : std::optional<QString>(QStringLiteral("服务繁忙")));
        }
        NowScene s(w);
        QVERIFY(s.load());
        QTRY_VERIFY(s.shows(shown));
        QStringList texts;
        for (QQuickItem *item : s.scene.find(shown)->findChildren<QQuickItem *>()) {
            if (item->isVisible() && item->property("text").isValid())
                texts << item->property("text").toString();
        }
        QVERIFY2(texts.contains(text), qPrintable(texts.join(u'|')));
    }

    void failingStoreWriteShowsTheToast()
    {
        NowWorld w;
        w.storeSong(QStringLiteral("Song"), {10});
        w.play(QStringLiteral("Song"), 12.0);
        w.files.failWrites(QStringLiteral("UPDATE"), QStringLiteral("cards"), QStringLiteral("1"));
        NowScene s(w);
        QVERIFY(s.load());
        QQuickItem *mastered = findItem(s.row(0), QStringLiteral("glassCard.mastered"));
        QVERIFY(mastered);
        QTest::mouseClick(s.scene.window.get(), Qt::LeftButton, {}, s.centreOf(mastered));
        QTRY_VERIFY2(w.toasts.currentText().startsWith(QStringLiteral("操作失败：")), qPrintable(w.toasts.currentText()));
        QVERIFY(!w.store->record(NowWorld::key(QStringLiteral("Song")))->cards().first()->isMastered());
    }

    void masteringTheLitCardKeepsItsLitLook()
    {
        NowWorld w;
        w.storeSong(QStringLiteral("Song"), {10, 20});
        w.play(QStringLiteral("Song"), 12.0);
        NowScene s(w);
        QVERIFY(s.load());
        QQuickItem *card = findItem(s.row(0), QStringLiteral("extendedGlassCard.card"));
        QTRY_COMPARE(card->property("shownGlow").toDouble(), 1.0);
        QTest::mouseClick(s.scene.window.get(), Qt::LeftButton, {},
                          s.centreOf(findItem(s.row(0), QStringLiteral("glassCard.mastered"))));
        QTRY_VERIFY(w.store->record(NowWorld::key(QStringLiteral("Song")))->cards().first()->isMastered());
        QTest::qWait(400);
        QCOMPARE(card->property("shownOpacity").toDouble(), 1.0);
        QCOMPARE(card->property("shownGlow").toDouble(), 1.0);
        // The other card, mastered and dimmed, fades to 0.35.
        QQuickItem *other = findItem(s.row(1), QStringLiteral("extendedGlassCard.card"));
        QTest::mouseClick(s.scene.window.get(), Qt::LeftButton, {},
                          s.centreOf(findItem(s.row(1), QStringLiteral("glassCard.mastered"))));
        QTRY_COMPARE(other->property("shownOpacity").toDouble(), 0.35);
    }

    void shareHandsOutTheCardAndItsSlotTime()
    {
        NowWorld w;
        SongRecord *record = w.storeSong(QStringLiteral("Song"), {10, 20});
        w.play(QStringLiteral("Song"), 12.0);
        NowScene s(w);
        QVERIFY(s.load());
        const QMetaObject *meta = s.scene.root->metaObject();
        const int index = meta->indexOfSignal("shareRequested(LearnedCard*,QVariant)");
        QVERIFY(index >= 0);
        QSignalSpy shares(s.scene.root, meta->method(index));
        QTest::mouseClick(s.scene.window.get(), Qt::LeftButton, {},
                          s.centreOf(findItem(s.row(1), QStringLiteral("glassCard.share"))));
        QTRY_COMPARE(shares.size(), 1);
        QCOMPARE(shares.first().at(0).value<LearnedCard *>(), record->cards().at(1));
        QCOMPARE(shares.first().at(1).toDouble(), 20.0);
    }

    void tapLightsTheCardByHandForEightSeconds()
    {
        NowWorld w;
        w.storeSong(QStringLiteral("Song"), {10, 20});
        w.play(QStringLiteral("Song"), 12.0);
        NowScene s(w);
        QVERIFY(s.load());
        QQuickItem *headline = findItem(s.row(1), QStringLiteral("glassCard.headline"));
        QVERIFY(headline);
        QTest::mouseClick(s.scene.window.get(), Qt::LeftButton, {}, s.centreOf(headline));
        QTRY_COMPARE(w.lighting.mode().manualCardId().value_or(QString()), QStringLiteral("card1|t"));
        QTRY_COMPARE(s.ctl->activeSlotIdText(), QStringLiteral("card1|t#1/1"));
        w.advance(7900ms);
        QVERIFY(!w.lighting.isAuto());
        w.advance(200ms);
        QVERIFY(w.lighting.isAuto());
    }
};

QTEST_MAIN(TestNowViewQml)
#include "tst_nowview_qml.moc"
