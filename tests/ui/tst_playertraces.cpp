// The player's trace events as the render-loop probe receives them: which redraws are counted
// (every lyric line's word row and word view, the glass card's content) and how numbers are
// written (a height of 612 reads "612.0").

#include "tst_nowfixture.h"

#include "diagnostics/RenderLoopProbe.h"
#include "ui/player/ExtendedGlassCardController.h"
#include "ui/player/LyricLinesModel.h"
#include "ui/player/NowViewController.h"
#include "ui/player/PlayerFormat.h"

#include <QTest>

#include <functional>
#include <limits>

namespace {

using Counts = QHash<QString, int>;

Counts counts()
{
    Counts result;
    const auto snap = RenderLoopProbe::shared().snapshot(std::numeric_limits<qint64>::min());
    for (const auto &row : snap.frequencyRows)
        result.insert(row.name, row.count);
    return result;
}

QString state(const QString &key)
{
    for (const auto &[k, v] : RenderLoopProbe::shared().snapshot(0).state) {
        if (k == key)
            return v;
    }
    return {};
}

// The views whose redraws are traced, fresh for each case.
struct Views
{
    NowWorld world;
    LyricLinesModel lines;
    ExtendedGlassCardController card;
};
using Step = std::function<void(Views &)>;

QList<SyncedLine> threeLines()
{
    return {{1.0, QStringLiteral("one two")}, {2.0, QStringLiteral("three")}, {3.0, QStringLiteral("four  five")}};
}

} // namespace

Q_DECLARE_METATYPE(Step)

class TestPlayerTraces : public QObject
{
    Q_OBJECT

private slots:
    void numbers_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("whole height") << 612.0 << QStringLiteral("612.0");
        QTest::newRow("half point") << 612.5 << QStringLiteral("612.5");
        QTest::newRow("zero") << 0.0 << QStringLiteral("0.0");
        QTest::newRow("negative whole") << -3.0 << QStringLiteral("-3.0");
        QTest::newRow("shortest round trip") << 0.35 << QStringLiteral("0.35");
        QTest::newRow("exponent, no fraction added") << 1e-7 << QStringLiteral("1e-07");
    }
    void numbers()
    {
        QFETCH(double, value);
        QFETCH(QString, text);
        QCOMPARE(PlayerFormat::traceDouble(value), text);
    }

    // How many calls of each name one step adds.
    void redrawsAreCounted_data()
    {
        QTest::addColumn<Step>("setup");
        QTest::addColumn<Step>("step");
        QTest::addColumn<Counts>("added");

        const Step nothing = [](Views &) {};
        const Step showLines = [](Views &v) { v.lines.setLines(threeLines(), 1, 2.5); };
        const Step withCard = [](Views &v) {
            v.card.setCard(v.world.storeSong(QStringLiteral("Song"), {10.0})->cards().constFirst());
        };
        // Three lines shown at once, the middle one playing: every row draws its word row; the
        // two rows that are not playing draw their word views (the playing one traces its own
        // as its words light up).
        QTest::newRow("new lines") << nothing << showLines
                                   << Counts{{QStringLiteral("LyricLineView.body"), 3},
                                             {QStringLiteral("LyricLineView.wordRow"), 3},
                                             {QStringLiteral("WrappingWordsView.body"), 2}};
        // The playing line moves on: both rows change state; the one now past redraws its words.
        QTest::newRow("next line") << showLines << Step([](Views &v) { v.lines.update(2, 3.1); })
                                   << Counts{{QStringLiteral("LyricLineView.body"), 2},
                                             {QStringLiteral("LyricLineView.wordRow"), 2},
                                             {QStringLiteral("WrappingWordsView.body"), 1}};
        // A past line fading: the row redraws at another opacity, its words stay as they are.
        QTest::newRow("past line fades") << showLines << Step([](Views &v) { v.lines.update(1, 7.4); })
                                         << Counts{{QStringLiteral("LyricLineView.wordRow"), 1},
                                                   {QStringLiteral("WrappingWordsView.body"), 0}};
        // A card lit: its body and its content redraw.
        QTest::newRow("card lit") << withCard << Step([](Views &v) { v.card.setIsActive(true); })
                                  << Counts{{QStringLiteral("GlassCardView.body"), 1},
                                            {QStringLiteral("GlassCardView.cardContent"), 1}};
    }
    void redrawsAreCounted()
    {
        QFETCH(Step, setup);
        QFETCH(Step, step);
        QFETCH(Counts, added);
        Views views;
        setup(views);
        const Counts before = counts();
        step(views);
        const Counts after = counts();
        for (auto it = added.cbegin(); it != added.cend(); ++it)
            QVERIFY2(after.value(it.key()) - before.value(it.key()) == it.value(),
                     qPrintable(QStringLiteral("%1: %2").arg(it.key()).arg(after.value(it.key()) - before.value(it.key()))));
    }

    void viewportHeightsHaveAFraction()
    {
        NowViewController now;
        now.setViewportHeight(612);
        QCOMPARE(state(QStringLiteral("cards.viewportHeight")), QStringLiteral("612.0"));
        QCOMPARE(state(QStringLiteral("cards.viewportEvent")), QStringLiteral("onAppear height=612.0"));
        now.setViewportHeight(700.5);
        QCOMPARE(state(QStringLiteral("cards.viewportEvent")), QStringLiteral("changed 612.0->700.5"));
    }
};

QTEST_MAIN(TestPlayerTraces)
#include "tst_playertraces.moc"
