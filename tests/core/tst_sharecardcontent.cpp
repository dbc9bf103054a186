#include "core/ShareCardContent.h"

#include <QtTest>

#include <cmath>
#include <limits>

using Lines = QList<SyncedLine>;
using OptionalTime = std::optional<double>;
Q_DECLARE_METATYPE(OptionalTime)

class TstShareCardContent : public QObject
{
    Q_OBJECT

private:
    static ShareCardContent::Input card(OptionalTime time, Lines lines)
    {
        ShareCardContent::Input input;
        input.phrase = QStringLiteral("kick off");
        input.translation = QStringLiteral("开始");
        input.example = QStringLiteral("Let's kick off the party.");
        input.tag = QStringLiteral("phrasal");
        input.lineTimestamp = time;
        input.lines = std::move(lines);
        input.songTitle = QStringLiteral("Song");
        input.songArtist = QStringLiteral("Artist");
        return input;
    }

private slots:
    void heroLookup_data()
    {
        QTest::addColumn<OptionalTime>("time");
        QTest::addColumn<Lines>("lines");
        QTest::addColumn<QString>("hero");
        QTest::addColumn<QStringList>("previous");
        QTest::addColumn<bool>("fallback");

        const QString example = QStringLiteral("Let's kick off the party.");
        QTest::newRow("no time") << OptionalTime() << Lines{{10, "a"}} << example << QStringList() << true;
        QTest::newRow("no lines") << OptionalTime(10) << Lines{} << example << QStringList() << true;
        QTest::newRow("equally near: earliest wins")
            << OptionalTime(10.5) << Lines{{10, "ten"}, {11, "eleven"}} << "ten" << QStringList() << false;
        QTest::newRow("none near: latest before, one previous")
            << OptionalTime(20) << Lines{{12, "twelve"}, {18, "eighteen"}, {25, "twenty-five"}} << "eighteen"
            << QStringList{"twelve"} << false;
        QTest::newRow("near but after the time")
            << OptionalTime(29.5) << Lines{{30, "thirty"}, {40, "forty"}} << "thirty" << QStringList() << false;
        QTest::newRow("exactly the tolerance before its line")
            << OptionalTime(29.25) << Lines{{20, "twenty"}, {30, "thirty"}} << "thirty" << QStringList{"twenty"} << false;
        QTest::newRow("all later than the tolerance")
            << OptionalTime(5) << Lines{{10, "a"}, {20, "b"}} << example << QStringList() << true;
        QTest::newRow("empty previous line is dropped")
            << OptionalTime(20) << Lines{{10, "ten"}, {15, ""}, {20, "twenty"}} << "twenty" << QStringList()
            << false;
        QTest::newRow("empty hero stays a match")
            << OptionalTime(20) << Lines{{10, "ten"}, {20, ""}} << "" << QStringList{"ten"} << false;
        QTest::newRow("a nearer later line replaces")
            << OptionalTime(20.4) << Lines{{20, "a"}, {20.5, "b"}} << "b" << QStringList{"a"} << false;
        QTest::newRow("NaN stamp never qualifies")
            << OptionalTime(20) << Lines{{std::nan(""), "nan"}, {19, "nineteen"}} << "nineteen"
            << QStringList{"nan"} << false;
        QTest::newRow("unsorted lines taken as given")
            << OptionalTime(50) << Lines{{40, "forty"}, {10, "ten"}} << "forty" << QStringList() << false;
    }

    void heroLookup()
    {
        QFETCH(OptionalTime, time);
        QFETCH(Lines, lines);
        QFETCH(QString, hero);
        QFETCH(QStringList, previous);
        QFETCH(bool, fallback);

        const ShareCardContent content = ShareCardContent::build(card(time, lines));
        QCOMPARE(content.heroLine, hero);
        QCOMPARE(content.previousLyricLines, previous);
        QCOMPARE(content.heroIsFallback, fallback);
        QCOMPARE(content.lineTimestamp, time);
    }

    void optionalTexts_data()
    {
        QTest::addColumn<std::optional<QString>>("note");
        QTest::addColumn<std::optional<QString>>("cultural");
        QTest::addColumn<std::optional<QString>>("expectedNote");
        QTest::addColumn<std::optional<QString>>("expectedCultural");
        using O = std::optional<QString>;
        QTest::newRow("absent") << O() << O() << O() << O();
        QTest::newRow("empty") << O("") << O("") << O() << O();
        QTest::newRow("blank note stays, blank hint goes") << O("  ") << O(" \n ") << O("  ") << O();
        QTest::newRow("hint keeps its spaces") << O("n") << O("  word  ") << O("n") << O("  word  ");
    }

    void optionalTexts()
    {
        QFETCH(std::optional<QString>, note);
        QFETCH(std::optional<QString>, cultural);
        QFETCH(std::optional<QString>, expectedNote);
        QFETCH(std::optional<QString>, expectedCultural);
        ShareCardContent::Input input = card(std::nullopt, {});
        input.note = note;
        input.culturalHint = cultural;
        const ShareCardContent content = ShareCardContent::build(input);
        QCOMPARE(content.note, expectedNote);
        QCOMPARE(content.culturalHint, expectedCultural);
    }

    void everyBuildIsNew()
    {
        const auto input = card(10.0, {{10, "ten"}});
        const ShareCardContent a = ShareCardContent::build(input);
        const ShareCardContent b = ShareCardContent::build(input);
        QVERIFY(!a.id.isNull());
        QVERIFY(a.id != b.id);
        QCOMPARE(a.heroLine, b.heroLine);
    }

    void formatTimestamp_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("text");
        QTest::newRow("187.4") << 187.4 << "3:07";
        QTest::newRow("59.5 rounds up") << 59.5 << "1:00";
        QTest::newRow("75.4") << 75.4 << "1:15";
        QTest::newRow("negative") << -3.0 << "0:00";
        QTest::newRow("-0.4") << -0.4 << "0:00";
        QTest::newRow("not capped at 60 minutes") << 3725.0 << "62:05";
        QTest::newRow("NaN") << std::nan("") << "0:00";
        QTest::newRow("-inf") << -std::numeric_limits<double>::infinity() << "0:00";
        QTest::newRow("+inf is capped") << std::numeric_limits<double>::infinity() << "35791394:07";
        QTest::newRow("1e300 is capped") << 1e300 << "35791394:07";
    }

    void formatTimestamp()
    {
        QFETCH(double, seconds);
        QFETCH(QString, text);
        QCOMPARE(ShareCardContent::formatTimestamp(seconds), text);
    }
};

QTEST_GUILESS_MAIN(TstShareCardContent)
#include "tst_sharecardcontent.moc"
