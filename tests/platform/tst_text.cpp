#include "platform/Text.h"

#include <QtTest>

using Text::CharSet;

Q_DECLARE_METATYPE(Text::CharSet)

class TstText : public QObject
{
    Q_OBJECT

private slots:
    void trimmed_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<CharSet>("set");
        QTest::addColumn<QString>("expected");

        const auto all = CharSet::whitespacesAndNewlines;
        const auto horizontal = CharSet::horizontalWhitespace;
        const auto newlines = CharSet::newlines;

        QTest::newRow("empty") << QString() << all << QString();
        QTest::newRow("only blanks") << QStringLiteral(" \t\n\r ") << all << QString();
        QTest::newRow("inner blanks kept") << QStringLiteral("  a  b  ") << all << QStringLiteral("a  b");
        QTest::newRow("nbsp, ideographic space, NEL, LS")
            << QStringLiteral("\u00A0\u3000a\u0085\u2028") << all << QStringLiteral("a");
        QTest::newRow("horizontal keeps newlines")
            << QStringLiteral("\t \u00A0\na\r\u3000") << horizontal << QStringLiteral("\na\r");
        QTest::newRow("horizontal: em space, narrow nbsp")
            << QStringLiteral("\u2003\u202Fa\u205F") << horizontal << QStringLiteral("a");
        QTest::newRow("newlines keep spaces")
            << QStringLiteral("\n\u000B\u000C a \u2029") << newlines << QStringLiteral(" a ");
        // Zero-width space is a format character, not a space separator.
        QTest::newRow("zero width space stays") << QStringLiteral("\u200Ba") << all << QStringLiteral("\u200Ba");
        QTest::newRow("lone surrogate is not blank")
            << (QStringLiteral(" ") + QChar(0xD800) + QStringLiteral(" ")) << all << QString(QChar(0xD800));
        QTest::newRow("astral letter at the edges")
            << QStringLiteral(" \U0001D400x\U0001D400 ") << all << QStringLiteral("\U0001D400x\U0001D400");
    }

    void trimmed()
    {
        QFETCH(QString, input);
        QFETCH(CharSet, set);
        QFETCH(QString, expected);
        QCOMPARE(Text::trimmed(input, set), expected);
    }

    void splitAtNewlines_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("empty") << QString() << QStringList{QString()};
        QTest::newRow("CRLF is two separators")
            << QStringLiteral("a\r\nb") << QStringList{QStringLiteral("a"), QString(), QStringLiteral("b")};
        QTest::newRow("every newline character")
            << QStringLiteral("1\n2\r3\u000B4\u000C5\u00856\u20287\u20298")
            << QStringList{"1", "2", "3", "4", "5", "6", "7", "8"};
        QTest::newRow("trailing separator") << QStringLiteral("a\n") << QStringList{QStringLiteral("a"), QString()};
        QTest::newRow("tabs do not split") << QStringLiteral("a\tb") << QStringList{QStringLiteral("a\tb")};
    }

    void splitAtNewlines()
    {
        QFETCH(QString, input);
        QFETCH(QStringList, expected);
        QStringList pieces;
        for (QStringView piece : Text::split(input, CharSet::newlines))
            pieces.append(piece.toString());
        QCOMPARE(pieces, expected);
    }

    void characterCount_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<qsizetype>("expected");

        QTest::newRow("empty") << QString() << qsizetype(0);
        QTest::newRow("ascii") << QStringLiteral("hello") << qsizetype(5);
        QTest::newRow("chinese") << QStringLiteral("你好") << qsizetype(2);
        QTest::newRow("combining marks") << QStringLiteral("e\u0301\u0323x") << qsizetype(2);
        QTest::newRow("flags") << QStringLiteral("\U0001F1E8\U0001F1F3\U0001F1FA\U0001F1F8") << qsizetype(2);
        QTest::newRow("family ZWJ sequence")
            << QStringLiteral("\U0001F468\u200D\U0001F469\u200D\U0001F467\u200D\U0001F466") << qsizetype(1);
        QTest::newRow("skin tone") << QStringLiteral("\U0001F44D\U0001F3FD!") << qsizetype(2);
        QTest::newRow("CRLF") << QStringLiteral("\r\n") << qsizetype(1);
        QTest::newRow("hangul jamo") << QStringLiteral("\u1100\u1161\u11A8") << qsizetype(1);
    }

    void characterCount()
    {
        QFETCH(QString, input);
        QFETCH(qsizetype, expected);
        QCOMPARE(Text::characterCount(input), expected);
    }

    void loneSurrogatesReplaced_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        // h, l: a high and a low surrogate; r: U+FFFD.
        const auto units = [](std::initializer_list<char16_t> list) {
            return QString(reinterpret_cast<const QChar *>(std::data(list)), qsizetype(list.size()));
        };
        const char16_t h = 0xD83D, l = 0xDE00, r = 0xFFFD;
        QTest::newRow("valid pair kept") << units({h, l}) << units({h, l});
        QTest::newRow("lone low") << units({'a', l, 'b'}) << units({'a', r, 'b'});
        QTest::newRow("lone high at end") << units({'a', h}) << units({'a', r});
        QTest::newRow("reversed pair") << units({l, h}) << units({r, r});
        QTest::newRow("high high low") << units({h, h, l}) << units({r, h, l});
        QTest::newRow("no surrogates") << QStringLiteral("plain") << QStringLiteral("plain");
    }

    void loneSurrogatesReplaced()
    {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QCOMPARE(Text::withLoneSurrogatesReplaced(input), expected);
    }
};

QTEST_GUILESS_MAIN(TstText)
#include "tst_text.moc"
