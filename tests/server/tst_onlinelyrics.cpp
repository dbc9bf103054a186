#include "LoopbackHttp.h"

#include "server/lyrics/TrackService.h"
#include "server/outbound/CurlHttp.h"
#include "server/store/StoreFactory.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <future>

using namespace server;

namespace {

const QString synced = QStringLiteral("[ti:Night Song]\n[00:01.00]The stars are out tonight\n[00:04.00]And so are we\n");
const QString otherSynced = QStringLiteral("[00:02.00]A different song\n");

// One scripted answer of the fake database: a status and a body, or a fault.
struct Scripted
{
    int status = 404;
    std::string body = R"({"code":404,"name":"TrackNotFound","message":"Failed to find specified track"})";
    QString fault; // "slow", "huge", "redirect"
};

std::string record(const QString &track, const QString &artist, double duration, const QJsonValue &syncedLyrics,
                   const QJsonValue &plain = QJsonValue::Null, bool instrumental = false)
{
    const QJsonObject object{{"id", 1},           {"trackName", track},      {"artistName", artist},
                             {"duration", duration}, {"instrumental", instrumental},
                             {"plainLyrics", plain}, {"syncedLyrics", syncedLyrics}};
    return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

std::string list(std::initializer_list<std::string> records)
{
    std::string text = "[";
    for (const std::string &r : records)
        text += (text.size() > 1 ? "," : "") + r;
    return text + "]";
}

} // namespace

Q_DECLARE_METATYPE(Scripted)

class TestOnlineLyrics : public QObject
{
    Q_OBJECT

    LoopbackHttp m_fake;
    std::mutex m_scriptMutex;
    Scripted m_get;
    Scripted m_search;
    std::atomic<int> m_getDelayMs{0};
    std::atomic<int> m_gets{0};
    std::atomic<int> m_searches{0};
    httplib::Params m_lastGetParams;
    std::string m_lastUserAgent;

    std::unique_ptr<QTemporaryDir> m_data;
    std::unique_ptr<ServerStore> m_store;
    CurlHttp m_http;
    std::unique_ptr<LrclibClient> m_client;
    std::unique_ptr<TrackService> m_service;
    qint64 m_now = 1800000000;

    void serve(const Scripted &script, httplib::Response &res)
    {
        if (script.fault == "slow")
            m_fake.pause(20000);
        if (script.fault == "redirect")
            return res.set_redirect("http://elsewhere.invalid/api/get");
        if (script.fault == "huge") {
            return res.set_chunked_content_provider("application/json", [this](size_t, httplib::DataSink &sink) {
                const std::string chunk(64 * 1024, ' ');
                for (int i = 0; i < 800 && !m_fake.stopping(); ++i) { // 50 MiB
                    if (!sink.write(chunk.data(), chunk.size()))
                        return false;
                }
                sink.done();
                return true;
            });
        }
        res.status = script.status;
        res.set_content(script.body, "application/json");
    }

    TrackService::Answer ask(const QString &title, const QString &artist, double duration = 0)
    {
        QJsonObject body{{"title", title}, {"artist", artist}, {"targetLanguage", "en"}};
        if (duration > 0)
            body.insert("duration", duration);
        return m_service->answer(JsonReader(body));
    }

    void script(Scripted get, Scripted search = {200, "[]", {}})
    {
        std::lock_guard lock(m_scriptMutex);
        m_get = std::move(get);
        m_search = std::move(search);
    }

private slots:
    void initTestCase()
    {
        m_fake.server.Get("/api/get", [this](const httplib::Request &req, httplib::Response &res) {
            ++m_gets;
            Scripted script;
            {
                std::lock_guard lock(m_scriptMutex);
                m_lastGetParams = req.params;
                m_lastUserAgent = req.get_header_value("User-Agent");
                script = m_get;
            }
            m_fake.pause(m_getDelayMs);
            serve(script, res);
        });
        m_fake.server.Get("/api/search", [this](const httplib::Request &, httplib::Response &res) {
            ++m_searches;
            Scripted script;
            {
                std::lock_guard lock(m_scriptMutex);
                script = m_search;
            }
            serve(script, res);
        });
        m_fake.start();
    }

    void init()
    {
        m_service.reset();
        m_data = std::make_unique<QTemporaryDir>();
        m_store = openServerStore(QString(), m_data->path());
        m_gets = 0;
        m_searches = 0;
        m_getDelayMs = 0;
        m_client = std::make_unique<LrclibClient>(m_http, m_fake.url("/"));
        m_service = std::make_unique<TrackService>(*m_store, nullptr, m_client.get(), [this] { return m_now; },
                                                   TrackService::Options(), [](const QString &) {});
    }

    void outcomes_data()
    {
        QTest::addColumn<Scripted>("get");
        QTest::addColumn<Scripted>("search");
        QTest::addColumn<double>("duration");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("lyrics");
        QTest::addColumn<int>("searches");
        QTest::addColumn<QString>("remembered"); // cache kind stored: "track", "track-miss" or none

        const Scripted emptySearch{200, "[]", {}};
        const Scripted notFound;
        QTest::newRow("found") << Scripted{200, record("Night Song", "The Owls", 215, synced), {}} << emptySearch
                               << 215.0 << 200 << synced << 0 << "track";
        QTest::newRow("found only by search, within 2 s")
            << notFound
            << Scripted{200,
                        list({record("Other Tune", "The Owls", 215, otherSynced),
                              record("Night Song", "The Owls", 190, otherSynced),
                              record("Night Song (Live)", "The Owls", 216.5, QJsonValue::Null, "plain words"),
                              record("Night Song (Live)", "The Owls", 213.2, synced)}),
                        {}}
            << 215.0 << 200 << synced << 1 << "track";
        QTest::newRow("search without a duration takes the first synced")
            << notFound
            << Scripted{200, list({record("Night Song", "The Owls", 100, synced), record("Night Song", "The Owls", 215, otherSynced)}), {}}
            << 0.0 << 200 << synced << 1 << "track";
        QTest::newRow("plain lyrics only")
            << Scripted{200, record("Night Song", "The Owls", 215, QJsonValue::Null, "plain words"), {}}
            << Scripted{200, list({record("Night Song", "The Owls", 215, QJsonValue::Null, "plain words")}), {}}
            << 215.0 << 404 << QString() << 1 << "track-miss";
        QTest::newRow("instrumental")
            << Scripted{200, record("Night Song", "The Owls", 215, QJsonValue::Null, QJsonValue::Null, true), {}}
            << emptySearch << 215.0 << 404 << QString() << 1 << "track-miss";
        QTest::newRow("404") << notFound << emptySearch << 215.0 << 404 << QString() << 1 << "track-miss";
        QTest::newRow("500") << Scripted{500, "oops", {}} << emptySearch << 215.0 << 502 << QString() << 0 << "";
        QTest::newRow("429") << Scripted{429, "{\"message\":\"slow down\"}", {}} << emptySearch << 215.0 << 502
                             << QString() << 0 << "";
        QTest::newRow("search fails after get said 404") << notFound << Scripted{503, "", {}} << 215.0 << 502
                                                         << QString() << 1 << "";
        QTest::newRow("slow past the limit") << Scripted{200, "{}", "slow"} << emptySearch << 215.0 << 502
                                             << QString() << 0 << "";
        QTest::newRow("50 MB answer") << Scripted{200, "", "huge"} << emptySearch << 215.0 << 502 << QString() << 0
                                      << "";
        QTest::newRow("redirect to another host") << Scripted{302, "", "redirect"} << emptySearch << 215.0 << 502
                                                  << QString() << 0 << "";
        QTest::newRow("invalid JSON") << Scripted{200, "{\"syncedLyrics\": \"[00:01.00]x", {}} << emptySearch
                                      << 215.0 << 502 << QString() << 0 << "";
        QTest::newRow("invalid UTF-8") << Scripted{200, "{\"syncedLyrics\":\"[00:01.00]\xff\xfe words\"}", {}}
                                       << emptySearch << 215.0 << 502 << QString() << 0 << "";
    }

    // Each answer arrives within the lookup's budget, and only a definite answer of the
    // database is remembered: the next request for the song asks again only after a failure.
    void outcomes()
    {
        QFETCH(Scripted, get);
        QFETCH(Scripted, search);
        QFETCH(double, duration);
        QFETCH(int, status);
        QFETCH(QString, lyrics);
        QFETCH(int, searches);
        QFETCH(QString, remembered);
        script(get, search);

        QElapsedTimer timer;
        timer.start();
        const TrackService::Answer first = ask(" Night Song ", "The Owls", duration);
        QVERIFY2(timer.elapsed() < 8500, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(first.status, status);
        QCOMPARE(m_gets.load(), 1);
        QCOMPARE(m_searches.load(), searches);
        if (status == 200) {
            const QJsonObject body = QJsonDocument::fromJson(first.body).object();
            QCOMPARE(body.value("lyrics").toString(), lyrics);
            QCOMPARE(body.value("source").toString(), QStringLiteral("lrclib"));
            QCOMPARE(body.value("songKey").toString(), QStringLiteral("the owls|night song"));
            QCOMPARE(body.value("language").toString(), QStringLiteral("en"));
        }

        const QString key = QStringLiteral("the owls|night song");
        QCOMPARE(bool(m_store->cached("track", key, m_now + 365 * 86400)), remembered == "track");
        QCOMPARE(bool(m_store->cached("track-miss", key, m_now + 24 * 3600 - 1)), remembered == "track-miss");
        QVERIFY(!m_store->cached("track-miss", key, m_now + 24 * 3600));

        const TrackService::Answer second = ask("Night Song", "the owls", duration);
        QCOMPARE(second.status, status);
        QCOMPARE(m_gets.load(), remembered.isEmpty() ? 2 : 1);
        if (status == 200)
            QCOMPARE(QJsonDocument::fromJson(second.body).object().value("source").toString(), QStringLiteral("cache"));
    }

    void requestShape()
    {
        script(Scripted{200, record("Night Song", "The Owls", 215, synced), {}});
        QCOMPARE(ask("Night & Day?", "Ann / Bob", 214.6).status, 200);
        const auto sent = [this](const char *name) {
            std::lock_guard lock(m_scriptMutex);
            const auto found = m_lastGetParams.find(name);
            return found == m_lastGetParams.end() ? std::string("(none)") : found->second;
        };
        QCOMPARE(sent("track_name"), std::string("Night & Day?"));
        QCOMPARE(sent("artist_name"), std::string("Ann / Bob"));
        QCOMPARE(sent("duration"), std::string("215"));
        QVERIFY(QByteArray::fromStdString(m_lastUserAgent).startsWith("cantorella-server/" CANTORELLA_VERSION " (http"));

        QCOMPARE(ask("No Length", "Ann", 0).status, 200);
        QCOMPARE(sent("duration"), std::string("(none)"));
    }

    void notFoundIsForgottenAfterItsLifetime()
    {
        script(Scripted());
        QCOMPARE(ask("Night Song", "The Owls").status, 404);
        m_now += 24 * 3600 - 1;
        QCOMPARE(ask("Night Song", "The Owls").status, 404);
        QCOMPARE(m_gets.load(), 1);
        m_now += 1;
        script(Scripted{200, record("Night Song", "The Owls", 215, synced), {}});
        QCOMPARE(ask("Night Song", "The Owls").status, 200);
        QCOMPARE(m_gets.load(), 2);
    }

    void concurrentRequestsShareOneLookup()
    {
        script(Scripted{200, record("Night Song", "The Owls", 215, synced), {}});
        m_getDelayMs = 500;
        std::vector<std::future<TrackService::Answer>> answers;
        for (int i = 0; i < 50; ++i)
            answers.push_back(std::async(std::launch::async, [this] { return ask("Night Song", "The Owls", 215); }));
        for (auto &answer : answers)
            QCOMPARE(answer.get().status, 200);
        QCOMPARE(m_gets.load(), 1);
    }

    void validation_data()
    {
        QTest::addColumn<QJsonValue>("title");
        QTest::addColumn<QJsonValue>("artist");
        QTest::addColumn<int>("status");

        const QString a256(256, 'a');
        QTest::newRow("blank title") << QJsonValue(" \n") << QJsonValue("A") << 400;
        QTest::newRow("blank artist") << QJsonValue("T") << QJsonValue("\u3000") << 400;
        QTest::newRow("missing title") << QJsonValue(QJsonValue::Undefined) << QJsonValue("A") << 400;
        QTest::newRow("title a number") << QJsonValue(5) << QJsonValue("A") << 400;
        QTest::newRow("256 characters") << QJsonValue(a256) << QJsonValue(a256) << 404;
        QTest::newRow("257 characters") << QJsonValue(a256 + "a") << QJsonValue("A") << 400;
        QTest::newRow("256 before trimming counts") << QJsonValue(" " + a256) << QJsonValue("A") << 400;
        QTest::newRow("artist of 257") << QJsonValue("T") << QJsonValue(a256 + "a") << 400;
    }

    void validation()
    {
        QFETCH(QJsonValue, title);
        QFETCH(QJsonValue, artist);
        QFETCH(int, status);
        script(Scripted());
        QJsonObject body{{"artist", artist}};
        if (!title.isUndefined())
            body.insert("title", title);
        QCOMPARE(m_service->answer(JsonReader(body)).status, status);
        QCOMPARE(m_gets.load(), status == 400 ? 0 : 1);
    }

    void cleanupTestCase() { m_fake.stop(); }
};

QTEST_GUILESS_MAIN(TestOnlineLyrics)
#include "tst_onlinelyrics.moc"
