// The scanning LRC parser against the regular-expression parser it replaced (ReferenceLrcParser.h):
// both run over a generated corpus (fixed seed) and over every code point in the places where the
// grammar asks about a character class; every result must be the same, field by field.
#include "ReferenceLrcParser.h"

#include "core/LrcParser.h"
#include "platform/Text.h"

#include <QtTest>

#include <bit>

namespace {

constexpr quint32 corpusSeed = 0x1C0FFEE;
constexpr int corpusTexts = 40000;

// The text with everything outside printable ASCII written as \uXXXX, cut to a readable length.
QString escaped(QStringView text)
{
    QString out;
    for (QChar c : text.left(400)) {
        if (c.unicode() >= 0x20 && c.unicode() < 0x7F)
            out += c;
        else
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
    }
    return text.size() > 400 ? out + QStringLiteral("…(%1 units)").arg(text.size()) : out;
}

QString describe(const SyncedLine &line)
{
    return QStringLiteral("{%1 (%2), \"%3\"%4}")
        .arg(line.timestamp, 0, 'g', 17)
        .arg(std::bit_cast<quint64>(line.timestamp), 0, 16)
        .arg(escaped(line.text), line.text.isNull() ? QStringLiteral(" null") : QString());
}

// Empty when both results are the same: equal counts, and for each entry the same bits of the
// time, the same text, and the same null-ness of the text.
QString difference(const QList<SyncedLine> &actual, const QList<SyncedLine> &expected)
{
    const qsizetype common = std::min(actual.size(), expected.size());
    for (qsizetype i = 0; i < common; ++i) {
        const SyncedLine &a = actual[i];
        const SyncedLine &e = expected[i];
        if (std::bit_cast<quint64>(a.timestamp) != std::bit_cast<quint64>(e.timestamp) || a.text != e.text
            || a.text.isNull() != e.text.isNull())
            return QStringLiteral("entry %1: got %2, want %3").arg(i).arg(describe(a), describe(e));
    }
    if (actual.size() != expected.size())
        return QStringLiteral("got %1 entries, want %2").arg(actual.size()).arg(expected.size());
    return QString();
}

QString difference(const QList<double> &actual, const QList<double> &expected)
{
    bool same = actual.size() == expected.size();
    for (qsizetype i = 0; same && i < actual.size(); ++i)
        same = std::bit_cast<quint64>(actual[i]) == std::bit_cast<quint64>(expected[i]);
    if (same)
        return QString();
    QStringList a, e;
    for (double t : actual)
        a.append(QString::number(t, 'g', 17));
    for (double t : expected)
        e.append(QString::number(t, 'g', 17));
    return QStringLiteral("got [%1], want [%2]").arg(a.join(u','), e.join(u','));
}

// LRC-like text built to reach every corner of the grammar: stamps and near misses, digits of
// other scripts, ID tags in any case, blanks and line breaks of every kind, lone surrogates.
class CorpusGenerator
{
public:
    explicit CorpusGenerator(quint32 seed) : m_rng(seed) {}

    // One text; its lines (before joining) go to `lines` for the one-line functions.
    QString text(QStringList *lines)
    {
        const int kind = pick(100);
        if (kind < 4)
            return unitSoup();
        if (kind < 7)
            return QString::fromUtf8(randomBytes());
        QString text;
        const int lineCount = kind < 9 ? 1 : 1 + pick(12);
        for (int i = 0; i < lineCount; ++i) {
            const QString line = pick(1500) == 0 ? veryLongLine() : this->line();
            lines->append(line);
            text += line;
            if (i + 1 < lineCount || pick(2) == 0)
                text += lineBreak();
        }
        return text;
    }

private:
    int pick(int bound) { return int(m_rng.bounded(quint32(bound))); }
    bool chance(int percent) { return pick(100) < percent; }
    template <typename T>
    const T &oneOf(const QList<T> &items) { return items.at(pick(int(items.size()))); }

    static QString fromCodePoint(char32_t c) { return QString::fromUcs4(&c, 1); }

    QString digit()
    {
        // Other scripts' decimal digits (Nd, some outside the BMP) match the grammar's \d but do
        // not read; superscripts, Roman numerals and ideographic zero are numbers but not Nd.
        static const QList<char32_t> others{0x0660, 0x06F5, 0x0966, 0x0E51, 0xFF10, 0xFF19, 0x1D7CE,
                                            0x104A0, 0x1E950, 0x00B2, 0x2160, 0x3007, 0x2468};
        if (chance(85))
            return QString(QChar(u'0' + pick(10)));
        return fromCodePoint(oneOf(others));
    }

    QString digits(int count)
    {
        QString out;
        for (int i = 0; i < count; ++i)
            out += digit();
        return out;
    }

    // Usually 1…3 / 2 / 1…3 digits; now and then one too few or too many.
    int digitCount(int low, int high)
    {
        if (chance(8))
            return chance(50) ? low - 1 : high + 1;
        return low + pick(high - low + 1);
    }

    QString stamp()
    {
        QString out = QStringLiteral("[");
        out += digits(digitCount(1, 3));
        out += chance(97) ? QStringLiteral(":") : QStringLiteral(".");
        out += digits(digitCount(2, 2));
        out += chance(97) ? QStringLiteral(".") : QStringLiteral(":");
        out += digits(digitCount(1, 3));
        if (chance(97))
            out += u']';
        return out;
    }

    QString idTag()
    {
        static const QStringList keys{"ti", "ar", "al", "length", "by", "offset", "re", "ve", "la", "offse", "tii", "t"};
        QString key = oneOf(keys);
        for (QChar &c : key)
            if (chance(30))
                c = c.toUpper();
        if (key.contains(u's') && chance(20))
            key.replace(u's', QChar(0x017F)); // LONG S folds to s
        if (key.contains(u'i') && chance(10))
            key.replace(u'i', QChar(chance(50) ? 0x0130 : 0x0131)); // dotted/dotless I: no case match
        QString out = QStringLiteral("[") + key;
        if (chance(95))
            out += u':';
        if (chance(20))
            out += stamp(); // a tag can swallow a stamp
        out += words(3);
        if (chance(95))
            out += u']';
        return out;
    }

    QString blank()
    {
        // The space separators and TAB; then characters that look blank but are not (ZWSP, BOM,
        // MONGOLIAN VOWEL SEPARATOR, the information separators).
        static const QList<char16_t> blanks{u' ', u'\t', 0x00A0, 0x1680, 0x2000, 0x2003, 0x200A, 0x202F, 0x205F, 0x3000};
        static const QList<char16_t> lookalikes{0x200B, 0xFEFF, 0x180E, 0x001C, 0x001F, 0x2060};
        return QString(QChar(chance(90) ? oneOf(blanks) : oneOf(lookalikes)));
    }

    QString blanks()
    {
        QString out;
        const int count = chance(60) ? 0 : 1 + pick(3);
        for (int i = 0; i < count; ++i)
            out += blank();
        return out;
    }

    QString lineBreak()
    {
        static const QStringList breaks{"\n", "\n", "\n", "\r\n", "\r", "\u000B", "\u000C", "\u0085", "\u2028", "\u2029"};
        return oneOf(breaks);
    }

    QString loneSurrogate() { return QString(QChar(char16_t(0xD800 + pick(0x800)))); }

    QString wordPiece()
    {
        static const QStringList pieces{"love", "you", "I'm", "la", "爱", "夜晚", "永远", "e\u0301", "\U0001F3B5",
                                        "\U0001D7CE", "[", "]", ":", ".", "[]", "[:", "0", "12", "\\", " ", "\u3000"};
        switch (pick(12)) {
        case 0:
            return loneSurrogate();
        case 1:
            return QString(QChar(char16_t(pick(0x10000)))); // any unit, surrogates included
        case 2:
            return digit();
        case 3:
            return pick(8) == 0 ? QString(QChar(u'\0')) : blank();
        default:
            return oneOf(pieces);
        }
    }

    QString words(int maxPieces)
    {
        QString out;
        const int count = pick(maxPieces + 1);
        for (int i = 0; i < count; ++i)
            out += wordPiece();
        return out;
    }

    QString line()
    {
        QString out = blanks();
        if (chance(15)) {
            // ID tags, perhaps with something more.
            const int tags = 1 + pick(3);
            for (int i = 0; i < tags; ++i)
                out += idTag() + blanks();
            if (chance(30))
                out += chance(50) ? stamp() : words(3);
        } else {
            const int stamps = chance(10) ? 0 : 1 + pick(chance(20) ? 6 : 2);
            for (int i = 0; i < stamps; ++i) {
                out += stamp();
                if (chance(10))
                    out += blanks() + (chance(30) ? words(1) : QString());
            }
            out += blanks() + words(8);
            if (chance(15))
                out += stamp() + words(3);
        }
        return out + blanks();
    }

    QString veryLongLine()
    {
        QString out;
        if (chance(50)) {
            const int stamps = 500 + pick(3000);
            for (int i = 0; i < stamps; ++i)
                out += stamp();
            return out + words(20);
        }
        out = stamp();
        const int pieces = 2000 + pick(8000);
        for (int i = 0; i < pieces; ++i)
            out += wordPiece();
        return out;
    }

    // Units from a small alphabet of the characters that matter, and any unit now and then.
    QString unitSoup()
    {
        static const QString alphabet = QStringLiteral("[]:.0123456789 \t\n\r\u3000\u0660\u2028tiTIarlengbyofs\u017F");
        QString out;
        const int count = pick(300);
        for (int i = 0; i < count; ++i)
            out += chance(90) ? alphabet.at(pick(int(alphabet.size()))) : QChar(char16_t(pick(0x10000)));
        return out;
    }

    QByteArray randomBytes()
    {
        QByteArray bytes(pick(400), Qt::Uninitialized);
        for (char &b : bytes)
            b = char(pick(256));
        return bytes;
    }

    QRandomGenerator m_rng;
};

// Runs both parsers over one text; a difference fails the test with the input shown.
#define COMPARE_PARSERS(text, what)                                                                            \
    do {                                                                                                       \
        const QString input_ = (text);                                                                         \
        const QString why_ = difference(LRCParser::parse(input_), ReferenceLrcParser::parse(input_));          \
        QVERIFY2(why_.isEmpty(), qPrintable(QStringLiteral("%1: %2\ninput: %3").arg(what, why_, escaped(input_)))); \
    } while (false)

// Every code point except the surrogates, in blocks, each turned into some lines of text.
template <typename Lines>
QStringList codePointBlocks(char32_t last, Lines lines)
{
    QStringList blocks;
    QString block;
    for (char32_t c = 0; c <= last; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF)
            continue;
        block += lines(QString::fromUcs4(&c, 1));
        if (block.size() > 1 << 20) {
            blocks.append(block);
            block.clear();
        }
    }
    blocks.append(block);
    return blocks;
}

} // namespace

class TstLrcDifferential : public QObject
{
    Q_OBJECT

private slots:
    void generatedCorpus()
    {
        CorpusGenerator generator(corpusSeed);
        qsizetype lineInputs = 0;
        for (int i = 0; i < corpusTexts; ++i) {
            QStringList lines;
            const QString text = generator.text(&lines);
            COMPARE_PARSERS(text, QStringLiteral("text %1").arg(i));
            // The one-line steps. The reference sees the text with lone surrogates repaired (as its
            // parse did): on broken UTF-16 its patterns matched nothing at all.
            for (const QString &line : std::as_const(lines)) {
                const QString repaired = Text::withLoneSurrogatesReplaced(line);
                const QString why = difference(LRCParser::timestamps(line), ReferenceLrcParser::timestamps(repaired));
                QVERIFY2(why.isEmpty(), qPrintable(why + QStringLiteral("\nline: ") + escaped(line)));
                QCOMPARE(Text::withLoneSurrogatesReplaced(LRCParser::leadingText(line)),
                         ReferenceLrcParser::leadingText(repaired));
                ++lineInputs;
            }
        }
        qInfo("%d generated texts and %lld lines compared", corpusTexts, qlonglong(lineInputs));
    }

    // "Is this a decimal digit?", of every code point, in the minutes, the seconds and the
    // fraction of a stamp. An unreadable stamp at the start still moves the words' start.
    void everyCodePointAsDigit()
    {
        const QStringList blocks = codePointBlocks(0x10FFFF, [](const QString &c) {
            return QStringLiteral("[") + c + QStringLiteral("0:00.00][00:01.00]a\n[00:0") + c
                   + QStringLiteral(".50]b\n[00:01.") + c + QStringLiteral("]c\n");
        });
        for (const QString &block : blocks)
            COMPARE_PARSERS(block, QStringLiteral("digit sweep"));
    }

    // "Is this a blank?" at both ends of a line and of its words, and "is this a line break?".
    // Outside the BMP there are neither (the digit sweep has those code points as text).
    void everyBmpCodePointAsBlankOrLineBreak()
    {
        const QStringList blocks = codePointBlocks(0xFFFF, [](const QString &c) {
            return c + QStringLiteral("[00:01.00]") + c + QStringLiteral("x") + c + QStringLiteral("y") + c
                   + QStringLiteral("[00:02.00]z") + c + QStringLiteral("\n") + c + QStringLiteral("[ti:t]") + c
                   + QStringLiteral("[ar:a]") + c + QStringLiteral("[00:03.00]\n");
        });
        for (const QString &block : blocks)
            COMPARE_PARSERS(block, QStringLiteral("blank and line-break sweep"));
    }

    // "Is this the tag key's letter, ignoring case?" for every letter of every key. A tag that
    // swallows a stamp drops the line exactly when the key matches. Case folding to ASCII letters
    // happens only inside the BMP.
    void everyBmpCodePointInTagKeys()
    {
        const QStringList keys = LRCParser::idTags().values();
        for (const QString &key : keys) {
            for (qsizetype at = 0; at < key.size(); ++at) {
                const QStringList blocks = codePointBlocks(0xFFFF, [&](const QString &c) {
                    QString probe = key;
                    probe.replace(at, 1, c);
                    return QStringLiteral("[") + probe + QStringLiteral(":[00:01.00]\n");
                });
                for (const QString &block : blocks)
                    COMPARE_PARSERS(block, QStringLiteral("key %1, letter %2").arg(key).arg(at));
            }
        }
    }
};

QTEST_GUILESS_MAIN(TstLrcDifferential)
#include "tst_lrcdifferential.moc"
