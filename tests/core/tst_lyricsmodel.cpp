#include "core/LanguagePolicy.h"
#include "core/Lyrics.h"
#include "core/TextMatching.h"
#include "platform/StrictJson.h"

#include <QtTest>

class TstLyricsModel : public QObject
{
    Q_OBJECT

private slots:
    void languagePolicy_data()
    {
        QTest::addColumn<std::optional<QString>>("code");
        QTest::addColumn<bool>("target");
        QTest::newRow("en") << std::optional<QString>(QStringLiteral("en")) << true;
        QTest::newRow("absent") << std::optional<QString>() << false;
        QTest::newRow("empty") << std::optional<QString>(QString()) << false;
        QTest::newRow("EN") << std::optional<QString>(QStringLiteral("EN")) << false;
        QTest::newRow("en-US") << std::optional<QString>(QStringLiteral("en-US")) << false;
        QTest::newRow("padded") << std::optional<QString>(QStringLiteral(" en")) << false;
        QTest::newRow("zh") << std::optional<QString>(QStringLiteral("zh")) << false;
    }

    void languagePolicy()
    {
        QFETCH(std::optional<QString>, code);
        QFETCH(bool, target);
        QCOMPARE(LanguagePolicy::isTarget(code), target);
    }

    void normalizeForMatching_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        QTest::newRow("typographic punctuation")
            << QStringLiteral("  Don\u2019t Cry \u2014 Oh  Susanna!!! ") << QStringLiteral("don t cry oh susanna");
        QTest::newRow("full width") << QStringLiteral("ＡＢＣ　１２３") << QStringLiteral("abc 123");
        QTest::newRow("accents kept") << QStringLiteral("Faur\u00E9 & Caf\u00E9") << QStringLiteral("faur\u00E9 caf\u00E9");
        QTest::newRow("decomposed accents compose") << QStringLiteral("Cafe\u0301") << QStringLiteral("caf\u00E9");
        QTest::newRow("newlines and tabs") << QStringLiteral("a\nb\tc\u2028d") << QStringLiteral("a b c d");
        QTest::newRow("chinese and digits") << QStringLiteral("民歌《茉莉花》1804") << QStringLiteral("民歌 茉莉花 1804");
        QTest::newRow("symbols and emoji") << QStringLiteral("Folk/Trad \u2665 \U0001F3B8") << QStringLiteral("folk trad");
        QTest::newRow("only punctuation") << QStringLiteral("!?-") << QString();
        QTest::newRow("empty") << QString() << QString();
        QTest::newRow("lone surrogate is a break")
            << (QStringLiteral("a") + QChar(0xD800) + QStringLiteral("b")) << QStringLiteral("a b");
    }

    void normalizeForMatching()
    {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QCOMPARE(::normalizeForMatching(input), expected);
    }

    void lyricsSourceRawValuesAreExact()
    {
        QCOMPARE(lyricsSourceFromRawValue(QStringLiteral("lrclib")), LyricsSource::lrclib);
        QCOMPARE(lyricsSourceFromRawValue(QStringLiteral("LRCLIB")), std::nullopt);
        QCOMPARE(lyricsSourceFromJson(toJson(LyricsSource::manualImport)), LyricsSource::manualImport);
        QVERIFY_THROWS_EXCEPTION(JsonError, lyricsSourceFromJson(QJsonValue(QStringLiteral("manualimport"))));
        QVERIFY_THROWS_EXCEPTION(JsonError, lyricsSourceFromJson(QJsonValue(1)));
    }

    void syncedLineHashAgreesWithEquality()
    {
        const SyncedLine zero{0.0, QStringLiteral("a")};
        const SyncedLine negativeZero{-0.0, QStringLiteral("a")};
        QVERIFY(zero == negativeZero);
        QCOMPARE(qHash(zero), qHash(negativeZero));
        QVERIFY(zero != (SyncedLine{0.0, QStringLiteral("b")}));
    }
};

QTEST_GUILESS_MAIN(TstLyricsModel)
#include "tst_lyricsmodel.moc"
