// The active line (binary search), the word reveal, and the active card with its memo.
#include "session/player/PlayerViewModel.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <limits>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

NowPlayingTrack makeTrack(const QString &title)
{
    NowPlayingTrack t;
    t.title = title;
    t.artist = QStringLiteral("Artist");
    return t;
}

LearnedCardVM makeCard(const QString &id, std::optional<double> time)
{
    LearnedCardVM card;
    card.id = id;
    card.en = id;
    card.lineTimestamp = time;
    return card;
}

QList<SyncedLine> linesAt(std::initializer_list<double> times)
{
    QList<SyncedLine> lines;
    for (double t : times)
        lines.append(SyncedLine{t, QStringLiteral("line at %1").arg(t)});
    return lines;
}

} // namespace

Q_DECLARE_METATYPE(QList<SyncedLine>)

class TestPlayerActive : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::unique_ptr<QSettings> m_settings;

    std::unique_ptr<PlayerViewModel> makeModel(const QList<SyncedLine> &lines, const QList<LearnedCardVM> &cards = {})
    {
        PlayerViewModelDependencies deps;
        deps.settings = m_settings.get();
        auto m = std::make_unique<PlayerViewModel>([] { return ContinuousInstant{}; }, deps);
        m->applySongState(makeTrack(QStringLiteral("Song")), LyricsResult::synced(QStringLiteral("raw"), lines), cards,
                          QStringLiteral("en"));
        return m;
    }

private slots:
    void initTestCase()
    {
        m_settings = std::make_unique<QSettings>(m_dir.filePath("defaults.ini"), QSettings::IniFormat);
    }

    void activeLine_data()
    {
        QTest::addColumn<QList<SyncedLine>>("lines");
        QTest::addColumn<double>("t");
        QTest::addColumn<int>("expected"); // -1 for none

        const QList<SyncedLine> lines = linesAt({10, 20, 20, 30});
        QTest::newRow("equal times: the last wins") << lines << 20.0 << 2;
        QTest::newRow("before the first line") << lines << 9.99 << -1;
        QTest::newRow("after the last line") << lines << 35.0 << 3;
        QTest::newRow("at the first line") << lines << 10.0 << 0;
        QTest::newRow("NaN") << lines << kNaN << -1;
        QTest::newRow("no lines") << QList<SyncedLine>{} << 5.0 << -1;
        QTest::newRow("one line") << linesAt({0}) << 0.0 << 0;
    }

    void activeLine()
    {
        QFETCH(QList<SyncedLine>, lines);
        QFETCH(double, t);
        QFETCH(int, expected);
        auto m = makeModel(lines);
        QCOMPARE(m->activeLineIndex(t).value_or(-1), qsizetype(expected));
    }

    void wordCount_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("words");
        QTest::newRow("runs of spaces count once") << "a  b   c" << 3;
        QTest::newRow("empty") << "" << 0;
        QTest::newRow("spaces only") << "    " << 0;
        QTest::newRow("other white space is no separator") << "a\tb\u3000c" << 1;
    }

    void wordCount()
    {
        QFETCH(QString, text);
        QFETCH(int, words);
        QCOMPARE(PlayerViewModel::wordCount(text), qsizetype(words));
    }

    void revealByIndex_data()
    {
        QTest::addColumn<int>("line");
        QTest::addColumn<double>("t");
        QTest::addColumn<int>("revealed");
        // Line 0 at 10 s with 4 words, next line at 14 s; line 2 (the last) at 100 s with 10 words.
        QTest::newRow("at the start: the first word") << 0 << 10.0 << 1;
        QTest::newRow("a quarter in") << 0 << 11.0 << 2;
        QTest::newRow("just before the end") << 0 << 13.99 << 4;
        QTest::newRow("at the next line") << 0 << 14.0 << 4;
        QTest::newRow("before the start") << 0 << 9.9 << 0;
        QTest::newRow("NaN") << 0 << kNaN << 0;
        QTest::newRow("last line, half way") << 2 << 102.5 << 6;
        QTest::newRow("last line, after 5 s") << 2 << 105.0 << 10;
        QTest::newRow("index past the end") << 3 << 11.0 << 0;
    }

    void revealByIndex()
    {
        QFETCH(int, line);
        QFETCH(double, t);
        QFETCH(int, revealed);
        auto m = makeModel({SyncedLine{10, QStringLiteral("one two three four")}, SyncedLine{14, QStringLiteral("x y")},
                            SyncedLine{100, QStringLiteral("a b c d e f g h i j")}});
        QCOMPARE(m->revealedWordCount(line, t), qsizetype(revealed));
    }

    void revealByText()
    {
        auto m = makeModel({SyncedLine{10, QStringLiteral("one two three four")}, SyncedLine{14, QStringLiteral("x")}});
        // Found: the next line ends it.
        QCOMPARE(m->revealedWordCount(QStringLiteral("one two three four"), 10, 13.0), 4);
        // Not found (other text): it lasts 5 s.
        QCOMPARE(m->revealedWordCount(QStringLiteral("one two three five"), 10, 13.0), 3);
    }

    void activeCard_data()
    {
        QTest::addColumn<QList<SyncedLine>>("lines");
        QTest::addColumn<double>("t");
        QTest::addColumn<QString>("expected"); // "" for none

        // Cards at 3.0 and 8.0; the active line's start decides.
        QTest::newRow("within the 1 ms slack") << linesAt({7.9995}) << 8.0 << "eight";
        QTest::newRow("beyond the slack, 3.0 still in the window") << linesAt({7.998}) << 8.0 << "three";
        QTest::newRow("3.0 out of the window") << linesAt({8.0005}) << 9.0 << "eight";
        QTest::newRow("both out of the window") << linesAt({13.5}) << 14.0 << "";
        QTest::newRow("exactly 5 s after a card") << linesAt({13.0}) << 13.0 << "eight";
        QTest::newRow("5.0001 s after") << linesAt({13.0001}) << 14.0 << "";
        QTest::newRow("no active line") << linesAt({20}) << 1.0 << "";
    }

    void activeCard()
    {
        QFETCH(QList<SyncedLine>, lines);
        QFETCH(double, t);
        QFETCH(QString, expected);
        auto m = makeModel(lines, {makeCard("three", 3.0), makeCard("eight", 8.0), makeCard("none", std::nullopt)});
        QCOMPARE(m->activeCardId(t).value_or(QString()), expected);

        const QList<std::pair<QString, std::optional<double>>> items{{"three", 3.0}, {"eight", 8.0}};
        QCOMPARE(m->activeItemId(t, items).value_or(QString()), expected);
    }

    // One model asked for one line and then another: the memo of the first line must not
    // answer for the second.
    void memoFollowsTheLine()
    {
        auto m = makeModel(linesAt({3, 8}), {makeCard("three", 3.0), makeCard("eight", 8.0)});
        QCOMPARE(m->activeCardId(3.5).value_or(QString()), QStringLiteral("three"));
        QCOMPARE(m->activeCardId(8.5).value_or(QString()), QStringLiteral("eight"));
        QCOMPARE(m->activeCardId(3.5).value_or(QString()), QStringLiteral("three"));
        QVERIFY(!m->activeCardId(1.0));
    }

    void equalTimesLightTheFirstCard()
    {
        auto m = makeModel(linesAt({5}), {makeCard("a", 4.0), makeCard("b", 4.0)});
        QCOMPARE(*m->activeCardId(5), QStringLiteral("a"));
    }

    // A "none" memoised before the cards arrived must not outlive their arrival.
    void memoIsDroppedWhenTheCardsChange()
    {
        auto m = makeModel(linesAt({10}));
        QVERIFY(!m->activeCardId(10));
        QVERIFY(m->activeCardIdCache().has_value());
        m->setCards({makeCard("late", 10.0)});
        QCOMPARE(m->activeCardId(10).value_or(QString()), QStringLiteral("late"));

        // Same song and line, cards unchanged: answered from the memo.
        m->toggleLearned(QStringLiteral("late"));
        QVERIFY(m->activeCardIdCache().has_value());
        QCOMPARE(m->activeCardId(10).value_or(QString()), QStringLiteral("late"));

        m->replaceCards({makeCard("other", 10.0)});
        QCOMPARE(m->activeCardId(10).value_or(QString()), QStringLiteral("other"));
    }

    void withoutATrackThereIsNoActiveCard()
    {
        auto m = makeModel(linesAt({10}), {makeCard("a", 10.0)});
        QVERIFY(m->activeCardId(10));
        m->setTrack(std::nullopt);
        QVERIFY(!m->activeCardId(10));
        QVERIFY(!m->activeCardIdCache().has_value());
        // activeItemId needs no track.
        const QList<std::pair<int, std::optional<double>>> items{{7, 10.0}};
        QCOMPARE(m->activeItemId(10, items), std::optional<int>(7));
    }
};

QTEST_GUILESS_MAIN(TestPlayerActive)
#include "tst_player_active.moc"
