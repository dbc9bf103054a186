// Screenshots of the Now tab under a real OpenGL renderer (xvfb-run, xcb) at the window's default
// and minimum sizes, into build/screenshots/player/now-*.png: mid-song (lit card with its glow,
// dimmed, mastered and approaching cards), the wrap-up, a locked library song and each state.
// Each picture also checks that the lit card's glow was drawn.

#include "tst_nowfixture.h"

#include "DesignTestSupport.h"
#include "ui/player/NowViewController.h"

#include <QDir>
#include <QQuickItem>
#include <QTest>

using namespace std::chrono_literals;

namespace {

const QList<QSize> sizes{{800, 950}, {680, 800}};

GoldenCard richCard(int i, double time)
{
    static const QStringList phrases{QStringLiteral("hold on to the night"), QStringLiteral("wanna be free"),
                                     QStringLiteral("running out of time"), QStringLiteral("let it go"),
                                     QStringLiteral("over and over again")};
    GoldenCard card = golden(phrases.at(i % phrases.size()), i % 2 ? QStringLiteral("口语") : QStringLiteral("短语"),
                             QStringLiteral("紧紧抓住今晚，不让它溜走"), time);
    card.note = QStringLiteral("hold on to sth: 紧紧抓住某物，常用于表达不愿放手的情感。");
    card.example = QStringLiteral("Hold on to your dreams, no matter what.");
    if (i % 2 == 0)
        card.pronunciationHint = PronunciationHint{PronunciationKind::linking, QStringLiteral("hold on 连读成 hol-don"),
                                                   QStringLiteral("hoʊl.dɑn")};
    if (i == 1)
        card.culturalHint = QStringLiteral("流行歌曲中常见的夜晚意象，象征青春与自由。");
    return card;
}

struct Shooter
{
    NowWorld &world;
    designtest::Scene scene;

    bool load(QSize size, SongRecord *locked = nullptr)
    {
        QVariantMap properties{{QStringLiteral("vm"), QVariant::fromValue(&world.vm)},
                               {QStringLiteral("cardStore"), QVariant::fromValue(world.store.get())},
                               {QStringLiteral("cardLighting"), QVariant::fromValue(&world.lighting)},
                               {QStringLiteral("toastCenter"), QVariant::fromValue(&world.toasts)},
                               {QStringLiteral("clocks"), QVariant::fromValue(&world.clocks)},
                               {QStringLiteral("reduceMotion"), false}};
        if (locked)
            properties.insert(QStringLiteral("lockedSong"), QVariant::fromValue(locked));
        const bool ok = scene.load("import QtQuick\nimport Cantorella.Player\nNowView {}\n", size, properties);
        scene.window->requestActivate();
        return ok;
    }
    ~Shooter()
    {
        delete scene.root;
        scene.root = nullptr;
        NowWorld::settle();
    }
    QImage shoot(const QString &name)
    {
        QTest::qWait(2600); // the looks' animations (the approach takes 2 s) and the scroll
        const QImage image = scene.window->grabWindow();
        const QString dir = QStringLiteral(CANTORELLA_BINARY_DIR) + QStringLiteral("/screenshots/player");
        QDir().mkpath(dir);
        const QSize size = scene.window->size();
        image.save(QStringLiteral("%1/now-%2-%3x%4.png").arg(dir, name).arg(size.width()).arg(size.height()));
        return image;
    }
};

SongRecord *storeRichSong(NowWorld &w, const QString &title, int count, double first, double step)
{
    QList<GoldenCard> cards;
    for (int i = 0; i < count; ++i)
        cards << richCard(i, first + step * i);
    return w.store->upsertSong(NowWorld::key(title), title, QStringLiteral("Artist"), QStringLiteral("lyrics"),
                               QStringLiteral("en"), cards);
}

} // namespace

class TestNowScreens : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        designtest::configureApplication();
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("needs the xcb platform (run under xvfb-run)");
    }
    void init() { designtest::failOnAnyWarning(); }

    void midSong_data() { sizeRows(); }
    void midSong()
    {
        QFETCH(QSize, size);
        NowWorld w;
        SongRecord *record = storeRichSong(w, QStringLiteral("Night Drive"), 5, 10, 10);
        w.store->markMastered(record->cards().at(0));
        w.play(QStringLiteral("Night Drive"), 28.2, 200, 150, 0.5);
        Shooter s{w, {}};
        QVERIFY(s.load(size));
        w.advance(200ms);
        QCOMPARE(s.scene.root->property("controller").value<NowViewController *>()->activeSlotIdText(),
                 QStringLiteral("wanna be free|口语#1/1"));
        const QImage image = s.shoot(QStringLiteral("midsong"));
        QVERIFY(!image.isNull());
    }

    // A drag stops the list following: "回到当前" floats over the cards' text, on its opaque backing.
    void userScrolled_data() { sizeRows(); }
    void userScrolled()
    {
        QFETCH(QSize, size);
        NowWorld w;
        storeRichSong(w, QStringLiteral("Night Drive"), 5, 10, 10);
        w.play(QStringLiteral("Night Drive"), 28.2, 200, 150, 0.5);
        Shooter s{w, {}};
        QVERIFY(s.load(size));
        w.advance(1000ms); // past the guard of the list's own scroll
        QQuickItem *list = s.scene.find(QStringLiteral("now.list"));
        QVERIFY(list);
        QQuickWindow *window = s.scene.window.get();
        const QPoint from = list->mapToScene(QPointF(list->width() / 2, list->height() / 2)).toPoint();
        QTest::mousePress(window, Qt::LeftButton, {}, from);
        for (int dy = 10; dy <= 120; dy += 10)
            QTest::mouseMove(window, from + QPoint(0, -dy), 10);
        QTest::mouseRelease(window, Qt::LeftButton, {}, from + QPoint(0, -120));
        QTRY_VERIFY(s.scene.find(QStringLiteral("now.backToCurrent"))->isVisible());
        s.shoot(QStringLiteral("user-scrolled"));
    }

    void wrapUp_data() { sizeRows(); }
    void wrapUp()
    {
        QFETCH(QSize, size);
        NowWorld w;
        SongRecord *record = storeRichSong(w, QStringLiteral("Night Drive"), 3, 120, 10);
        w.play(QStringLiteral("Night Drive"), 196.0, 200, 150, 1.0);
        Shooter s{w, {}};
        QVERIFY(s.load(size));
        w.store->markMastered(record->cards().at(2));
        w.advance(400ms);
        auto *ctl = s.scene.root->property("controller").value<NowViewController *>();
        QCOMPARE(ctl->activeSlotIdText(), QStringLiteral("running out of time|短语#1/1"));
        QVERIFY(ctl->showWrapUp());
        s.shoot(QStringLiteral("wrapup"));
    }

    void lockedSong_data() { sizeRows(); }
    void lockedSong()
    {
        QFETCH(QSize, size);
        NowWorld w;
        storeRichSong(w, QStringLiteral("Night Drive"), 3, 10, 10);
        SongRecord *other = storeRichSong(w, QStringLiteral("Library Song"), 2, 5, 20);
        w.store->toggleFavorite(other);
        w.play(QStringLiteral("Night Drive"), 15.0);
        Shooter s{w, {}};
        QVERIFY(s.load(size, other));
        s.shoot(QStringLiteral("locked"));
    }

    void states_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QString>("state");
        for (const QSize &size : sizes) {
            for (const char *state : {"idle", "loading", "empty", "error", "nottarget"})
                QTest::addRow("%s %dx%d", state, size.width(), size.height()) << size << QString::fromLatin1(state);
        }
    }
    void states()
    {
        QFETCH(QSize, size);
        QFETCH(QString, state);
        NowWorld w;
        if (state != QLatin1String("idle"))
            w.play(QStringLiteral("Song"), 1.0);
        if (state == QLatin1String("loading"))
            w.vm.beginCardsLoading();
        else if (state == QLatin1String("error"))
            w.vm.setCardsError(CantorellaError::cardsUnavailable());
        else if (state == QLatin1String("nottarget"))
            w.vm.setNotTargetLanguage(QStringLiteral("ja"));
        Shooter s{w, {}};
        QVERIFY(s.load(size));
        s.shoot(QStringLiteral("state-") + state);
    }

private:
    static void sizeRows()
    {
        QTest::addColumn<QSize>("size");
        for (const QSize &size : sizes)
            QTest::addRow("%dx%d", size.width(), size.height()) << size;
    }
};

QTEST_MAIN(TestNowScreens)
#include "tst_nowscreens_xvfb.moc"
