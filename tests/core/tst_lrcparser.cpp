#include "core/LrcParser.h"

#include <QtTest>

Q_DECLARE_METATYPE(QList<SyncedLine>)

namespace {

using Lines = QList<SyncedLine>;

QString describe(const Lines &lines)
{
    QStringList parts;
    for (const SyncedLine &line : lines)
        parts.append(QString::number(line.timestamp, 'g', 17) + QLatin1Char('|') + line.text);
    return parts.join(QLatin1String(" / "));
}

bool sameLines(const Lines &actual, const Lines &expected)
{
    if (actual.size() != expected.size())
        return false;
    for (qsizetype i = 0; i < actual.size(); ++i) {
        if (std::abs(actual[i].timestamp - expected[i].timestamp) > 1e-9 || actual[i].text != expected[i].text)
            return false;
    }
    return true;
}

} // namespace

class TstLrcParser : public QObject
{
    Q_OBJECT

private slots:
    void parse_data()
    {
        QTest::addColumn<QString>("lrc");
        QTest::addColumn<Lines>("expected");

        QTest::newRow("empty") << QString() << Lines{};
        QTest::newRow("only ID tags")
            << QStringLiteral("[ti:Song]\n[ar:Artist]\n[al:Album]\n[by:Someone]\n[length: 03:30]\n[offset:+500]")
            << Lines{};
        QTest::newRow("ID tags in any case, several on one line")
            << QStringLiteral("[TI:Song] [Ar:Artist]\t\n[OFFSET:-200]\n[00:01.00]one") << Lines{{1.0, "one"}};
        QTest::newRow("tag outside the set is untimed") << QStringLiteral("[re:Some Editor]\n[ve:1.0]") << Lines{};
        QTest::newRow("tag plus more stays whole")
            << QStringLiteral("[ar:Someone][00:01.00]x") << Lines{{1.0, "[ar:Someone][00:01.00]x"}};
        QTest::newRow("offset never shifts")
            << QStringLiteral("[offset:1000]\n[00:01.00]a") << Lines{{1.0, "a"}};
        QTest::newRow("several stamps on one line")
            << QStringLiteral("[00:12.30][01:05.00]Chorus line")
            << Lines{{12.3, "Chorus line"}, {65.0, "Chorus line"}};
        QTest::newRow("stamp only keeps the gap") << QStringLiteral("[00:12.30]") << Lines{{12.3, ""}};
        QTest::newRow("equal times keep file order")
            << QStringLiteral("[00:10.00]first\n[00:10.00]second\n[00:05.00]earlier")
            << Lines{{5.0, "earlier"}, {10.0, "first"}, {10.0, "second"}};
        QTest::newRow("equal times: stamp order, then file order")
            << QStringLiteral("[00:02.00][00:01.00]b\n[00:01.00]c")
            << Lines{{1.0, "b"}, {1.0, "c"}, {2.0, "b"}};
        QTest::newRow("blanks around stamp and words")
            << QStringLiteral("  \t[00:01.00]   words  here \t ") << Lines{{1.0, "words  here"}};
        QTest::newRow("unicode blanks trimmed")
            << QStringLiteral("\u3000[00:01.00]\u00A0hi\u2003") << Lines{{1.0, "hi"}};
        QTest::newRow("untimed lines dropped")
            << QStringLiteral("plain words\n[00:03.00]timed\n\n   \n") << Lines{{3.0, "timed"}};
        QTest::newRow("no fraction does not match") << QStringLiteral("[01:02]no fraction") << Lines{};
        QTest::newRow("four fraction digits do not match") << QStringLiteral("[01:02.5000]x") << Lines{};
        QTest::newRow("one seconds digit does not match") << QStringLiteral("[01:2.50]x") << Lines{};
        QTest::newRow("four minute digits do not match") << QStringLiteral("[1000:00.00]x") << Lines{};
        QTest::newRow("three minute digits") << QStringLiteral("[123:00.00]x") << Lines{{7380.0, "x"}};
        QTest::newRow("seconds are not limited to 59") << QStringLiteral("[00:75.00]x") << Lines{{75.0, "x"}};
        QTest::newRow("fraction digits scale")
            << QStringLiteral("[01:02.5]a\n[01:02.50]b\n[01:02.500]c\n[01:02.05]d\n[01:02.005]e")
            << Lines{{62.005, "e"}, {62.05, "d"}, {62.5, "a"}, {62.5, "b"}, {62.5, "c"}};
        QTest::newRow("CRLF")
            << QStringLiteral("[00:01.00]a\r\n[00:02.00]b\r\n") << Lines{{1.0, "a"}, {2.0, "b"}};
        QTest::newRow("every line separator")
            << QStringLiteral("[00:01.00]a\r[00:02.00]b\u0085[00:03.00]c\u000B[00:04.00]d\u000C[00:05.00]e"
                              "\u2028[00:06.00]f\u2029[00:07.00]g")
            << Lines{{1, "a"}, {2, "b"}, {3, "c"}, {4, "d"}, {5, "e"}, {6, "f"}, {7, "g"}};
        QTest::newRow("non-ASCII digits match but do not read")
            << QStringLiteral("[\u0660\u0661:\u0660\u0662.\u0665]arabic\n[00:03.00]ok") << Lines{{3.0, "ok"}};
        QTest::newRow("unreadable stamp still leads")
            << QStringLiteral("[\u0660\u0661:\u0660\u0662.\u0665][00:03.00]x") << Lines{{3.0, "x"}};
        QTest::newRow("full-width digits") << QStringLiteral("[\uFF10\uFF10:\uFF10\uFF11.\uFF10\uFF10]x") << Lines{};
        QTest::newRow("non-ASCII fraction reads as zero")
            << QStringLiteral("[00:01.\u0665]x") << Lines{{1.0, "x"}};
        QTest::newRow("stamp after words") << QStringLiteral("Hi [00:03.00]") << Lines{{3.0, "Hi [00:03.00]"}};
        QTest::newRow("stamps apart: text starts at the second")
            << QStringLiteral("[00:01.00] [00:02.00]Hi")
            << Lines{{1.0, "[00:02.00]Hi"}, {2.0, "[00:02.00]Hi"}};
        QTest::newRow("stamp inside the words")
            << QStringLiteral("[00:01.00]one [00:02.00]two")
            << Lines{{1.0, "one [00:02.00]two"}, {2.0, "one [00:02.00]two"}};
        QTest::newRow("NUL passes, a lone surrogate is replaced")
            << (QStringLiteral("[00:01.00]a") + QChar(0) + QChar(0xDC00) + QStringLiteral("b\n[00:02.00]") + QChar(0xD800))
            << Lines{{1.0, QStringLiteral("a") + QChar(0) + QChar(0xFFFD) + QStringLiteral("b")},
                     {2.0, QString(QChar(0xFFFD))}};
    }

    void parse()
    {
        QFETCH(QString, lrc);
        QFETCH(Lines, expected);
        const Lines actual = LRCParser::parse(lrc);
        QVERIFY2(sameLines(actual, expected),
                 qPrintable(QStringLiteral("got  %1\nwant %2").arg(describe(actual), describe(expected))));
    }

    // The two steps of one line on their own.
    void lineSteps_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QList<double>>("times");
        QTest::addColumn<QString>("words");

        QTest::newRow("leading run") << QStringLiteral("[00:01.00][00:02.50] x ") << QList<double>{1.0, 2.5}
                                     << QStringLiteral("x");
        QTest::newRow("stamp after words") << QStringLiteral("Hi [00:03.00]") << QList<double>{3.0}
                                           << QStringLiteral("Hi [00:03.00]");
        QTest::newRow("blank before the first stamp")
            << QStringLiteral(" [00:01.00]x") << QList<double>{1.0} << QStringLiteral("[00:01.00]x");
        QTest::newRow("unreadable stamp leads, gives no time")
            << QStringLiteral("[٠١:٠٢.٥][00:03.00]x") << QList<double>{3.0}
            << QStringLiteral("x");
        QTest::newRow("digits outside the BMP")
            << QStringLiteral("[𝟎𝟏:00.00][00:04.00]x") << QList<double>{4.0} << QStringLiteral("x");
        // A lone surrogate is one more character: it does not hide the stamps around it.
        QTest::newRow("lone surrogate")
            << (QStringLiteral("[00:01.00]") + QChar(0xD800) + QStringLiteral("[00:02.00]"))
            << QList<double>{1.0, 2.0} << (QString(QChar(0xD800)) + QStringLiteral("[00:02.00]"));
    }

    void lineSteps()
    {
        QFETCH(QString, line);
        QFETCH(QList<double>, times);
        QFETCH(QString, words);
        QCOMPARE(LRCParser::timestamps(line), times);
        QCOMPARE(LRCParser::leadingText(line), words);
    }
};

QTEST_GUILESS_MAIN(TstLrcParser)
#include "tst_lrcparser.moc"
