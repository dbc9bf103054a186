// The glass card's looks table, its time chip and pronunciation texts, the offscreen textures a
// card keeps, and the extended card's store actions: the mastered toggle reads the flag at the
// tap, a failed write toasts (once), a write queued behind a restore lands on the card of the same
// key, the slot's time replaces the card's (0 is a time) and a tap lights the card by hand.

#include "tst_nowfixture.h"

#include "DesignTestSupport.h"

#include "ui/player/ExtendedGlassCardController.h"
#include "ui/player/GlassCardLooks.h"

#include "TaskRunner.h"

#include "core/store/CardStoreActor.h"

#include <QScopeGuard>
#include <QSGTexture>
#include <QSGTextureProvider>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTest>

#include <limits>

using namespace std::chrono_literals;

class TestGlassCard : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { designtest::configureApplication(); }

    void looks_data()
    {
        QTest::addColumn<bool>("active");
        QTest::addColumn<bool>("dimmed");
        QTest::addColumn<bool>("mastered");
        QTest::addColumn<double>("progress");
        QTest::addColumn<bool>("reduceMotion");
        QTest::addColumn<double>("opacity");
        QTest::addColumn<double>("saturation");
        QTest::addColumn<double>("scale");
        QTest::addColumn<double>("borderWidth");
        QTest::addColumn<double>("borderOpacity");
        QTest::addColumn<bool>("glow");
        QTest::newRow("lit and dimmed looks lit") << true << true << true << 0.5 << false << 1.0 << 1.0 << 1.015 << 1.8 << 1.0 << true;
        QTest::newRow("lit under reduce motion") << true << false << false << 0.0 << true << 1.0 << 1.0 << 1.015 << 1.8 << 1.0 << true;
        QTest::newRow("mastered") << false << false << true << 0.0 << false << 0.55 << 0.6 << 1.0 << 1.0 << 0.55 << false;
        QTest::newRow("mastered, dimmed") << false << true << true << 0.0 << false << 0.35 << 0.6 << 1.0 << 1.0 << 0.55 << false;
        QTest::newRow("dimmed") << false << true << false << 0.0 << false << 0.55 << 1.0 << 1.0 << 1.0 << 0.55 << false;
        QTest::newRow("approaching") << false << false << false << 0.5 << false << 1.0 << 1.0 << 1.004 << 1.0 << 0.70 << false;
        QTest::newRow("approaching, reduce motion") << false << false << false << 0.5 << true << 1.0 << 1.0 << 1.0 << 1.0 << 0.70 << false;
        QTest::newRow("negative progress") << false << false << false << -0.3 << false << 1.0 << 1.0 << 1.0 << 1.0 << 0.55 << false;
        QTest::newRow("NaN progress") << false << false << false << std::numeric_limits<double>::quiet_NaN() << false << 1.0 << 1.0 << 1.0 << 1.0 << 0.55 << false;
    }
    void looks()
    {
        QFETCH(bool, active);
        QFETCH(bool, dimmed);
        QFETCH(bool, mastered);
        QFETCH(double, progress);
        QFETCH(bool, reduceMotion);
        const GlassCardLook look = GlassCardRules::look(active, dimmed, mastered, progress, reduceMotion);
        QTEST(look.opacity, "opacity");
        QTEST(look.saturation, "saturation");
        QTEST(look.scale, "scale");
        QTEST(look.borderWidth, "borderWidth");
        QTEST(look.borderOpacity, "borderOpacity");
        QTEST(look.glow, "glow");
    }

    void timeChip_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("text");
        QTest::newRow("83.9") << 83.9 << "1:23";
        QTest::newRow("59.99") << 59.99 << "0:59";
        QTest::newRow("600") << 600.0 << "10:00";
        QTest::newRow("4503") << 4503.0 << "75:03";
        QTest::newRow("negative") << -4.0 << "0:00";
        QTest::newRow("zero") << 0.0 << "0:00";
        QTest::newRow("infinite") << std::numeric_limits<double>::infinity() << QString();
        QTest::newRow("NaN") << std::numeric_limits<double>::quiet_NaN() << QString();
        QTest::newRow("beyond int") << 1e12 << QString();
    }
    void timeChip()
    {
        QFETCH(double, seconds);
        QFETCH(QString, text);
        QCOMPARE(GlassCardRules::timeChipText(seconds).value_or(QString()), text);
        QVERIFY(!GlassCardRules::timeChipText(std::nullopt));
    }

    void pronunciationText()
    {
        PronunciationHint hint{PronunciationKind::elision, QStringLiteral("t 不发音"), QString()};
        QCOMPARE(GlassCardRules::pronunciationText(hint), QStringLiteral("[省音] t 不发音"));
        hint.ipa = QStringLiteral("ˈlɪsn");
        QCOMPARE(GlassCardRules::pronunciationText(hint), QStringLiteral("[省音] t 不发音  /ˈlɪsn/"));
        hint.kind = PronunciationKind::weak_form;
        hint.ipa.reset();
        QCOMPARE(GlassCardRules::pronunciationText(hint), QStringLiteral("[弱读] t 不发音"));
    }

    // The border is drawn outside the card's texture, so it greys itself as the texture's
    // desaturation greys what is inside: each channel towards the mean, alpha kept.
    void desaturatedColours_data()
    {
        QTest::addColumn<QColor>("color");
        QTest::addColumn<double>("saturation");
        QTest::addColumn<QColor>("expected");
        QTest::newRow("full saturation") << QColor(0, 200, 255) << 1.0 << QColor(0, 200, 255);
        QTest::newRow("mastered card's 0.6") << QColor(0, 255, 0, 128) << 0.6 << QColor(34, 187, 34, 128);
        QTest::newRow("none: the mean") << QColor(30, 60, 90) << 0.0 << QColor(60, 60, 60);
        QTest::newRow("below none: grey") << QColor(30, 60, 90) << -0.5 << QColor(60, 60, 60);
        QTest::newRow("NaN: as it is") << QColor(30, 60, 90) << std::numeric_limits<double>::quiet_NaN()
                                       << QColor(30, 60, 90);
    }
    void desaturatedColours()
    {
        QFETCH(QColor, color);
        QFETCH(double, saturation);
        QFETCH(QColor, expected);
        const QColor got = GlassCardRules::desaturated(color, saturation);
        const auto near = [](int a, int b) { return std::abs(a - b) <= 1; };
        QVERIFY2(near(got.red(), expected.red()) && near(got.green(), expected.green())
                     && near(got.blue(), expected.blue()) && got.alpha() == expected.alpha(),
                 qPrintable(got.name(QColor::HexArgb)));
    }

    // A card's offscreen textures (layers, effect sources) are memory the renderer keeps for as
    // long as the card is shown, the size of the card: one, its shadow and body, whatever its look
    // (the desaturation of a mastered card that is not lit is drawn from it).
    void offscreenTextures_data()
    {
        QTest::addColumn<bool>("learned");
        QTest::addColumn<bool>("active");
        QTest::addColumn<int>("textures");
        QTest::newRow("plain") << false << false << 1;
        QTest::newRow("lit") << false << true << 1;
        QTest::newRow("mastered") << true << false << 1;
        QTest::newRow("mastered and lit") << true << true << 1;
    }
    void offscreenTextures()
    {
        QFETCH(bool, learned);
        QFETCH(bool, active);
        designtest::Scene scene;
        QVERIFY(scene.load("import QtQuick\nimport Cantorella.Player\nGlassCardView { en: \"hello\"; cn: \"你好\" }\n",
                           {400, 300}, {{QStringLiteral("learned"), learned}, {QStringLiteral("isActive"), active}}));
        int textures = 0;
        // An effect source that is not shown (the glows' cache, off) renders nothing; the one an
        // item's layer makes is that layer's texture, counted with the item.
        const std::function<void(QQuickItem *)> count = [&](QQuickItem *item) {
            if (!item->isVisible())
                return;
            const auto *layer = item->property("layer").value<QObject *>();
            const bool layered = layer && layer->property("enabled").toBool();
            const auto *source = item->inherits("QQuickShaderEffectSource")
                ? item->property("sourceItem").value<QQuickItem *>()
                : nullptr;
            const bool layersOwn = source && source->property("layer").value<QObject *>()->property("enabled").toBool();
            textures += layered || (item->inherits("QQuickShaderEffectSource") && !layersOwn);
            for (QQuickItem *child : item->childItems())
                count(child);
        };
        count(scene.root);
        QTEST(textures, "textures");
    }

    // A change of look (lit, dimmed) moves only what lies outside the card's texture: the
    // texture is rendered again for what changes inside it (a text), and for the lit card's
    // scale and shadow once, not on each step of the transition.
    void textureRendersOnlyOnContentChange_data()
    {
        QTest::addColumn<QString>("property");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<int>("renders");
        QTest::newRow("dimmed") << QStringLiteral("isDimmed") << QVariant(true) << 0;
        QTest::newRow("lit") << QStringLiteral("isActive") << QVariant(true) << 1;
        QTest::newRow("text") << QStringLiteral("en") << QVariant(QStringLiteral("goodbye")) << 1;
    }
    void textureRendersOnlyOnContentChange()
    {
        QFETCH(QString, property);
        QFETCH(QVariant, value);
        designtest::Scene scene;
        QVERIFY(scene.load("import QtQuick\nimport Cantorella.Player\nGlassCardView { en: \"hello\"; cn: \"你好\" }\n",
                           {400, 300}));
        QQuickItem *textured = scene.find(QStringLiteral("glassCard.texture"));
        QVERIFY(textured);
        // The layer's texture: the effect source Qt puts beside the layered item.
        QQuickItem *source = nullptr;
        for (QQuickItem *sibling : textured->parentItem()->childItems()) {
            if (sibling->isTextureProvider() && sibling->property("sourceItem").value<QQuickItem *>() == textured)
                source = sibling;
        }
        QVERIFY(source);
        QSGTexture *texture = nullptr;
        QTRY_VERIFY((texture = source->textureProvider()->texture()));
        // It asks to be rendered again each time what is drawn into it changes; a frame renders
        // it at most once.
        QSignalSpy requests(texture, SIGNAL(updateRequested()));
        QVERIFY(requests.isValid());
        int frames = 0;
        int renders = 0;
        qsizetype seen = 0;
        connect(scene.window.get(), &QQuickWindow::frameSwapped, this, [&] {
            ++frames;
            renders += requests.size() > seen;
            seen = requests.size();
        });
        const auto framesPass = [&](int count) {
            const int from = frames;
            return QTest::qWaitFor([&] {
                scene.window->update();
                return frames >= from + count;
            });
        };
        QVERIFY(framesPass(2)); // the first frames settle
        renders = 0;

        QVERIFY(scene.root->setProperty(property.toUtf8(), value));
        // The look's transition runs to its end, then a few more frames.
        QTRY_COMPARE(scene.root->property("shownOpacity").toDouble(),
                     scene.root->property("look").value<GlassCardLook>().opacity);
        QTRY_COMPARE(scene.root->property("shownScale").toDouble(),
                     scene.root->property("look").value<GlassCardLook>().scale);
        QVERIFY(framesPass(3));
        QTEST(renders, "renders");
    }

    void extendedCardTexts()
    {
        NowWorld w;
        SongRecord *record = w.storeSong(QStringLiteral("Song"), {83.9});
        LearnedCard *card = record->cards().first();
        ExtendedGlassCardController ctl;
        ctl.setCard(card);
        QCOMPARE(ctl.timeChipText(), QStringLiteral("1:23"));
        ctl.setSlotLineTimestamp(0.0);
        QCOMPARE(ctl.timeChipText(), QStringLiteral("0:00")); // 0 is a time
        ctl.setSlotLineTimestamp(QVariant());
        QCOMPARE(ctl.timeChipText(), QStringLiteral("1:23"));
        card->setCulturalHint(QString());
        QVERIFY(ctl.culturalText().isNull()); // an empty hint has no row
        card->setCulturalHint(QStringLiteral("文化"));
        QCOMPARE(ctl.culturalText().toString(), QStringLiteral("文化"));
        QVERIFY(ctl.pronunciationText().isNull());
    }

    void extendedCardActions()
    {
        NowWorld w;
        SongRecord *record = w.storeSong(QStringLiteral("Song"), {10});
        QPointer<LearnedCard> card = record->cards().first();
        ExtendedGlassCardController ctl;
        ctl.setCard(card);
        ctl.setProperty("cardStore", QVariant::fromValue(w.store.get()));
        ctl.setProperty("toastCenter", QVariant::fromValue(&w.toasts));
        ctl.setProperty("cardLighting", QVariant::fromValue(&w.lighting));

        // The writes run on the store's background writer and show once they have landed.
        ctl.toggleMastered();
        QTRY_VERIFY(card->isMastered());
        ctl.toggleMastered();
        QTRY_VERIFY(!card->isMastered() && !card->learned());
        QVERIFY(!w.toasts.hasCurrent());

        w.files.failWrites(QStringLiteral("UPDATE"), QStringLiteral("cards"), QStringLiteral("1"));
        ctl.toggleFavorite();
        QTRY_VERIFY(w.toasts.hasCurrent());
        QVERIFY(w.toasts.currentText().startsWith(QStringLiteral("操作失败：")));
        QVERIFY(w.toasts.currentText().size() > 5);
        QVERIFY(!card->isFavorite());
        w.advance(1600ms);
        QVERIFY(!w.toasts.hasCurrent()); // shown for 1.5 s

        ctl.select();
        QCOMPARE(w.lighting.mode(), LightingMode::manual(QStringLiteral("card0|t")));
        w.advance(5000ms);
        ctl.select(); // the same card again restarts the wait
        w.advance(5000ms);
        QVERIFY(!w.lighting.isAuto());
        w.advance(3100ms);
        QVERIFY(w.lighting.isAuto());
    }

    void cardTapDuringARestore_data()
    {
        QTest::addColumn<bool>("mastered");    // the mastered button, else the heart
        QTest::addColumn<bool>("keyRestored"); // the restore brings the song and card back
        QTest::newRow("heart, same key restored") << false << true;
        QTest::newRow("mastered, same key restored") << true << true;
        QTest::newRow("heart, key gone") << false << false;
        QTest::newRow("mastered, key gone") << true << false;
    }

    // A card's button tapped while a restore holds the store: the write lands on the restored
    // card of the same key; with none, the tap shows one toast.
    void cardTapDuringARestore()
    {
        QFETCH(bool, mastered);
        QFETCH(bool, keyRestored);
        NowWorld w;
        SongRecord *record = w.storeSong(QStringLiteral("Song"), {10});
        ExtendedGlassCardController ctl;
        ctl.setCard(record->cards().first());
        ctl.setProperty("cardStore", QVariant::fromValue(w.store.get()));
        ctl.setProperty("toastCenter", QVariant::fromValue(&w.toasts));

        QSemaphore entered;
        QSemaphore release;
        const auto unblock = qScopeGuard([&release] { release.release(); });
        const QByteArray key = (keyRestored ? NowWorld::key(QStringLiteral("Song")) : QStringLiteral("other|song")).toUtf8();
        LibrarySource restored = [&entered, &release, key](LibraryWriter &out) {
            entered.release();
            release.acquire(); // the restore's transaction is open meanwhile
            LibrarySongRow song;
            song.key = key;
            song.title = "Song";
            song.artist = "Artist";
            LibraryCardRow card;
            card.en = "card0";
            card.tag = "t";
            song.cards.push_back(card);
            out.write(std::move(song));
        };
        auto restoring = TaskRunner::start(w.store->backgroundWriter()->replaceLibrary(restored));
        QTRY_COMPARE(entered.available(), 1);
        QSignalSpy toasts(&w.toasts, &ToastCenter::currentChanged);
        if (mastered)
            ctl.toggleMastered();
        else
            ctl.toggleFavorite();
        release.release();
        QVERIFY(TaskRunner::waitUntilDone(restoring));
        await(w.store->backgroundWriter()->barrier());
        await(w.store->externalChangesTakenIn());
        NowWorld::settle();

        if (keyRestored) {
            QCOMPARE(toasts.size(), 0);
            LearnedCard *card = w.store->record(QString::fromUtf8(key))->cards().first();
            QCOMPARE(card->isMastered(), mastered);
            QCOMPARE(card->isFavorite(), !mastered);
        } else {
            QCOMPARE(toasts.size(), 1);
            QCOMPARE(w.toasts.currentText(), QStringLiteral("操作失败：这张卡片已不在学习库中"));
        }
    }
};

QTEST_MAIN(TestGlassCard)
#include "tst_glasscard.moc"
