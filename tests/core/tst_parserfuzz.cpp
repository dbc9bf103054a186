// Random and hostile input for the LRC parser and the card decoder: each must return a value or
// a JsonError, never crash, hang or throw anything else. Fixed seed, bounded time.
#include "core/GoldenCard.h"
#include "core/LrcParser.h"
#include "platform/StrictJson.h"
#include "platform/Text.h"

#include <QtTest>

#include <cmath>

namespace {

constexpr quint32 seed = 20240611;
constexpr qint64 budgetMs = 1500;

QString randomChunk(QRandomGenerator &rng)
{
    static const QStringList pieces{
        "[", "]", ":", ".", "0", "1", "5", "9", "59", "99", "999", "[00:01.00]", "[12:34.567]", "[1:2.3]",
        "[ti:Title]", "[OFFSET:+100]", "[length:", "ti", " ", "\t", "\u3000", "\u00A0", "\r", "\n", "\r\n",
        "\u2028", "\u2029", "\u0085", "\u000B", "\u000C", "\u0660", "\uFF11", "words", "词", "e\u0301",
        "\U0001F3B5", "\u200D", "\\", "(?:", "*"};
    switch (rng.bounded(6)) {
    case 0:
        return QString(QChar(char16_t(0xD800 + rng.bounded(0x800)))); // lone surrogate
    case 1:
        return QString(QChar(char16_t(rng.bounded(0x10000))));
    case 2:
        return QString(QChar(0));
    default:
        return pieces.at(rng.bounded(pieces.size()));
    }
}

QString randomLrc(QRandomGenerator &rng)
{
    QString text;
    const int chunks = rng.bounded(200);
    for (int i = 0; i < chunks; ++i)
        text += randomChunk(rng);
    return text;
}

QByteArray randomBytes(QRandomGenerator &rng, int maxLength)
{
    QByteArray bytes(rng.bounded(maxLength + 1), Qt::Uninitialized);
    for (char &b : bytes)
        b = char(rng.bounded(256));
    return bytes;
}

// Decodes; the only allowed failure is JsonError. Returns whether a card came out.
std::optional<GoldenCard> decodeCard(const QByteArray &bytes)
{
    try {
        return GoldenCard::fromJson(StrictJson::parseObject(bytes));
    } catch (const JsonError &) {
        return std::nullopt;
    }
}

bool wellFormed(const QList<SyncedLine> &lines, QString *why)
{
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const SyncedLine &line = lines[i];
        if (!std::isfinite(line.timestamp) || line.timestamp < 0 || line.timestamp > 999 * 60 + 99 + 1) {
            *why = QStringLiteral("time out of range: %1").arg(line.timestamp);
            return false;
        }
        if (i > 0 && lines[i - 1].timestamp > line.timestamp) {
            *why = QStringLiteral("not sorted at %1").arg(i);
            return false;
        }
        for (QChar c : line.text)
            if (Text::contains(Text::CharSet::newlines, c.unicode())) {
                *why = QStringLiteral("line break inside a line");
                return false;
            }
        if (Text::withLoneSurrogatesReplaced(line.text) != line.text) {
            *why = QStringLiteral("lone surrogate kept");
            return false;
        }
    }
    return true;
}

} // namespace

class TstParserFuzz : public QObject
{
    Q_OBJECT

private slots:
    void lrcFromRandomText()
    {
        QRandomGenerator rng(seed);
        QElapsedTimer timer;
        timer.start();
        int runs = 0;
        while (timer.elapsed() < budgetMs && runs < 20000) {
            const QString text = (runs % 3 == 0) ? QString::fromUtf8(randomBytes(rng, 400)) : randomLrc(rng);
            QString why;
            const QList<SyncedLine> lines = LRCParser::parse(text);
            QVERIFY2(wellFormed(lines, &why), qPrintable(why));
            ++runs;
        }
        QVERIFY(runs > 100);
    }

    void lrcVeryLongLines()
    {
        QElapsedTimer timer;
        timer.start();
        // 20 000 stamps on one line: one entry each, all carrying the words after the run.
        const QString stamps = QStringLiteral("[00:01.00]").repeated(20000) + QStringLiteral("la");
        const QList<SyncedLine> many = LRCParser::parse(stamps);
        QCOMPARE(many.size(), 20000);
        QCOMPARE(many.last().text, QStringLiteral("la"));
        // A megabyte without a stamp, and one of brackets that almost form stamps.
        QVERIFY(LRCParser::parse(QString(1 << 20, QLatin1Char('a'))).isEmpty());
        QVERIFY(LRCParser::parse(QStringLiteral("[00:0[ti:").repeated(100000)).isEmpty());
        QVERIFY2(timer.elapsed() < 10000, "long lines took too long");
    }

    void cardFromRandomAndMutatedBytes()
    {
        const QByteArray valid = R"({"en":"hold on","cn":"坚持","note":"n","example":"e","tag":"t","lineTimestamp":1.5,)"
                                 R"("pronunciationHint":{"kind":"linking","tip":"t","ipa":"i"},"culturalHint":"c",)"
                                 R"("listeningDifficulty":"easy"})";
        QVERIFY(decodeCard(valid).has_value());
        QRandomGenerator rng(seed);
        QElapsedTimer timer;
        timer.start();
        int decoded = 0;
        for (int i = 0; i < 50000 && timer.elapsed() < budgetMs / 3; ++i) {
            if (i % 4 == 0) {
                decodeCard(randomBytes(rng, 200));
                continue;
            }
            QByteArray bytes = valid;
            for (int m = rng.bounded(1, 4); m > 0; --m) {
                const int at = rng.bounded(bytes.size());
                switch (rng.bounded(3)) {
                case 0: bytes[at] = char(rng.bounded(256)); break;
                case 1: bytes.remove(at, 1); break;
                default: bytes.insert(at, "{[\"\\u0000\\ud800,:null"[rng.bounded(20)]); break;
                }
            }
            if (decodeCard(bytes))
                ++decoded;
        }
        QVERIFY(decoded > 0);
    }

    void cardWithDeepNesting()
    {
        const QByteArray card = R"({"en":"a","cn":"b","note":"c","example":"d","tag":"e","pronunciationHint":)";
        // Within the parser's limit: the hint is not an object, so the card decodes without one.
        const QByteArray shallow = card + QByteArray(1000, '[') + QByteArray(1000, ']') + "}";
        const std::optional<GoldenCard> decoded = decodeCard(shallow);
        QVERIFY(decoded.has_value());
        QVERIFY(!decoded->pronunciationHint.has_value());
        // Beyond it: an error, not a crash.
        const QByteArray deep = card + QByteArray("{\"kind\":").repeated(100000) + "1" + QByteArray(100000, '}') + "}";
        QVERIFY(!decodeCard(deep).has_value());
    }
};

QTEST_GUILESS_MAIN(TstParserFuzz)
#include "tst_parserfuzz.moc"
