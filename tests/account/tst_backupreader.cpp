// Reading a backup document into the library: which documents restore, what they restore,
// and that every document that cannot be read leaves the library exactly as it was.

#include "BackupTestUtil.h"

#include "account/BackupError.h"
#include "account/BackupService.h"

#include <QtTest>

Q_DECLARE_METATYPE(std::optional<BackupError::Kind>)

namespace {

// Found by libFuzzer against the parser's full-precision conversion: a wild read in StrtodDiyFp.
const QByteArray fuzzFoundNumber = "1.235780139914780167801801614800000000000000071e-370";

// Either kind: the document has more than one fault.
const std::optional<BackupError::Kind> anyKind;

QByteArray smallDocument(const QByteArray &namespaces)
{
    return R"({"appBuild": "1", "exportedAt": "2024-05-01T10:00:00Z", "namespaces": )" + namespaces + "}";
}

QByteArray songJson(const QByteArray &key, const QByteArray &title, const QByteArray &cards,
                    const QByteArray &lastPlayed = "2024-01-01T00:00:00Z")
{
    return R"({"artist": "A", "cards": [)" + cards + R"(], "isFavorite": false, "key": ")" + key
        + R"(", "lastPlayedAt": ")" + lastPlayed + R"(", "lyrics": "", "playCount": 1, "title": ")" + title + "\"}";
}

QByteArray cardJson(const QByteArray &en, const QByteArray &cn, bool mastered)
{
    return R"({"cn": ")" + cn + R"(", "en": ")" + en + R"(", "example": "e", "isFavorite": false, "isMastered": )"
        + (mastered ? "true" : "false") + R"(, "note": "n", "tag": "t"})";
}

const QString baseDescription = QStringLiteral(
    "ann|hello Hello 7 1714478400 fav [hello/greeting:mlf]; bo|min Min 0 1704067200 [plain/t:]");

} // namespace

class TestBackupReader : public QObject
{
    Q_OBJECT

    void import(CardStore &store, const QByteArray &document)
    {
        BackupService service(&store, QStringLiteral("EN"));
        await(service.importBackup(document));
    }

private slots:
    void unreadableDocumentsChangeNothing_data()
    {
        using enum BackupError::Kind;
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<std::optional<BackupError::Kind>>("expected");

        const QByteArray deep(2'000'000, '[');
        QTest::newRow("empty") << QByteArray() << std::optional(corrupt);
        QTest::newRow("not JSON") << QByteArray("backup") << std::optional(corrupt);
        QTest::newRow("truncated") << baseDocument.left(baseDocument.size() / 2) << std::optional(corrupt);
        QTest::newRow("invalid UTF-8") << withReplaced("Hello, you.", "Hello\xff you.") << std::optional(corrupt);
        QTest::newRow("overlong UTF-8") << withReplaced("Hello, you.", "Hello\xc0\xaf") << std::optional(corrupt);
        QTest::newRow("lone surrogate escape") << withReplaced("link it", "\\ud800") << std::optional(corrupt);
        QTest::newRow("bytes after the document") << baseDocument + " x" << std::optional(corrupt);
        QTest::newRow("bytes after a NUL") << baseDocument + QByteArray("\0x", 2) << std::optional(corrupt);
        QTest::newRow("2,000,000 [") << deep << anyKind;
        QTest::newRow("2,000,000 [ in an unknown member") << "{\"deep\": " + deep << std::optional(corrupt);
        QTest::newRow("top level an array") << QByteArray("[]") << std::optional(malformed);
        QTest::newRow("top level null") << QByteArray("null") << std::optional(malformed);

        QTest::newRow("no appBuild") << withReplaced("\"appBuild\": \"42\", ", "") << std::optional(malformed);
        QTest::newRow("appBuild null") << withReplaced("\"42\"", "null") << std::optional(malformed);
        QTest::newRow("exportedAt a number")
            << withReplaced("\"2024-05-01T10:00:00Z\"", "1714557600") << std::optional(malformed);
        QTest::newRow("namespace null") << smallDocument(R"({"en": null})") << std::optional(malformed);
        QTest::newRow("songs an object") << smallDocument(R"({"en": {"songs": {}}})") << std::optional(malformed);
        QTest::newRow("namespace without songs") << smallDocument(R"({"en": {}})") << std::optional(malformed);
        QTest::newRow("song without lastPlayedAt")
            << withReplaced("\"lastPlayedAt\": \"2024-01-01T00:00:00Z\", ", "") << std::optional(malformed);
        QTest::newRow("isFavorite a string")
            << withReplaced("\"isFavorite\": false, \"key\"", "\"isFavorite\": \"false\", \"key\"")
            << std::optional(malformed);
        QTest::newRow("key null") << withReplaced("\"bo|min\"", "null") << std::optional(malformed);
        QTest::newRow("playCount a string") << withReplaced("\"playCount\": 7", "\"playCount\": \"7\"")
                                            << std::optional(malformed);
        QTest::newRow("cards null") << withReplaced("\"cards\": [\n    {\"cn\": \"c\"", "\"cards\": null, \"x\": [{\"cn\": \"c\"")
                                    << std::optional(malformed);
        QTest::newRow("card not an object") << smallDocument(R"({"en": {"songs": [)" + songJson("k", "T", "1") + "]}}")
                                            << std::optional(malformed);
        QTest::newRow("card without tag") << withReplaced(", \"tag\": \"t\"}", "}") << std::optional(malformed);
        QTest::newRow("hint without tip") << withReplaced(", \"tip\": \"link it\"", "") << std::optional(malformed);
        QTest::newRow("hint a string") << withReplaced("\"pronunciationHint\": {", "\"pronunciationHint\": \"x\", \"y\": {")
                                       << std::optional(malformed);
        QTest::newRow("offset a string") << withReplaced("\"offset\": 0.25", "\"offset\": \"0.25\"")
                                         << std::optional(malformed);
        QTest::newRow("bad song in another namespace")
            << withReplaced("\"namespaces\": {", "\"namespaces\": {\"fr\": {\"songs\": [{\"key\": 1}]}, ")
            << std::optional(malformed);

        QTest::newRow("unknown difficulty") << withReplaced("\"hard\"", "\"extreme\"") << std::optional(corrupt);
        QTest::newRow("difficulty in other case") << withReplaced("\"hard\"", "\"Hard\"") << std::optional(corrupt);
        QTest::newRow("unknown hint kind") << withReplaced("\"linking\"", "\"shout\"") << std::optional(corrupt);
        QTest::newRow("fractional seconds") << withReplaced("2024-03-01T00:00:00Z", "2024-03-01T00:00:00.5Z")
                                            << std::optional(corrupt);
        QTest::newRow("date without zone") << withReplaced("2024-04-30T12:00:00Z", "2024-04-30T12:00:00")
                                           << std::optional(corrupt);
        QTest::newRow("date only") << withReplaced("2024-04-30T12:00:00Z", "2024-04-30") << std::optional(corrupt);
        QTest::newRow("no such day") << withReplaced("2024-04-30T12:00:00Z", "2023-02-29T12:00:00Z")
                                     << std::optional(corrupt);
        QTest::newRow("playCount 1.5") << withReplaced("\"playCount\": 7", "\"playCount\": 1.5")
                                       << std::optional(corrupt);
        QTest::newRow("playCount 2^63") << withReplaced("\"playCount\": 7", "\"playCount\": 9223372036854775808")
                                        << std::optional(corrupt);
        QTest::newRow("playCount 1e2") << withReplaced("\"playCount\": 7", "\"playCount\": 1e2")
                                       << std::optional(corrupt);
        QTest::newRow("offset 1e400") << withReplaced("\"offset\": 0.25", "\"offset\": 1e400") << std::optional(corrupt);
        // Numbers whose conversion in the JSON parser reads outside its table of powers of ten.
        QTest::newRow("offset found by fuzzing")
            << withReplaced("\"offset\": 0.25", "\"offset\": " + fuzzFoundNumber) << std::optional(corrupt);
        QTest::newRow("line time of 40 nines e308")
            << withReplaced("12.5", QByteArray(40, '9') + "e308") << std::optional(corrupt);
        QTest::newRow("line time of 90 zeros")
            << withReplaced("12.5", "0." + QByteArray(90, '0') + "1e-10") << std::optional(corrupt);
        QTest::newRow("a long number in an unknown member")
            << withReplaced("\"offset\": 0.25", "\"offset\": 0.25, \"x\": [" + fuzzFoundNumber + "]")
            << std::optional(corrupt);
    }

    void unreadableDocumentsChangeNothing()
    {
        QFETCH(QByteArray, document);
        QFETCH(std::optional<BackupError::Kind>, expected);
        TempStore temp;
        CardStore store(temp.container);
        seedLibrary(store);
        const QList<SongRecord *> held = store.allSongs();
        const QString before = fingerprint(temp.path);
        const QString described = describeLibrary(store);

        try {
            import(store, document);
            QFAIL("the document was accepted");
        } catch (const BackupError &error) {
            if (expected)
                QCOMPARE(error.kind(), *expected);
        }
        QCOMPARE(fingerprint(temp.path), before);
        QCOMPARE(store.allSongs(), held);
        QCOMPARE(describeLibrary(store), described);
    }

    void acceptedDocuments_data()
    {
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<QString>("expected");

        QTest::newRow("both songs") << baseDocument << baseDescription;
        QTest::newRow("zone +08:00") << withReplaced("2024-04-30T12:00:00Z", "2024-04-30T20:00:00+08:00")
                                     << baseDescription;
        QTest::newRow("zone -05:30") << withReplaced("2024-04-30T12:00:00Z", "2024-04-30T06:30:00-05:30")
                                     << baseDescription;
        QTest::newRow("whole-number line time") << withReplaced("12.5", "10") << baseDescription;
        QTest::newRow("line time in 17 digits and an exponent")
            << withReplaced("12.5", "1.2500000000000000e1") << baseDescription;
        QTest::newRow("optionals null")
            << withReplaced("\"language\": \"en\"", "\"language\": null,\"storyArticle\": null, \"offset\": null",
                            withReplaced("\"masteredAt\": \"2024-04-02T08:00:00Z\"", "\"masteredAt\": null"))
            << baseDescription;
        const QByteArray extra = R"("zz": {"a": [1, {"b": null}, "c"], "d": true}, )";
        QTest::newRow("unknown members everywhere")
            << withReplaced("{\n \"appBuild\"", "{" + extra + "\"appBuild\"",
                            withReplaced("{\"songs\"", "{" + extra + "\"songs\"",
                                         withReplaced("{\"artist\": \"Bo\"", "{" + extra + "\"artist\": \"Bo\"",
                                                      withReplaced("{\"cn\": \"c\"", "{" + extra + "\"cn\": \"c\"",
                                                                   withReplaced("{\"ipa\"", "{" + extra + "\"ipa\"")))))
            << baseDescription;
        QTest::newRow("another namespace")
            << withReplaced("\"namespaces\": {", "\"namespaces\": {\"fr\": {\"songs\": [" + songJson("fr|x", "X", "") + "]}, ")
            << baseDescription;
        QTest::newRow("no en namespace") << withReplaced("{\"en\":", "{\"de\":") << QString();
        QTest::newRow("no songs") << smallDocument(R"({"en": {"songs": []}})") << QString();
        QTest::newRow("a key twice: the later entry wins")
            << smallDocument(R"({"en": {"songs": [)" + songJson("k", "First", cardJson("a", "1", true)) + ", "
                             + songJson("k", "Second", cardJson("b", "2", false)) + "]}}")
            << QStringLiteral("k Second 1 1704067200 [b/t:]");
        QTest::newRow("a card pair twice: the later one wins with its state")
            << smallDocument(R"({"en": {"songs": [)"
                             + songJson("k", "T", cardJson("a", "1", false) + ", " + cardJson("b", "2", false) + ", "
                                                      + cardJson("a", "3", true))
                             + "]}}")
            << QStringLiteral("k T 1 1704067200 [b/t: a/t:ml]");
        QTest::newRow("the namespace twice: the last one counts")
            << smallDocument(R"({"en": {"songs": [)" + songJson("first", "F", "") + R"(]}, "en": {"songs": [)"
                             + songJson("second", "S", "") + "]}}")
            << QStringLiteral("second S 1 1704067200 []");
        QTest::newRow("2,000,000 levels in an unknown member")
            << withReplaced("{\n \"appBuild\"", "{\"deep\": " + QByteArray(2'000'000, '[')
                                                    + QByteArray(2'000'000, ']') + ", \"appBuild\"")
            << baseDescription;
    }

    void acceptedDocuments()
    {
        QFETCH(QByteArray, document);
        QFETCH(QString, expected);
        TempStore temp;
        CardStore store(temp.container);
        seedLibrary(store);
        import(store, document);
        QCOMPARE(describeLibrary(store), expected);
        SqliteDatabase db = temp.raw();
        QCOMPARE(db.integrityCheck(), QStringLiteral("ok"));
        QVERIFY(!db.statement("PRAGMA foreign_key_check").step());
    }

    void restoresEveryField()
    {
        TempStore temp;
        CardStore store(temp.container);
        import(store, baseDocument);
        const auto at = [](const char *iso) { return QDateTime::fromString(QString::fromLatin1(iso), Qt::ISODate); };

        SongRecord *song = store.record(QStringLiteral("ann|hello"));
        QVERIFY(song);
        QCOMPARE(song->title(), QStringLiteral("Hello"));
        QCOMPARE(song->artist(), QStringLiteral("Ann"));
        QCOMPARE(song->lyrics(), QStringLiteral("[00:01.00]hello/there"));
        QCOMPARE(song->language(), std::optional<QString>(QStringLiteral("en")));
        QCOMPARE(song->storyArticle(), std::optional<QString>(QStringLiteral("A story.")));
        QCOMPARE(song->lyricsOffset(), std::optional<double>(0.25));
        QVERIFY(song->isFavorite());
        QCOMPARE(song->favoritedAt(), at("2024-03-01T00:00:00Z"));
        QCOMPARE(song->playCount(), qint64(7));
        QCOMPARE(song->lastPlayedAt(), at("2024-04-30T12:00:00Z"));
        QCOMPARE(song->cards().size(), 1);
        LearnedCard *card = song->cards().first();
        QCOMPARE(card->songKey(), QStringLiteral("ann|hello"));
        QCOMPARE(card->cn(), QStringLiteral("你好"));
        QCOMPARE(card->note(), QStringLiteral("n"));
        QCOMPARE(card->example(), QStringLiteral("Hello, you."));
        QCOMPARE(card->lineTimestamp(), std::optional<double>(12.5));
        QVERIFY(card->isMastered() && card->learned() && card->isFavorite());
        QCOMPARE(card->masteredAt(), at("2024-04-02T08:00:00Z"));
        QCOMPARE(card->favoritedAt(), at("2024-04-01T08:00:00Z"));
        QCOMPARE(card->culturalHint(), std::optional<QString>(QStringLiteral("a greeting")));
        QCOMPARE(card->listeningDifficulty(), std::optional(ListeningDifficulty::hard));
        const PronunciationHint hint{PronunciationKind::linking, QStringLiteral("link it"), QStringLiteral("həˈləʊ")};
        QCOMPARE(card->pronunciationHint(), std::optional(hint));

        SongRecord *bare = store.record(QStringLiteral("bo|min"));
        QVERIFY(bare);
        QVERIFY(!bare->language() && !bare->storyArticle() && !bare->lyricsOffset());
        QVERIFY(!bare->favoritedAt().isValid());
        LearnedCard *plain = bare->cards().first();
        QVERIFY(!plain->lineTimestamp() && !plain->pronunciationHintJSON() && !plain->culturalHint());
        QVERIFY(!plain->listeningDifficultyRaw() && !plain->masteredAt().isValid() && !plain->favoritedAt().isValid());
        QVERIFY(!plain->isMastered() && !plain->learned() && !plain->isFavorite());
    }
};

QTEST_GUILESS_MAIN(TestBackupReader)
#include "tst_backupreader.moc"
