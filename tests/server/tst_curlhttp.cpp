#include "LoopbackHttp.h"

#include "server/outbound/CurlHttp.h"

#include <QElapsedTimer>
#include <QtTest>

#include <future>
#include <vector>

using server::CurlHttp;
using server::OutboundRequest;
using server::OutboundResponse;
using Failure = OutboundResponse::Failure;

Q_DECLARE_METATYPE(OutboundResponse::Failure)

namespace {
constexpr std::size_t kFiftyMegabytes = 50u * 1024 * 1024;

void serveFiftyMegabytes(httplib::DataSink &sink, const LoopbackHttp &fake)
{
    const std::string chunk(64 * 1024, 'x');
    for (std::size_t sent = 0; sent < kFiftyMegabytes && !fake.stopping(); sent += chunk.size()) {
        if (!sink.write(chunk.data(), chunk.size()))
            return;
    }
    sink.done();
}
} // namespace

class TestCurlHttp : public QObject
{
    Q_OBJECT

private:
    LoopbackHttp m_fake;
    std::string m_closedPortUrl;

private slots:
    void initTestCase()
    {
        auto &s = m_fake.server;
        s.Get("/ok", [](const httplib::Request &, httplib::Response &res) {
            res.set_content("hello", "text/plain");
        });
        s.Get("/missing", [](const httplib::Request &, httplib::Response &res) {
            res.status = 404;
            res.set_content(R"({"message":"not found"})", "application/json");
        });
        s.Get("/broken", [](const httplib::Request &, httplib::Response &res) {
            res.status = 500;
            res.set_content("oops", "text/plain");
        });
        s.Get("/slow", [this](const httplib::Request &, httplib::Response &res) {
            m_fake.pause(5000);
            res.set_content("late", "text/plain");
        });
        s.Get("/huge-announced", [this](const httplib::Request &, httplib::Response &res) {
            res.set_content_provider(kFiftyMegabytes, "text/plain",
                                     [this](size_t, size_t, httplib::DataSink &sink) {
                                         serveFiftyMegabytes(sink, m_fake);
                                         return true;
                                     });
        });
        s.Get("/huge-chunked", [this](const httplib::Request &, httplib::Response &res) {
            res.set_chunked_content_provider("text/plain", [this](size_t, httplib::DataSink &sink) {
                serveFiftyMegabytes(sink, m_fake);
                return true;
            });
        });
        s.Get("/moved", [](const httplib::Request &, httplib::Response &res) {
            res.set_redirect("http://elsewhere.invalid/ok");
        });
        s.Post("/echo", [](const httplib::Request &req, httplib::Response &res) {
            res.set_content(req.get_header_value("X-Probe") + ":" + req.body, "text/plain");
        });
        m_fake.start();

        LoopbackHttp closed;
        closed.start();
        m_closedPortUrl = closed.url("/ok");
    }

    void outcomes_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<Failure>("failure");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");

        QTest::newRow("200") << "/ok" << Failure::None << 200 << QByteArray("hello");
        QTest::newRow("404 keeps its body") << "/missing" << Failure::None << 404
                                            << QByteArray(R"({"message":"not found"})");
        QTest::newRow("500") << "/broken" << Failure::None << 500 << QByteArray("oops");
        QTest::newRow("slow past the limit") << "/slow" << Failure::Timeout << 0 << QByteArray();
        QTest::newRow("50 MB with a length") << "/huge-announced" << Failure::TooLarge << 200 << QByteArray();
        QTest::newRow("50 MB chunked") << "/huge-chunked" << Failure::TooLarge << 200 << QByteArray();
        QTest::newRow("redirect not followed") << "/moved" << Failure::Redirect << 302 << QByteArray();
        QTest::newRow("connection refused") << "refused" << Failure::Network << 0 << QByteArray();
    }

    void outcomes()
    {
        QFETCH(QString, path);
        QFETCH(Failure, failure);
        QFETCH(int, status);
        QFETCH(QByteArray, body);

        OutboundRequest request;
        request.url = path == "refused" ? m_closedPortUrl : m_fake.url(path.toStdString());
        request.totalTimeoutMs = 600;
        request.maxResponseBytes = 1024 * 1024;

        QElapsedTimer timer;
        timer.start();
        const OutboundResponse response = CurlHttp().send(request);

        QCOMPARE(response.failure, failure);
        QCOMPARE(response.status, long(status));
        QCOMPARE(QByteArray::fromStdString(response.body), body);
        QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));
        if (failure != Failure::None)
            QVERIFY(!response.error.empty());
    }

    void postsBodyAndHeaders()
    {
        OutboundRequest request;
        request.method = "POST";
        request.url = m_fake.url("/echo");
        request.headers = {{"X-Probe", "p1"}, {"Content-Type", "application/json"}};
        request.body = R"({"a":1})";
        const OutboundResponse response = CurlHttp().send(request);
        QCOMPARE(response.failure, Failure::None);
        QCOMPARE(response.body, std::string(R"(p1:{"a":1})"));
    }

    void manyThreadsAtOnce()
    {
        CurlHttp http;
        std::vector<std::future<OutboundResponse>> calls;
        for (int i = 0; i < 32; ++i) {
            calls.push_back(std::async(std::launch::async, [&http, this] {
                OutboundRequest request;
                request.url = m_fake.url("/ok");
                // 32 connections at once overflow the fake's listen queue and thread pool: the
                // last wait their turn (a dropped connect is tried again a second or more later),
                // longer still on a busy machine. This is about the calls, not the fake's speed.
                request.connectTimeoutMs = 60000;
                request.totalTimeoutMs = 60000;
                return http.send(request);
            }));
        }
        for (auto &call : calls) {
            const OutboundResponse response = call.get();
            QCOMPARE(response.failure, Failure::None);
            QCOMPARE(response.body, std::string("hello"));
        }
    }

    void cleanupTestCase() { m_fake.stop(); }
};

QTEST_GUILESS_MAIN(TestCurlHttp)
#include "tst_curlhttp.moc"
