#include "AuthFixture.h"

#include "backend/RemoteBackupProvider.h"
#include "backend/RemoteLLMProvider.h"
#include "backend/RemoteLyricsProvider.h"
#include "backend/RemoteSongStoryProvider.h"

#include <QJsonArray>
#include <QRandomGenerator>
#include <QtTest>

using Reply = HttpFake::Reply;

// Hostile answers — random bytes, valid JSON of the wrong shape, deep nesting, huge bodies,
// truncated documents — must end each client's call with its own error type (or a success),
// never with another exception or a crash. The generator is seeded, so a failure repeats.
namespace {

constexpr quint32 seed = 20240501;

QString randomText(QRandomGenerator &rng, int maxLength)
{
    QString text;
    const int length = rng.bounded(maxLength + 1);
    for (int i = 0; i < length; ++i) {
        switch (rng.bounded(4)) {
        case 0: text += QChar(char16_t(0x20 + rng.bounded(0x5f))); break;        // ASCII
        case 1: text += QChar(char16_t(0x4e00 + rng.bounded(0x500))); break;     // CJK
        case 2: text += QStringLiteral("[00:0%1.00]").arg(rng.bounded(10)); break; // LRC stamps
        default: text += QChar(char16_t(rng.bounded(0x10000))); break;          // anything, lone surrogates too
        }
    }
    return text;
}

QJsonValue randomValue(QRandomGenerator &rng, const QStringList &keys, int depth)
{
    switch (rng.bounded(depth > 3 ? 5 : 7)) {
    case 0: return QJsonValue::Null;
    case 1: return rng.bounded(2) == 1;
    case 2: {
        static const double numbers[] = {0, -1, 1.5, 1e300, -1e-300, 9007199254740993.0, 42};
        return numbers[rng.bounded(int(std::size(numbers)))];
    }
    case 3:
    case 4: return randomText(rng, 40);
    case 5: {
        QJsonArray array;
        for (int i = rng.bounded(4); i > 0; --i)
            array.append(randomValue(rng, keys, depth + 1));
        return array;
    }
    default: {
        QJsonObject object;
        for (int i = rng.bounded(6); i > 0; --i)
            object.insert(rng.bounded(4) == 0 ? randomText(rng, 8) : keys[rng.bounded(int(keys.size()))],
                          randomValue(rng, keys, depth + 1));
        return object;
    }
    }
}

// A valid answer with some keys dropped or replaced by values of any type.
QJsonObject mutated(QRandomGenerator &rng, QJsonObject valid, const QStringList &keys)
{
    for (const QString &key : valid.keys()) {
        const int roll = rng.bounded(4);
        if (roll == 0)
            valid.remove(key);
        else if (roll == 1)
            valid.insert(key, randomValue(rng, keys, 1));
    }
    return valid;
}

// The bodies every client is fed, in a fixed order.
QList<QByteArray> hostileBodies(QRandomGenerator &rng, const QJsonObject &valid)
{
    QStringList keys = valid.keys();
    keys << "en" << "cn" << "note" << "example" << "tag" << "lineTimestamp" << "pronunciationHint" << "kind";
    QList<QByteArray> bodies;
    for (int i = 0; i < 15; ++i) {
        QByteArray bytes(rng.bounded(600), Qt::Uninitialized);
        for (char &c : bytes)
            c = char(rng.bounded(256));
        bodies << bytes;
    }
    for (int i = 0; i < 25; ++i)
        bodies << QJsonDocument(mutated(rng, valid, keys)).toJson(QJsonDocument::Compact);
    for (int i = 0; i < 10; ++i) {
        const QJsonValue value = randomValue(rng, keys, 0);
        bodies << (value.isObject() ? QJsonDocument(value.toObject()).toJson()
                   : value.isArray() ? QJsonDocument(value.toArray()).toJson()
                                     : QJsonDocument(QJsonArray{value}).toJson());
    }
    const QByteArray validBytes = QJsonDocument(valid).toJson(QJsonDocument::Compact);
    for (int i = 0; i < 5; ++i)
        bodies << validBytes.left(rng.bounded(int(validBytes.size()))); // cut short
    bodies << QByteArray(200000, '[') + QByteArray(200000, ']');            // far deeper than any parser allows
    bodies << "{\"cards\":" + QByteArray(5000, '[') + QByteArray(5000, ']') + "}";
    bodies << QByteArray(8 << 20, 'x');                                       // 8 MB of nothing
    QJsonObject huge = valid;
    for (const QString &key : valid.keys())
        if (valid.value(key).isString())
            huge.insert(key, QString(3 << 20, QLatin1Char('a')));               // megabytes per text
    bodies << QJsonDocument(huge).toJson(QJsonDocument::Compact);
    bodies << QByteArray("\xEF\xBB\xBF") + validBytes;                         // byte-order mark
    bodies << QByteArray() << "null" << "[]" << "\"text\"" << "{}";
    return bodies;
}

// Empty when the call ended as allowed, else what went wrong.
template<class Error, class T>
QString outcomeProblem(QCoro::Task<T> task)
{
    try {
        TaskRunner::run(std::move(task), std::chrono::seconds(30));
    } catch (const Error &) {
    } catch (const std::exception &other) {
        return QStringLiteral("unexpected exception: ") + QString::fromUtf8(other.what());
    } catch (...) {
        return QStringLiteral("unexpected non-standard exception");
    }
    return QString();
}

QString describe(const QByteArray &body)
{
    return QStringLiteral("body of %1 bytes starting %2").arg(body.size()).arg(QString::fromLatin1(body.left(40).toHex()));
}

} // namespace

class TestRemoteFuzz : public QObject
{
    Q_OBJECT

    std::unique_ptr<AuthFixture> fixture;
    std::unique_ptr<HttpSession> session;

private slots:
    void init()
    {
        fixture = std::make_unique<AuthFixture>();
        fixture->store(fixture->issuedSession("ann@example.com"));
        fixture->start();
        session = std::make_unique<HttpSession>(RemoteAPIConfig::sharedSessionConfiguration());
    }

    void lyrics()
    {
        QRandomGenerator rng(seed);
        RemoteLyricsProvider provider(session.get(), fixture->auth.get(), fixture->server.baseUrl());
        const QJsonObject valid{{"lyrics", "[00:01.00]a\n[00:02.00]b"}, {"source", "lrclib"}, {"songKey", "a|t"}, {"language", "en"}};
        const QList<QByteArray> bodies = hostileBodies(rng, valid);
        for (const QByteArray &body : bodies) {
            fixture->server.setReply("/api/track", Reply::text(200, body, "application/json"));
            const QString problem = outcomeProblem<RemoteLyricsError>(provider.fetch("Title", "Artist", 1, QString()));
            QVERIFY2(problem.isEmpty(), qPrintable(problem + " for " + describe(body)));
        }
        QCOMPARE(fixture->server.count("/api/track"), bodies.size()); // every body was really served
    }

    void cards()
    {
        QRandomGenerator rng(seed + 1);
        RemoteLLMProvider provider(session.get(), fixture->server.baseUrl(), fixture->auth.get());
        NowPlayingTrack track;
        track.title = "Title";
        track.artist = "Artist";
        const QJsonObject card{{"en", "a"}, {"cn", "b"}, {"note", "c"}, {"example", "d"}, {"tag", "e"},
                               {"lineTimestamp", 1.0}, {"pronunciationHint", QJsonObject{{"kind", "linking"}, {"tip", "t"}}}};
        const QJsonObject valid{{"cards", QJsonArray{card, card}}, {"songKey", "a|t"}, {"warning", "w"}};
        const QJsonObject upstream{{"error", "e"}, {"category", "rate_limit"}};
        QList<QByteArray> bodies = hostileBodies(rng, valid);
        const QList<QByteArray> errorBodies = hostileBodies(rng, upstream);
        for (int status : {200, 502}) {
            for (const QByteArray &body : status == 200 ? bodies : errorBodies) {
                fixture->server.setReply("/api/cards", Reply::text(status, body, "application/json"));
                const QString problem =
                    outcomeProblem<RemoteCardsError>(provider.fetchCards("[00:01.00]a", track, std::nullopt));
                QVERIFY2(problem.isEmpty(), qPrintable(problem + " for " + describe(body)));
            }
        }
    }

    void story()
    {
        QRandomGenerator rng(seed + 2);
        RemoteSongStoryProvider provider(session.get(), fixture->server.baseUrl(), fixture->auth.get());
        const QJsonObject valid{{"article", "TITLE: x\nEN:\ny"}, {"songKey", "a|t"}};
        for (const QByteArray &body : hostileBodies(rng, valid)) {
            fixture->server.setReply("/api/story", Reply::text(200, body, "application/json"));
            const QString problem = outcomeProblem<RemoteSongStoryError>(provider.fetchStory("a|t", "Title", "Artist"));
            QVERIFY2(problem.isEmpty(), qPrintable(problem + " for " + describe(body)));
        }
    }

    void backupUpload()
    {
        QRandomGenerator rng(seed + 3);
        RemoteBackupProvider provider(session.get(), fixture->server.baseUrl(), fixture->auth.get());
        const QJsonObject valid{{"storedAt", "2024-05-01T10:00:00Z"}, {"sizeBytes", 10}};
        for (const QByteArray &body : hostileBodies(rng, valid)) {
            fixture->server.setReply("/api/backup", Reply::text(200, body, "application/json"));
            const QString problem = outcomeProblem<BackupSyncError>(provider.upload("{}"));
            QVERIFY2(problem.isEmpty(), qPrintable(problem + " for " + describe(body)));
        }
    }
};

QTEST_GUILESS_MAIN(TestRemoteFuzz)
#include "tst_remotefuzz.moc"
