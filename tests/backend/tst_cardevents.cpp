#include "backend/CardEvent.h"
#include "backend/CardEventParser.h"
#include "backend/RemoteCardsError.h"
#include "platform/Async.h"

#include <QtTest>

#include <stdexcept>

Q_DECLARE_METATYPE(SSEEvent)

namespace {

const QString kCard = QStringLiteral(R"({"en":"hold on","cn":"坚持住","note":"n","example":"e","tag":"phrase"})");
const GoldenCard kGolden{QStringLiteral("hold on"), QStringLiteral("坚持住"), QStringLiteral("n"),
                         QStringLiteral("e"), QStringLiteral("phrase"), {}, {}, {}, {}};

QString describeEvent(const SSEEvent &event)
{
    if (auto *delta = event.as<SSEEvent::Delta>())
        return QStringLiteral("delta(%1)").arg(delta->text);
    if (auto *cached = event.as<SSEEvent::Cached>())
        return QStringLiteral("cached(%1 cards, %2)").arg(cached->cards.size()).arg(cached->songKey);
    if (auto *done = event.as<SSEEvent::Done>())
        return QStringLiteral("done(%1 cards, %2, %3)")
            .arg(done->cards.size())
            .arg(done->songKey, done->warning.value_or(QStringLiteral("no warning")));
    const auto *error = event.as<SSEEvent::Error>();
    return QStringLiteral("error(%1, %2)").arg(rawValue(error->category), error->message);
}

// Lines and failures handed to the parser as the test releases them.
class ScriptedLines : public SSELineSource
{
public:
    using Item = std::variant<QString, std::exception_ptr>;

    void push(const QString &line) { m_items.send(line); }
    void fail(std::exception_ptr error) { m_items.send(std::move(error)); }
    void end() { m_items.finish(); }

    int reads = 0;
    bool sawCancellation = false;

    QCoro::Task<std::optional<QString>> nextLine(CancellationToken token) override
    {
        ++reads;
        return read(m_items, token, this);
    }

private:
    static QCoro::Task<std::optional<QString>> read(Channel<Item> items, CancellationToken token, ScriptedLines *self)
    {
        std::optional<Item> item;
        try {
            item = co_await items.receive(token);
        } catch (const CancelledError &) {
            self->sawCancellation = true;
            throw;
        }
        if (!item)
            co_return std::nullopt;
        if (auto *error = std::get_if<std::exception_ptr>(&*item))
            std::rethrow_exception(*error);
        co_return std::get<QString>(*item);
    }

    Channel<Item> m_items;
};

struct Collected
{
    QList<SSEEvent> events;
    std::exception_ptr failure;
    bool ended = false; // finished without error
};

QCoro::Task<void> collect(SSEEventStream *stream, std::shared_ptr<Collected> out)
{
    try {
        while (std::optional<SSEEvent> event = co_await stream->next())
            out->events.append(*event);
        out->ended = true;
    } catch (...) {
        out->failure = std::current_exception();
    }
}

} // namespace

namespace QTest {
template<>
char *toString(const SSEEvent &event)
{
    return qstrdup(describeEvent(event).toUtf8().constData());
}
} // namespace QTest

class TestCardEvents : public QObject
{
    Q_OBJECT

private slots:
    void reader_data();
    void reader();
    void streamFinishesAtDone();
    void streamFailsWhenLinesRunOut();
    void streamMapsTransferFailure_data();
    void streamMapsTransferFailure();
    void droppingStreamStopsReading();
};

void TestCardEvents::reader_data()
{
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QList<SSEEvent>>("events");
    QTest::addColumn<bool>("finished");

    QTest::newRow("empty done")
        << QStringList{"event: done", "data: {}", ""} << QList<SSEEvent>{SSEEvent::done({}, QString())} << true;
    QTest::newRow("done with cards and warning")
        << QStringList{"event:done", "data:{\"cards\":[" + kCard + "],\"songKey\":\"a|t\",\"warning\":\"w\"}", ""}
        << QList<SSEEvent>{SSEEvent::done({kGolden}, QStringLiteral("a|t"), QStringLiteral("w"))} << true;
    QTest::newRow("done without song key is dropped")
        << QStringList{"event: done", "data: {\"cards\":[]}", ""} << QList<SSEEvent>() << false;
    QTest::newRow("delta, then a delta that is not a string")
        << QStringList{"event: delta", R"(data: "Hel\u006co \"x\"")", "", "event: delta", "data: 42", "",
                       "event: delta", "data: \"!\"", ""}
        << QList<SSEEvent>{SSEEvent::delta(QStringLiteral("Hello \"x\"")), SSEEvent::delta(QStringLiteral("!"))}
        << false;
    QTest::newRow("delta must be one string")
        << QStringList{"event: delta", R"(data: "a"] ["b")", "", "event: delta", R"(data: "a", "b")", ""}
        << QList<SSEEvent>() << false;
    QTest::newRow("cached, split over two data lines")
        << QStringList{"event: cached", "data: {\"cards\": [" + kCard + "],", "data: \"songKey\": \"k\"}", ""}
        << QList<SSEEvent>{SSEEvent::cached({kGolden}, QStringLiteral("k"))} << false;
    QTest::newRow("cached with a bad card is dropped")
        << QStringList{"event: cached", R"(data: {"cards":[{"en":"x"}],"songKey":"k"})", ""} << QList<SSEEvent>()
        << false;
    QTest::newRow("carriage returns")
        << QStringList{"event: done\r", "data: {}\r", "\r"} << QList<SSEEvent>{SSEEvent::done({}, QString())} << true;
    QTest::newRow("[DONE] with nothing emitted") << QStringList{"data: [DONE]"} << QList<SSEEvent>() << true;
    QTest::newRow("[DONE] drops the pending event")
        << QStringList{"event: delta", "data: \"a\"", "data:  [DONE] "} << QList<SSEEvent>() << true;
    QTest::newRow("error with category")
        << QStringList{"event: error", R"(data: {"error":"slow down","category":"rate_limit"})", ""}
        << QList<SSEEvent>{SSEEvent::error(SSEEvent::ErrorCategory::rateLimit, QStringLiteral("slow down"))} << true;
    QTest::newRow("error with unknown category")
        << QStringList{"event: error", R"(data: {"error":"m","category":"Timeout"})", ""}
        << QList<SSEEvent>{SSEEvent::error(SSEEvent::ErrorCategory::unknown, QStringLiteral("m"))} << true;
    QTest::newRow("error that is not JSON keeps the joined data")
        << QStringList{"event: error", "data: upstream", "data: went away", ""}
        << QList<SSEEvent>{SSEEvent::error(SSEEvent::ErrorCategory::unknown, QStringLiteral("upstream\nwent away"))}
        << true;
    QTest::newRow("blank lines, comments and other fields")
        << QStringList{"", "", ": keep-alive", "id: 7", "retry: 100", "Event: done", "DATA: {}", ""} << QList<SSEEvent>()
        << false;
    QTest::newRow("data without event name is dropped")
        << QStringList{"data: \"a\"", "", "event: delta", "data: \"b\"", ""}
        << QList<SSEEvent>{SSEEvent::delta(QStringLiteral("b"))} << false;
    QTest::newRow("later event name wins, unknown names give nothing")
        << QStringList{"event: delta", "event: progress", "data: \"a\"", "", "event: delta", "data: \"b\"", ""}
        << QList<SSEEvent>{SSEEvent::delta(QStringLiteral("b"))} << false;
    QTest::newRow("nothing after the last event")
        << QStringList{"event: done", "data: {}", "", "event: delta", "data: \"late\"", ""}
        << QList<SSEEvent>{SSEEvent::done({}, QString())} << true;
}

void TestCardEvents::reader()
{
    QFETCH(QStringList, lines);
    QFETCH(QList<SSEEvent>, events);
    QFETCH(bool, finished);

    SSELineReader reader;
    QList<SSEEvent> decoded;
    for (const QString &line : lines) {
        const SSELineReader::Step step = reader.feed(line);
        if (step.event)
            decoded.append(*step.event);
        QCOMPARE(step.finished, reader.isFinished());
    }
    QCOMPARE(decoded, events);
    QCOMPARE(reader.isFinished(), finished);
}

void TestCardEvents::streamFinishesAtDone()
{
    auto lines = std::make_shared<ScriptedLines>();
    SSEEventStream stream = SSEParser::events(lines);
    auto out = std::make_shared<Collected>();
    collect(&stream, out);

    lines->push(QStringLiteral("event: delta"));
    lines->push(QStringLiteral("data: \"x\""));
    lines->push(QString());
    QTRY_COMPARE(out->events.size(), 1);
    for (const char *line : {"event: done", "data: {}", "", "event: delta", "data: \"late\"", ""})
        lines->push(QString::fromUtf8(line));
    QTRY_VERIFY(out->ended);
    QVERIFY(!out->failure);
    QVERIFY(out->events == (QList<SSEEvent>{SSEEvent::delta(QStringLiteral("x")), SSEEvent::done({}, QString())}));
    QCOMPARE(lines->reads, 6); // nothing is read past the last event
}

void TestCardEvents::streamFailsWhenLinesRunOut()
{
    auto lines = std::make_shared<ScriptedLines>();
    for (const char *line : {"event: delta", "data: \"a\"", "", "event: delta", "data: \"b\""})
        lines->push(QString::fromUtf8(line));
    lines->end();
    SSEEventStream stream = SSEParser::events(lines);
    auto out = std::make_shared<Collected>();
    collect(&stream, out);

    QTRY_VERIFY(out->failure);
    QVERIFY(!out->ended);
    QVERIFY(out->events == QList<SSEEvent>{SSEEvent::delta(QStringLiteral("a"))});
    try {
        std::rethrow_exception(out->failure);
    } catch (const RemoteCardsError &error) {
        QCOMPARE(error, RemoteCardsError::transport(QNetworkReply::RemoteHostClosedError));
    }
}

void TestCardEvents::streamMapsTransferFailure_data()
{
    QTest::addColumn<bool>("transfer");
    QTest::newRow("transfer error becomes transport") << true;
    QTest::newRow("other failure passes through") << false;
}

void TestCardEvents::streamMapsTransferFailure()
{
    QFETCH(bool, transfer);
    auto lines = std::make_shared<ScriptedLines>();
    SSEEventStream stream = SSEParser::events(lines);
    auto out = std::make_shared<Collected>();
    collect(&stream, out);

    for (const char *line : {"event: delta", "data: \"a\"", ""})
        lines->push(QString::fromUtf8(line));
    if (transfer)
        lines->fail(std::make_exception_ptr(SSELineError(QNetworkReply::TimeoutError)));
    else
        lines->fail(std::make_exception_ptr(std::runtime_error("disk on fire")));

    QTRY_VERIFY(out->failure);
    QVERIFY(out->events == QList<SSEEvent>{SSEEvent::delta(QStringLiteral("a"))});
    try {
        std::rethrow_exception(out->failure);
    } catch (const RemoteCardsError &error) {
        QVERIFY(transfer);
        QCOMPARE(error, RemoteCardsError::transport(QNetworkReply::TimeoutError));
    } catch (const std::runtime_error &error) {
        QVERIFY(!transfer);
        QCOMPARE(QByteArray(error.what()), QByteArray("disk on fire"));
    }
    // A failed stream stays finished.
    auto after = std::make_shared<Collected>();
    collect(&stream, after);
    QTRY_VERIFY(after->ended);
}

void TestCardEvents::droppingStreamStopsReading()
{
    auto lines = std::make_shared<ScriptedLines>();
    {
        SSEEventStream stream = SSEParser::events(lines);
        lines->push(QStringLiteral(": hello"));
        QTRY_COMPARE(lines->reads, 2); // waiting for the second line
    }
    QTRY_VERIFY(lines->sawCancellation);
    lines->push(QStringLiteral("event: done"));
    QCoreApplication::processEvents();
    QCOMPARE(lines->reads, 2);
}

QTEST_GUILESS_MAIN(TestCardEvents)
#include "tst_cardevents.moc"
