#include "platform/StrictJson.h"

#include <QtTest>

#include <cmath>
#include <limits>

namespace {

// The object {"k": <value>} or {} when value is empty.
QJsonObject objectWith(const QByteArray &value)
{
    if (value.isEmpty())
        return QJsonObject();
    return StrictJson::parseObject("{\"k\":" + value + "}");
}

// "ok:<value>", "none" or "error".
template<class F>
QString outcome(F read)
{
    try {
        const auto value = read();
        if constexpr (std::is_same_v<std::decay_t<decltype(value)>, QString>)
            return QStringLiteral("ok:") + value;
        else
            return value ? QStringLiteral("ok:") + *value : QStringLiteral("none");
    } catch (const JsonError &) {
        return QStringLiteral("error");
    }
}

std::optional<QString> colourFromRaw(const QString &raw)
{
    if (raw == QLatin1String("red") || raw == QLatin1String("blue"))
        return raw;
    return std::nullopt;
}

} // namespace

class TstJson : public QObject
{
    Q_OBJECT

private slots:
    // Each row: the value under "k" (empty = key missing) and what the three readers make of it.
    void stringRules_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QString>("required");
        QTest::addColumn<QString>("optional");
        QTest::addColumn<QString>("lenient");

        QTest::newRow("missing") << QByteArray() << "error" << "none" << "none";
        QTest::newRow("null") << QByteArray("null") << "error" << "none" << "none";
        QTest::newRow("string") << QByteArray("\"x\"") << "ok:x" << "ok:x" << "ok:x";
        QTest::newRow("empty string") << QByteArray("\"\"") << "ok:" << "ok:" << "ok:";
        QTest::newRow("number") << QByteArray("1") << "error" << "error" << "none";
        QTest::newRow("bool") << QByteArray("true") << "error" << "error" << "none";
        QTest::newRow("object") << QByteArray("{}") << "error" << "error" << "none";
        QTest::newRow("array") << QByteArray("[\"x\"]") << "error" << "error" << "none";
    }

    void stringRules()
    {
        QFETCH(QByteArray, value);
        QFETCH(QString, required);
        QFETCH(QString, optional);
        QFETCH(QString, lenient);
        const JsonReader reader(objectWith(value));
        QCOMPARE(outcome([&] { return reader.requireString(u"k"); }), required);
        QCOMPARE(outcome([&] { return reader.optionalString(u"k"); }), optional);
        QCOMPARE(outcome([&] { return reader.lenientString(u"k"); }), lenient);
    }

    void numberRules_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QString>("number");
        QTest::addColumn<QString>("integer");
        QTest::addColumn<QString>("optionalInteger");

        QTest::newRow("missing") << QByteArray() << "error" << "error" << "none";
        QTest::newRow("null") << QByteArray("null") << "error" << "error" << "none";
        QTest::newRow("integer") << QByteArray("3") << "ok:3" << "ok:3" << "ok:3";
        QTest::newRow("fraction") << QByteArray("3.5") << "ok:3.5" << "error" << "error";
        QTest::newRow("negative") << QByteArray("-2") << "ok:-2" << "ok:-2" << "ok:-2";
        QTest::newRow("beyond 2^53") << QByteArray("1e300") << "ok:1e+300" << "error" << "error";
        QTest::newRow("numeric string") << QByteArray("\"3\"") << "error" << "error" << "error";
        QTest::newRow("bool") << QByteArray("false") << "error" << "error" << "error";
    }

    void numberRules()
    {
        QFETCH(QByteArray, value);
        QFETCH(QString, number);
        QFETCH(QString, integer);
        QFETCH(QString, optionalInteger);
        const JsonReader reader(objectWith(value));
        QCOMPARE(outcome([&] { return QString::number(reader.requireNumber(u"k")); }), number);
        QCOMPARE(outcome([&] { return QString::number(reader.requireInteger(u"k")); }), integer);
        QCOMPARE(outcome([&] {
                     const auto v = reader.optionalInteger(u"k");
                     return v ? std::optional<QString>(QString::number(*v)) : std::nullopt;
                 }),
                 optionalInteger);
    }

    void enumRules_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QString>("required");
        QTest::addColumn<QString>("optional");
        QTest::addColumn<QString>("lenient");

        QTest::newRow("missing") << QByteArray() << "error" << "none" << "none";
        QTest::newRow("known") << QByteArray("\"red\"") << "ok:red" << "ok:red" << "ok:red";
        QTest::newRow("other case") << QByteArray("\"Red\"") << "error" << "error" << "none";
        QTest::newRow("unknown") << QByteArray("\"green\"") << "error" << "error" << "none";
        QTest::newRow("number") << QByteArray("2") << "error" << "error" << "none";
    }

    void enumRules()
    {
        QFETCH(QByteArray, value);
        QFETCH(QString, required);
        QFETCH(QString, optional);
        QFETCH(QString, lenient);
        const JsonReader reader(objectWith(value));
        QCOMPARE(outcome([&] { return reader.requireEnum(u"k", colourFromRaw); }), required);
        QCOMPARE(outcome([&] { return reader.optionalEnum(u"k", colourFromRaw); }), optional);
        QCOMPARE(outcome([&] { return reader.lenientEnum(u"k", colourFromRaw); }), lenient);
    }

    void unknownKeysAreIgnored()
    {
        const JsonReader reader(StrictJson::parseObject(R"({"k":"v","extra":[1,2,{"x":null}]})"));
        QCOMPARE(reader.requireString(u"k"), QStringLiteral("v"));
    }

    void errorsNameTheKeyPath()
    {
        const JsonReader root(StrictJson::parseObject(R"({"outer":{"inner":{"name":7}}})"), QStringLiteral("answer"));
        try {
            root.requireReader(u"outer").requireReader(u"inner").requireString(u"name");
            QFAIL("expected a JsonError");
        } catch (const JsonError &error) {
            QVERIFY2(error.message().startsWith(QLatin1String("answer.outer.inner.name:")), qPrintable(error.message()));
            QCOMPARE(QString::fromUtf8(error.what()), error.message());
        }
    }

    void arrayFailsOnItsFirstBadElement()
    {
        const QJsonArray array = StrictJson::parseArray(R"([{"n":"a"},{"n":2},{"n":"c"}])");
        const auto decode = [](const QJsonObject &o) { return JsonReader(o).requireString(u"n"); };
        try {
            StrictJson::decodeObjectArray(array, QStringLiteral("items"), decode);
            QFAIL("expected a JsonError");
        } catch (const JsonError &error) {
            QVERIFY2(error.message().startsWith(QLatin1String("items[1]: n:")), qPrintable(error.message()));
        }
        const QJsonArray notObjects = StrictJson::parseArray(R"([{"n":"a"},"b"])");
        QVERIFY_THROWS_EXCEPTION(JsonError, StrictJson::decodeObjectArray(notObjects, QStringLiteral("items"), decode));
        const QJsonArray good = StrictJson::parseArray(R"([{"n":"a"},{"n":"b"}])");
        QCOMPARE(StrictJson::decodeObjectArray(good, QStringLiteral("items"), decode),
                 (QList<QString>{QStringLiteral("a"), QStringLiteral("b")}));
    }

    void parseRejectsBadText_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("truncated") << QByteArray("{\"a\":");
        QTest::newRow("trailing comma") << QByteArray("{\"a\":1,}");
        QTest::newRow("number out of range") << QByteArray("{\"a\":1e400}");
        QTest::newRow("NUL inside") << QByteArray("{\"a\":\0}", 7);
        QTest::newRow("garbage after the value") << QByteArray("{\"a\":\"\xff\xfe\"}x");
        QTest::newRow("array where object expected") << QByteArray("[]");
        QTest::newRow("too deep") << QByteArray(200000, '[') + QByteArray(200000, ']');
        QTest::newRow("too deep objects") << QByteArray("{\"a\":").repeated(3000) + "1" + QByteArray(3000, '}');
    }

    void parseRejectsBadText()
    {
        QFETCH(QByteArray, text);
        QVERIFY_THROWS_EXCEPTION(JsonError, StrictJson::parseObject(text));
    }

    void nestingWithinTheLimitParses()
    {
        const int depth = 1000;
        QByteArray text = "{\"k\":" + QByteArray(depth, '[') + QByteArray(depth, ']') + "}";
        const JsonReader reader(StrictJson::parseObject(text));
        QCOMPARE(reader.requireArray(u"k").size(), 1);
    }

    void writingLeavesAbsentValuesOut()
    {
        QJsonObject object;
        StrictJson::insertOptional(object, QStringLiteral("s"), std::optional<QString>());
        StrictJson::insertOptional(object, QStringLiteral("d"), std::optional<double>());
        StrictJson::insertOptional(object, QStringLiteral("nan"), std::optional<double>(std::nan("")));
        StrictJson::insertOptional(object, QStringLiteral("inf"),
                                   std::optional<double>(std::numeric_limits<double>::infinity()));
        StrictJson::insertOptional(object, QStringLiteral("b"), std::optional<bool>(false));
        StrictJson::insertOptional(object, QStringLiteral("i"), std::optional<qint64>(0));
        QCOMPARE(object, StrictJson::parseObject(R"({"b":false,"i":0})"));
        QVERIFY(!StrictJson::serialize(object).contains("null"));
        QVERIFY_THROWS_EXCEPTION(JsonError, StrictJson::insertNumber(object, QStringLiteral("x"),
                                                                      std::numeric_limits<double>::infinity()));
    }
};

QTEST_GUILESS_MAIN(TstJson)
#include "tst_json.moc"
