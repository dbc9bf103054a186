// Writing the backup document: the exact text of a small library, numbers JSON cannot hold,
// the file variant, and a round trip of a generated library through export and restore.

#include "BackupTestUtil.h"
#include "ChildProcess.h"

#include "account/BackupService.h"
#include "account/BackupWriter.h"
#include "platform/Clock.h"
#include "platform/StrictJson.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QJsonArray>
#include <QRandomGenerator>
#include <QtTest>

#include <cmath>
#include <limits>

namespace {

QDateTime at(const char *iso)
{
    return QDateTime::fromString(QString::fromLatin1(iso), Qt::ISODateWithMs);
}

// Two songs: one with every optional value (and text that needs escaping), one with none.
void buildGoldenLibrary(CardStore &store, TempStore &temp)
{
    GoldenCard full = golden(QStringLiteral("hello"), QStringLiteral("greeting"), QStringLiteral("你好"), 12.5);
    full.example = QStringLiteral("Hello there.");
    full.pronunciationHint = PronunciationHint{PronunciationKind::linking, QStringLiteral("link it"),
                                               QStringLiteral("həˈləʊ")};
    full.culturalHint = QStringLiteral("said \"hi\"");
    full.listeningDifficulty = ListeningDifficulty::hard;
    GoldenCard bare = golden(QStringLiteral("bye"), QStringLiteral("t"));
    bare.pronunciationHint = PronunciationHint{PronunciationKind::stress, QStringLiteral("x"), std::nullopt};
    bare.listeningDifficulty = ListeningDifficulty::easy;
    store.upsertSong(QStringLiteral("ann|hello"), QStringLiteral("Hello/World"), QStringLiteral("Ann"),
                     QStringLiteral("[00:01.00]你好 🎵\n[00:02.00]back\\slash"), QStringLiteral("en"), {full, bare});
    store.applySongState(QStringLiteral("ann|hello"), true, at("2024-03-01T00:00:00.750Z"), 3,
                         at("2024-04-30T12:00:00Z"), QStringLiteral("en"), QStringLiteral("A story."),
                         0.15000000000000002);
    store.applyCardState(QStringLiteral("ann|hello"), QStringLiteral("hello"), QStringLiteral("greeting"), true,
                         at("2024-04-02T08:00:00Z"), true, at("2024-04-01T08:00:00Z"));
    // Learned without being mastered; a hint and a difficulty that no longer read.
    store.markLearned(store.record(QStringLiteral("ann|hello"))->cards().last()->id(), true);
    temp.raw().exec(QStringLiteral("UPDATE cards SET pronunciation_hint_json = '{\"kind\":\"shout\",\"tip\":\"x\"}', "
                                   "listening_difficulty_raw = 'Hard' WHERE en = 'bye'"));
    store.upsertSong(QStringLiteral("bo|min"), QStringLiteral("Min"), QStringLiteral("Bo"), QString(), std::nullopt,
                     {});
    store.applySongState(QStringLiteral("bo|min"), false, QDateTime(), 0, at("2024-01-01T00:00:00Z"), std::nullopt,
                         std::nullopt, std::nullopt);
}

// "@BUILD@" stands for the build's own version (appBuildIsTheProjectVersion checks it).
const QByteArray goldenTemplate = R"GOLDEN({
  "appBuild": "@BUILD@",
  "exportedAt": "2024-05-01T10:00:00Z",
  "namespaces": {
    "en": {
      "songs": [
        {
          "artist": "Ann",
          "cards": [
            {
              "cn": "你好",
              "culturalHint": "said \"hi\"",
              "en": "hello",
              "example": "Hello there.",
              "favoritedAt": "2024-04-01T08:00:00Z",
              "isFavorite": true,
              "isMastered": true,
              "lineTimestamp": 12.5,
              "listeningDifficulty": "hard",
              "masteredAt": "2024-04-02T08:00:00Z",
              "note": "note",
              "pronunciationHint": {
                "ipa": "həˈləʊ",
                "kind": "linking",
                "tip": "link it"
              },
              "tag": "greeting"
            },
            {
              "cn": "cn",
              "en": "bye",
              "example": "example",
              "isFavorite": false,
              "isMastered": false,
              "note": "note",
              "tag": "t"
            }
          ],
          "favoritedAt": "2024-03-01T00:00:00Z",
          "isFavorite": true,
          "key": "ann|hello",
          "language": "en",
          "lastPlayedAt": "2024-04-30T12:00:00Z",
          "lyrics": "[00:01.00]你好 🎵\n[00:02.00]back\\slash",
          "offset": 0.15000000000000002,
          "playCount": 3,
          "storyArticle": "A story.",
          "title": "Hello\/World"
        },
        {
          "artist": "Bo",
          "cards": [],
          "isFavorite": false,
          "key": "bo|min",
          "lastPlayedAt": "2024-01-01T00:00:00Z",
          "lyrics": "",
          "playCount": 0,
          "title": "Min"
        }
      ]
    }
  }
})GOLDEN";
const QByteArray goldenDocument = QByteArray(goldenTemplate).replace("@BUILD@", BackupService::appBuild().toUtf8());

// The build the configuration asked for: the override, else the version and, in a git
// checkout, "+" and the checked-out commit.
QString expectedBuild(QString *commit)
{
    if (!QStringLiteral(CANTORELLA_TEST_BUILD_OVERRIDE).isEmpty())
        return QStringLiteral(CANTORELLA_TEST_BUILD_OVERRIDE);
    QProcess git;
    ChildProcess::diesWithTest(git);
    git.start(QStringLiteral("git"), {QStringLiteral("-C"), QStringLiteral(CANTORELLA_TEST_SOURCE_DIR),
                                      QStringLiteral("rev-parse"), QStringLiteral("HEAD")});
    if (git.waitForFinished(10000) && git.exitStatus() == QProcess::NormalExit && git.exitCode() == 0)
        *commit = QString::fromLatin1(git.readAllStandardOutput()).trimmed();
    return QStringLiteral(CANTORELLA_TEST_PROJECT_VERSION);
}

// Rows given directly, for values a store cannot hold.
class RowList final : public LibraryRowSource
{
public:
    QList<std::pair<LibrarySongView, QList<LibraryCardView>>> songs;

    bool nextSong() override
    {
        m_card = -1;
        return ++m_song < songs.size();
    }
    const LibrarySongView &song() const override { return songs[m_song].first; }
    bool nextCard() override { return ++m_card < songs[m_song].second.size(); }
    const LibraryCardView &card() const override { return songs[m_song].second[m_card]; }

private:
    qsizetype m_song = -1;
    qsizetype m_card = -1;
};

QJsonObject parsed(const QByteArray &document)
{
    QJsonObject object = StrictJson::parseObject(document);
    object.remove(QStringLiteral("exportedAt"));
    return object;
}

// A library drawn from a fixed seed: texts in several scripts, emoji, decomposed accents,
// characters JSON escapes, and every optional value both present and absent.
void generateLibrary(CardStore &store, int songs)
{
    QRandomGenerator rng(20240501);
    const QStringList pool = {QStringLiteral("plain"),          QStringLiteral("你好，世界"),
                              QStringLiteral("emoji 🎵😀👍🏽"),  QStringLiteral("decomposed e\u0301"),
                              QStringLiteral("composed é"),     QStringLiteral("a/b </script>"),
                              QStringLiteral("back\\slash"),    QStringLiteral("\"quoted\""),
                              QStringLiteral("tab\tnew\nline"), QStringLiteral("\u0001control"),
                              QString()};
    const auto text = [&] { return pool[rng.bounded(int(pool.size()))] + QString::number(rng.bounded(1000)); };
    const auto maybe = [&](auto value) { return rng.bounded(2) ? std::optional(value) : std::nullopt; };
    const auto moment = [&](qint64 base) { return QDateTime::fromMSecsSinceEpoch(base + rng.bounded(1000), Qt::UTC); };
    for (int s = 0; s < songs; ++s) {
        QList<GoldenCard> cards;
        for (int c = 0, n = rng.bounded(8); c < n; ++c) {
            GoldenCard card = golden(text(), text(), text());
            card.note = text();
            card.example = text();
            card.lineTimestamp = maybe(rng.generateDouble() * 300);
            if (rng.bounded(2)) {
                card.pronunciationHint = PronunciationHint{allPronunciationKinds[rng.bounded(6)], text(),
                                                           maybe(text())};
            }
            card.culturalHint = maybe(text());
            if (rng.bounded(2))
                card.listeningDifficulty = allListeningDifficulties[rng.bounded(3)];
            cards.append(card);
        }
        const QString key = QStringLiteral("artist %1|").arg(s) + text();
        store.upsertSong(key, text(), text(), text(), maybe(QStringLiteral("en")), cards);
        // Distinct seconds, so that the order of the history survives whole-second dates.
        const qint64 lastPlayed = 1'700'000'000'000 - qint64(s) * 1000;
        const bool favorite = rng.bounded(2);
        store.applySongState(key, favorite, favorite ? moment(1'600'000'000'000) : QDateTime(), rng.bounded(50),
                             moment(lastPlayed), maybe(QStringLiteral("en")), maybe(text()),
                             maybe(rng.generateDouble() * 4 - 2));
        for (LearnedCard *card : store.record(key)->cards()) {
            const bool mastered = rng.bounded(2);
            const bool cardFavorite = rng.bounded(2);
            store.applyCardState(key, card->en(), card->tag(), mastered,
                                 mastered ? moment(1'650'000'000'000) : QDateTime(), cardFavorite,
                                 cardFavorite ? moment(1'660'000'000'000) : QDateTime());
        }
    }
}

} // namespace

class TestBackupWriter : public QObject
{
    Q_OBJECT

private slots:
    void goldenDocument()
    {
        TempStore temp;
        CardStore store(temp.container);
        buildGoldenLibrary(store, temp);
        ManualWallClock clock(at("2024-05-01T10:00:00.999Z"));
        BackupService service(&store, QStringLiteral("EN"), &clock);
        const QByteArray document = await(service.exportBackup());
        QCOMPARE(document, ::goldenDocument);
    }

    void appBuildIsTheProjectVersion()
    {
        TempStore temp;
        CardStore store(temp.container);
        BackupService service(&store, QStringLiteral("en"));
        const QJsonObject document = QJsonDocument::fromJson(await(service.exportBackup())).object();
        const QString written = document.value(QStringLiteral("appBuild")).toString();
        QString commit;
        const QString expected = expectedBuild(&commit);
        QVERIFY2(written != QStringLiteral("unknown"), qPrintable(written));
        if (commit.isEmpty()) {
            QCOMPARE(written, expected);
            return;
        }
        // Every build rewrites the version when the commit changed: the binary carries HEAD.
        const QStringList parts = written.split(QLatin1Char('+'));
        QCOMPARE(parts.size(), 2);
        QCOMPARE(parts.at(0), expected);
        QVERIFY2(parts.at(1).size() >= 7 && commit.startsWith(parts.at(1)), qPrintable(written + u' ' + commit));
    }

    void nonFiniteNumbersFail_data()
    {
        QTest::addColumn<double>("lineTimestamp");
        QTest::addColumn<double>("offset");
        const double nan = std::numeric_limits<double>::quiet_NaN();
        const double infinity = std::numeric_limits<double>::infinity();
        QTest::newRow("NaN line time") << nan << 0.0;
        QTest::newRow("infinite line time") << infinity << 0.0;
        QTest::newRow("NaN offset") << 1.0 << nan;
        QTest::newRow("negative infinite offset") << 1.0 << -infinity;
    }

    void nonFiniteNumbersFail()
    {
        QFETCH(double, lineTimestamp);
        QFETCH(double, offset);
        LibrarySongView song;
        song.key = "k";
        song.lyricsOffset = offset;
        LibraryCardView card;
        card.lineTimestamp = lineTimestamp;
        RowList rows;
        rows.songs.append({song, {card}});
        QVERIFY_THROWS_EXCEPTION(JsonError, BackupWriter::write({}, rows));
    }

    // The file variant replaces the destination only with a whole document; a failed export
    // leaves it as it was and no temporary file behind.
    void fileVariant()
    {
        TempStore temp;
        CardStore store(temp.container);
        buildGoldenLibrary(store, temp);
        ManualWallClock clock(at("2024-05-01T10:00:00Z"));
        BackupService service(&store, QStringLiteral("en"), &clock);
        QTemporaryDir out;
        const QString path = out.filePath(QStringLiteral("backup.json"));
        const auto contents = [&] {
            QFile file(path);
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        {
            QFile stale(path);
            QVERIFY(stale.open(QIODevice::WriteOnly) && stale.write("an older backup") > 0);
        }

        await(service.exportBackupTo(path));
        QCOMPARE(contents(), ::goldenDocument);

        temp.raw().exec(QStringLiteral("UPDATE cards SET line_timestamp = 9e999 WHERE en = 'bye'"));
        QVERIFY_THROWS_EXCEPTION(JsonError, await(service.exportBackupTo(path)));
        QCOMPARE(contents(), ::goldenDocument);
        QCOMPARE(QDir(out.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"backup.json"});
        temp.raw().exec(QStringLiteral("UPDATE cards SET line_timestamp = NULL WHERE en = 'bye'"));

        QVERIFY_THROWS_EXCEPTION(BackupFileError,
                                 await(service.exportBackupTo(out.filePath(QStringLiteral("missing/backup.json")))));
        TempStore other;
        CardStore otherStore(other.container);
        BackupService reader(&otherStore, QStringLiteral("en"));
        QVERIFY_THROWS_EXCEPTION(BackupFileError, await(reader.importBackupFrom(path + QStringLiteral(".none"))));
        await(reader.importBackupFrom(path));
        // Learned without mastered is not carried: "bye" comes back not learned.
        QCOMPARE(describeLibrary(otherStore), QStringLiteral("ann|hello Hello/World 3 1714478400 fav "
                                                             "[hello/greeting:mlf bye/t:]; bo|min Min 0 1704067200 []"));
    }

    // Export, restore into another store, export again: the same document apart from
    // exportedAt.
    void roundTrip()
    {
        TempStore first;
        CardStore firstStore(first.container);
        generateLibrary(firstStore, 80);
        ManualWallClock clock;
        BackupService firstService(&firstStore, QStringLiteral("en"), &clock);
        const QByteArray exported = await(firstService.exportBackup());

        TempStore second;
        CardStore secondStore(second.container);
        seedLibrary(secondStore);
        clock.advance(std::chrono::hours(1));
        BackupService secondService(&secondStore, QStringLiteral("en"), &clock);
        await(secondService.importBackup(exported));
        const QByteArray again = await(secondService.exportBackup());

        QVERIFY(exported != again); // exportedAt
        QCOMPARE(parsed(again), parsed(exported));
        const QJsonArray songs = parsed(exported)["namespaces"].toObject()["en"].toObject()["songs"].toArray();
        QCOMPARE(songs.size(), 80);
        QVERIFY(exported.contains("a\\/b") && exported.contains("🎵😀👍🏽") && exported.contains("e\xcc\x81"));
        QVERIFY(exported.contains("\"pronunciationHint\"") && exported.contains("\"offset\""));
    }
};

QTEST_GUILESS_MAIN(TestBackupWriter)
#include "tst_backupwriter.moc"
