#include "server/lyrics/LanguageDetector.h"

#include <QtTest>

using server::detectLyricsLanguage;

namespace {

// Stamps every line, as a lyrics file would.
QString lrc(const QStringList &lines, const QString &tags = QString())
{
    QString text = tags;
    for (qsizetype i = 0; i < lines.size(); ++i)
        text += QStringLiteral("[00:%1.00]%2\n").arg(i * 3 + 10, 2, 10, QLatin1Char('0')).arg(lines[i]);
    return text;
}

const QStringList english = {
    "Amazing grace, how sweet the sound", "That saved a wretch like me",
    "I once was lost, but now am found", "Was blind, but now I see",
    "It was grace that taught my heart to fear", "And grace my fears relieved",
    "How precious did that grace appear", "The hour I first believed"};
const QStringList french = {
    "Au clair de la lune, mon ami Pierrot", "Prête-moi ta plume pour écrire un mot",
    "Ma chandelle est morte, je n'ai plus de feu", "Ouvre-moi ta porte pour l'amour de Dieu",
    "Au clair de la lune, Pierrot répondit", "Je n'ai pas de plume, je suis dans mon lit"};
const QStringList chinese = {
    "床前明月光，疑是地上霜。", "举头望明月，低头思故乡。", "春眠不觉晓，处处闻啼鸟。",
    "夜来风雨声，花落知多少。", "白日依山尽，黄河入海流。", "欲穷千里目，更上一层楼。"};

} // namespace

class TestLyricsLanguage : public QObject
{
    Q_OBJECT

private slots:
    void detect_data()
    {
        QTest::addColumn<QString>("lyrics");
        QTest::addColumn<std::optional<QString>>("language");

        QTest::newRow("English") << lrc(english) << std::optional<QString>("en");
        QTest::newRow("French") << lrc(french) << std::optional<QString>("fr");
        QTest::newRow("Chinese") << lrc(chinese) << std::optional<QString>("zh");
        // Tags and untimed lines are not lyrics: English ones do not sway a French song.
        const QString englishTags = QStringLiteral(
            "[ti:The moon is bright tonight and the friend is waiting][ar:Traditional songs of the old country]\n"
            "Lyrics transcribed by a kind volunteer who loves the English language very much\n");
        QTest::newRow("French under English tags") << lrc(french, englishTags) << std::optional<QString>("fr");
        QString mixed;
        for (qsizetype i = 0; i < 6; ++i)
            mixed += english[i] + QLatin1Char(' ') + chinese[i] + QLatin1Char('\n');
        QTest::newRow("English and Chinese, line by line") << lrc(mixed.split('\n', Qt::SkipEmptyParts))
                                                           << std::optional<QString>();
        QTest::newRow("too little text") << lrc({"Oh"}) << std::optional<QString>();
        QTest::newRow("no timed line") << english.join('\n') << std::optional<QString>();
    }

    void detect()
    {
        QFETCH(QString, lyrics);
        QFETCH(std::optional<QString>, language);
        QCOMPARE(detectLyricsLanguage(lyrics), language);
    }
};

QTEST_GUILESS_MAIN(TestLyricsLanguage)
#include "tst_lyricslanguage.moc"
