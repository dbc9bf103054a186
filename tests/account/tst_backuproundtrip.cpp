// Every odd form of a backup document is either refused whole, or restores into a library that
// backs up into a document restoring the very same library: a restore never takes in what the
// next restore would refuse or read differently.

#include "BackupTestUtil.h"

#include "account/BackupError.h"
#include "account/BackupService.h"
#include "platform/Clock.h"

#include <QtTest>

namespace {

// The stored library byte for byte: every column but the row ids, texts as their raw bytes,
// floats with all their digits. Songs by key, each song's cards in their stored order.
QByteArray libraryBytes(const QString &path)
{
    SqliteDatabase db = SqliteDatabase::open(path);
    QByteArray out;
    for (const char *sql :
         {"SELECT key, title, artist, lyrics, language, story_article, lyrics_offset, last_played_at, is_favorite, "
          "favorited_at, play_count FROM songs ORDER BY key",
          "SELECT song_key, en, cn, note, example, tag, line_timestamp, learned, is_mastered, mastered_at, is_favorite, "
          "favorited_at, pronunciation_hint_json, cultural_hint, listening_difficulty_raw FROM cards "
          "ORDER BY song_key, id"}) {
        sqlite3_stmt *st = nullptr;
        if (sqlite3_prepare_v2(db.handle(), sql, -1, &st, nullptr) != SQLITE_OK)
            return QByteArray("unreadable: ") + sql;
        while (sqlite3_step(st) == SQLITE_ROW) {
            for (int c = 0; c < sqlite3_column_count(st); ++c) {
                switch (sqlite3_column_type(st, c)) {
                case SQLITE_NULL: out += "NULL"; break;
                case SQLITE_INTEGER: out += QByteArray::number(sqlite3_column_int64(st, c)); break;
                case SQLITE_FLOAT: out += QByteArray::number(sqlite3_column_double(st, c), 'g', 17); break;
                default:
                    out += '"' + QByteArray(static_cast<const char *>(sqlite3_column_blob(st, c)), sqlite3_column_bytes(st, c))
                        + '"';
                }
                out += '|';
            }
            out += '\n';
        }
        sqlite3_finalize(st);
        out += "--\n";
    }
    return out;
}

QByteArray exported(CardStore &store)
{
    ManualWallClock clock;
    BackupService service(&store, QStringLiteral("en"), &clock);
    std::optional<QByteArray> document;
    std::exception_ptr error;
    QCoro::waitFor(detail::capture(service.exportBackup(), &document, &error));
    if (error)
        std::rethrow_exception(error);
    return *document;
}

void imported(CardStore &store, const QByteArray &document)
{
    BackupService service(&store, QStringLiteral("en"));
    await(service.importBackup(document));
}

// The base document with `from` replaced by each of the texts in turn: one row per text.
void addForms(const char *what, const QByteArray &from, std::initializer_list<const char *> forms, bool accepted = true)
{
    for (const char *form : forms)
        QTest::addRow("%s %s", what, form) << withReplaced(from, form) << accepted;
}

} // namespace

class TestBackupRoundTrip : public QObject
{
    Q_OBJECT

private slots:
    void oddDocuments_data()
    {
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<bool>("accepted");

        // Dates: the zone forms, the ends of the years the text form holds (reached through an
        // offset too), before 1970, leap days. Offsets that carry a date outside those years
        // are refused: the date could never be written back in a form the reader takes.
        const QByteArray lastPlayed = "2024-04-30T12:00:00Z";
        addForms("date", lastPlayed,
                 {"2024-04-30T12:00:00Z", "2024-05-01T02:00:00+14:00", "2024-04-29T12:01:00-23:59",
                  "2024-04-30T12:00:00+00:00", "2024-04-30T12:00:00-00:00", "0000-01-01T00:00:00Z",
                  "9999-12-31T23:59:59Z", "0000-01-01T23:59:00+23:59", "9999-12-31T00:00:59-23:59",
                  "1969-12-31T23:59:59Z", "0001-03-01T00:00:00+01:00", "2000-02-29T12:00:00Z",
                  "1900-03-01T00:30:00+01:00"});
        addForms("date", lastPlayed,
                 {"9999-12-31T23:59:59-23:59", "9999-12-31T23:59:59-00:01", "0000-01-01T00:00:00+00:01",
                  "0000-01-01T00:00:00+23:59", "10000-01-01T00:00:00Z", "-001-12-31T23:59:00Z"},
                 false);
        addForms("masteredAt", "2024-04-02T08:00:00Z", {"0000-01-01T00:00:00Z"});
        addForms("masteredAt", "2024-04-02T08:00:00Z", {"9999-12-31T10:00:00-14:00"}, false);

        // Texts: every escape, characters outside the BMP escaped and raw, control and format
        // characters, a NUL inside a text, empty texts. A lone surrogate escape of either half
        // is no character at all and is refused.
        const QByteArray example = "\"Hello, you.\"";
        addForms("text", example,
                 {"\"\\\" \\\\ \\/ \\b \\f \\n \\r \\t\"", R"("\u0000 inside")", R"("\u001f\u007f")", R"("\ud83c\udfb5 \uD83C\uDFB5")",
                  "\"\xf0\x9f\x8e\xb5\"", R"("\u2028\u2029 \ufeff \uffff \ufffd")", R"("e\u0301 \u00e9 \u00E9")", "\"\"",
                  "\"\x7f\""});
        addForms("text", example,
                 {R"("\udc00")", R"("a\udfffb")", R"("\udc00\ud800")", R"("\ud800 \udc00")", R"("\ud83c")"}, false);
        addForms("key", "\"ann|hello\"", {R"("a\u0000b")", "\"\"", R"("\u6b4c|\u6b4c")"});
        addForms("key", "\"ann|hello\"", {R"("\udc00")"}, false);
        addForms("hint", "\"h\\u0259\\u02c8l\\u0259\\u028a\"", {R"("\udc01")"}, false);
        QTest::newRow("unknown member key with a lone low surrogate")
            << withReplaced("{\"cn\": \"c\"", R"({"\udc00": 1, "cn": "c")") << false;

        // Numbers: the float forms and ends, the integer ends.
        addForms("offset", "0.25",
                 {"0.1", "10", "-0.0", "1E2", "1e+2", "0.30000000000000004", "123456789.123456789", "1e308",
                  "-1.7976931348623157e308", "5e-324", "2.2250738585072014e-308"});
        addForms("lineTimestamp", "12.5", {"1.5e300", "0", "-1"});
        addForms("playCount", "\"playCount\": 7",
                 {"\"playCount\": -9223372036854775808", "\"playCount\": 9223372036854775807", "\"playCount\": -1"});

        // Shapes: every hint kind and difficulty, nulls, repeats, other namespaces, no spaces.
        addForms("kind", "\"linking\"", {"\"weak_form\"", "\"contraction\"", "\"elision\"", "\"stress\"", "\"intonation\""});
        addForms("difficulty", "\"hard\"", {"\"easy\"", "\"medium\"", "null"});
        addForms("ipa", ", \"kind\"", {", \"ipa\": null, \"kind\""});
        QTest::newRow("a key twice") << withReplaced("\"bo|min\"", "\"ann|hello\"") << true;
        QTest::newRow("a card pair twice")
            << withReplaced("\"cards\": [\n    {\"cn\": \"c\"",
                            R"("cards": [{"cn": "d", "en": "plain", "example": "x", "isFavorite": true, "isMastered": true,
                                "note": "m", "tag": "t", "favoritedAt": "2020-01-01T00:00:00+05:00"}, {"cn": "c")")
            << true;
        QTest::newRow("another namespace first")
            << withReplaced("\"namespaces\": {", R"("namespaces": {"fr": {"songs": []}, )") << true;
        QTest::newRow("no whitespace") << QByteArray(baseDocument).replace("\n", "").replace(" \"", "\"") << true;
        QTest::newRow("CR LF and tabs") << QByteArray(baseDocument).replace("\n", "\r\n\t") << true;
    }

    void oddDocuments()
    {
        QFETCH(QByteArray, document);
        QFETCH(bool, accepted);
        TempStore first;
        CardStore store(first.container);
        seedLibrary(store);
        const QByteArray seeded = libraryBytes(first.path);
        try {
            imported(store, document);
            QVERIFY2(accepted, "the document was accepted");
        } catch (const BackupError &error) {
            QVERIFY2(!accepted, "the document was refused");
            QCOMPARE(libraryBytes(first.path), seeded);
            QCOMPARE(error.kind(), BackupError::Kind::corrupt);
            return;
        }

        const QByteArray backup = exported(store);
        TempStore second;
        CardStore again(second.container);
        try {
            imported(again, backup);
        } catch (const BackupError &error) {
            QFAIL(qPrintable(QStringLiteral("the backup of the restored library was refused (%1):\n%2")
                                 .arg(QString::fromUtf8(error.what()), QString::fromUtf8(backup))));
        }
        QCOMPARE(libraryBytes(second.path), libraryBytes(first.path));
    }

    // A library that holds instants outside the years the text form can hold (a store restored
    // before such dates were refused) still backs up into a document the reader takes.
    void instantsBeyondTheTextForm_data()
    {
        QTest::addColumn<qint64>("ms");
        QTest::addColumn<qint64>("restored");
        const qint64 year0 = -62'167'219'200'000;    // 0000-01-01T00:00:00Z
        const qint64 year10000 = 253'402'300'800'000; // 10000-01-01T00:00:00Z
        QTest::newRow("10000-01-01T23:58:59Z") << year10000 + 86'339'000 << year10000 - 1000;
        QTest::newRow("-0001-12-31T23:59:00Z") << year0 - 60'000 << year0;
        QTest::newRow("9999-12-31T23:59:59.999Z") << year10000 - 1 << year10000 - 1000;
    }

    void instantsBeyondTheTextForm()
    {
        QFETCH(qint64, ms);
        QFETCH(qint64, restored);
        TempStore temp;
        CardStore store(temp.container);
        store.replaceLibrary([ms](LibraryWriter &out) {
            LibrarySongRow song;
            song.key = "k";
            song.lastPlayedAt = ms;
            song.favoritedAt = ms;
            out.write(std::move(song));
        });
        TempStore second;
        CardStore again(second.container);
        imported(again, exported(store));
        SongRecord *song = again.record(QStringLiteral("k"));
        QVERIFY(song);
        QCOMPARE(song->lastPlayedAt().toMSecsSinceEpoch(), restored);
        QCOMPARE(song->favoritedAt().toMSecsSinceEpoch(), restored);
    }
};

QTEST_GUILESS_MAIN(TestBackupRoundTrip)
#include "tst_backuproundtrip.moc"
