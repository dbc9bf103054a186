// Reads every demo song (demo/songs, seeded into the server) with the program's own parsers, so that
// the content cannot drift away from the formats the application reads.
#include "core/GoldenCard.h"
#include "core/LanguagePolicy.h"
#include "core/LrcParser.h"
#include "core/Lyrics.h"
#include "core/StoryParser.h"
#include "platform/StrictJson.h"

#include <QtTest>

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSet>

namespace {

QDir contentDir()
{
    // Cleaned as text: the fixtures folder need not exist on disk.
    return QDir(QDir::cleanPath(QStringLiteral(CANTORELLA_TEST_DATA_DIR "/../../demo/songs")));
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

QString songKey(const QString &artist, const QString &title)
{
    return artist.trimmed().toLower() + QLatin1Char('|') + title.trimmed().toLower();
}

QString idTag(const QString &lrc, const QString &key)
{
    const QRegularExpression pattern(QStringLiteral("^\\[%1:([^\\]]*)\\]").arg(key), QRegularExpression::MultilineOption);
    return pattern.match(lrc).captured(1);
}

struct Song
{
    QString title;
    QString artist;
    double duration = 0;
    QString language;
};

} // namespace

class TestDemoContent : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void song_data();
    void song();
    void coversEveryKindOfCard();

private:
    QStringList m_songs;
};

void TestDemoContent::initTestCase()
{
    const QDir dir = contentDir();
    QVERIFY2(dir.exists(), qPrintable(dir.absolutePath()));
    QVERIFY(QFile::exists(dir.filePath(QStringLiteral("README.md"))));
    m_songs = dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);

    int target = 0;
    for (const QString &folder : m_songs) {
        const QJsonObject meta = StrictJson::parseObject(readFile(dir.filePath(folder + QStringLiteral("/meta.json"))));
        if (LanguagePolicy::isTarget(meta.value(QStringLiteral("language")).toString()))
            ++target;
    }
    QVERIFY2(target >= 3, "at least three songs with cards");
    QVERIFY2(m_songs.size() - target >= 1, "at least one song in another language");
}

void TestDemoContent::song_data()
{
    QTest::addColumn<QString>("folder");
    for (const QString &folder : m_songs)
        QTest::newRow(qPrintable(folder)) << contentDir().filePath(folder);
}

void TestDemoContent::song()
{
    QFETCH(QString, folder);
    const QDir dir(folder);

    // meta.json
    Song song;
    try {
        const JsonReader meta(StrictJson::parseObject(readFile(dir.filePath(QStringLiteral("meta.json")))), QStringLiteral("meta"));
        song.title = meta.requireString(u"title");
        song.artist = meta.requireString(u"artist");
        QVERIFY(!meta.requireString(u"album").isEmpty());
        song.duration = meta.requireNumber(u"duration");
        song.language = meta.requireString(u"language");
        QVERIFY2(lyricsSourceFromRawValue(meta.requireString(u"source")), "source is a lyrics source");
    } catch (const JsonError &error) {
        QFAIL(qPrintable(error.message()));
    }
    QVERIFY(!song.title.trimmed().isEmpty() && !song.artist.trimmed().isEmpty());
    QVERIFY(song.duration >= 45 && song.duration <= 120);

    // lyrics.lrc: timed lines every few seconds over the whole song, inside its duration.
    const QString lrc = QString::fromUtf8(readFile(dir.filePath(QStringLiteral("lyrics.lrc"))));
    QCOMPARE(idTag(lrc, QStringLiteral("ti")), song.title);
    QCOMPARE(idTag(lrc, QStringLiteral("ar")), song.artist);
    const QList<SyncedLine> lines = LRCParser::parse(lrc);
    QVERIFY(lines.size() >= 8);
    double previous = 0;
    double lastSung = 0;
    for (const SyncedLine &line : lines) {
        QVERIFY2(line.timestamp - previous <= 10.0, qPrintable(QStringLiteral("gap before %1").arg(line.timestamp)));
        QVERIFY(line.timestamp < song.duration);
        previous = line.timestamp;
        if (!line.text.isEmpty())
            lastSung = line.timestamp;
    }
    QVERIFY2(lastSung >= 45.0, "the lyrics cover the song");
    // Every non-empty LRC line is either an ID tag or timed; nothing is silently dropped.
    for (const QString &raw : lrc.split(u'\n', Qt::SkipEmptyParts))
        QVERIFY2(!LRCParser::timestamps(raw).isEmpty() || raw.startsWith(u'['), qPrintable(raw));

    // cards.json: only for a studied language; each card points at the line that holds its phrase.
    const QString cardsPath = dir.filePath(QStringLiteral("cards.json"));
    if (!LanguagePolicy::isTarget(song.language)) {
        QVERIFY2(!QFile::exists(cardsPath), "no cards for a song in another language");
    } else {
        QList<GoldenCard> cards;
        try {
            const JsonReader answer(StrictJson::parseObject(readFile(cardsPath)));
            QCOMPARE(answer.requireString(u"songKey"), songKey(song.artist, song.title));
            cards = GoldenCard::listFromJson(answer.requireArray(u"cards"));
            // What the client decodes must be what the file says: no hint silently dropped.
            const QJsonArray raw = answer.requireArray(u"cards");
            for (qsizetype i = 0; i < raw.size(); ++i)
                QCOMPARE(StrictJson::parseObject(cards.at(i).toJson()), raw.at(i).toObject());
        } catch (const JsonError &error) {
            QFAIL(qPrintable(error.message()));
        }
        QVERIFY(cards.size() >= 5 && cards.size() <= 8);
        QSet<QString> ids;
        for (const GoldenCard &card : cards) {
            QVERIFY2(!ids.contains(card.id()), qPrintable(card.id()));
            ids.insert(card.id());
            QVERIFY(!card.cn.isEmpty() && !card.note.isEmpty() && !card.example.isEmpty() && !card.tag.isEmpty());
            QVERIFY2(card.lineTimestamp, qPrintable(card.en));
            const auto line = std::find_if(lines.begin(), lines.end(), [&](const SyncedLine &l) {
                return qAbs(l.timestamp - *card.lineTimestamp) < 0.005;
            });
            QVERIFY2(line != lines.end(), qPrintable(card.en));
            QVERIFY2(line->text.contains(card.en, Qt::CaseInsensitive), qPrintable(card.en + QStringLiteral(" / ") + line->text));
        }
    }

    // story.txt: every section present; the quote is a line of the song.
    const QString article = QString::fromUtf8(readFile(dir.filePath(QStringLiteral("story.txt"))));
    const ParsedStory story = ParsedStory::parse(article);
    QCOMPARE(story.titleEN, std::optional<QString>(song.title));
    QVERIFY(story.titleCN && !story.titleCN->isEmpty());
    QVERIFY(story.genre);
    QVERIFY(!story.moodTags.isEmpty());
    QVERIFY(!story.paragraphsEN.isEmpty());
    QVERIFY(!story.paragraphsCN.isEmpty());
    QVERIFY(story.signatureLine);
    QVERIFY2(lrc.contains(*story.signatureLine, Qt::CaseInsensitive), qPrintable(*story.signatureLine));
}

void TestDemoContent::coversEveryKindOfCard()
{
    bool pronunciation = false;
    bool cultural = false;
    bool difficulty = false;
    for (const QString &folder : m_songs) {
        const QByteArray bytes = readFile(contentDir().filePath(folder + QStringLiteral("/cards.json")));
        if (bytes.isEmpty())
            continue;
        for (const GoldenCard &card : GoldenCard::listFromJson(StrictJson::parseObject(bytes).value(u"cards").toArray())) {
            pronunciation |= card.pronunciationHint && card.pronunciationHint->ipa.has_value();
            cultural |= card.culturalHint.has_value();
            difficulty |= card.listeningDifficulty.has_value();
        }
    }
    QVERIFY(pronunciation);
    QVERIFY(cultural);
    QVERIFY(difficulty);
}

QTEST_GUILESS_MAIN(TestDemoContent)
#include "tst_democontent.moc"
