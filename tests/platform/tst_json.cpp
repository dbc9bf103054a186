#include "platform/JsonNumberText.h"
#include "platform/StrictJson.h"

#include <QtTest>


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

    // A double holds every integer up to 2^53 exactly; past it the text may already have been
    // rounded, so the value is refused rather than silently changed.
    void integersAreExact()
    {
        const JsonReader reader(StrictJson::parseObject(
            R"({"n":-2,"max":9007199254740992,"min":-9007199254740992,"fraction":3.5,"huge":1e300,"text":"3",)"
            R"("past":9007199254740994,"pastNegative":-9007199254740994})"));
        QCOMPARE(reader.requireInteger(u"n"), -2);
        QCOMPARE(reader.requireInteger(u"max"), Q_INT64_C(9007199254740992));
        QCOMPARE(reader.optionalInteger(u"min"), std::optional<qint64>(Q_INT64_C(-9007199254740992)));
        for (const char16_t *key : {u"fraction", u"huge", u"text", u"past", u"pastNegative"})
            QVERIFY_THROWS_EXCEPTION(JsonError, reader.optionalInteger(key));
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

    // Number texts as the readers of untrusted documents convert them: "int:", "float:" or "refused".
    void numberText_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("integer") << QByteArray("-42") << "int:-42";
        QTest::newRow("largest int64") << QByteArray("9223372036854775807") << "int:9223372036854775807";
        QTest::newRow("2^63 is a float") << QByteArray("9223372036854775808") << "float:9223372036854776000";
        QTest::newRow("fraction") << QByteArray("0.1") << "float:0.1";
        QTest::newRow("shortest round trip at the low end")
            << QByteArray("-2.2250738585072014e-308") << "float:-2.2250738585072014e-308";
        QTest::newRow("40 characters") << "1." + QByteArray(37, '0') + "1" << "float:1";
        QTest::newRow("41 characters") << "1." + QByteArray(38, '0') + "1" << "refused";
        QTest::newRow("overflow") << QByteArray("1e309") << "refused";
        QTest::newRow("found by fuzzing") << QByteArray("1.235780139914780167801801614800000000000000071e-370")
                                          << "refused";
        QTest::newRow("40 nines e308") << QByteArray(40, '9') + "e308" << "refused";
    }

    void numberText()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, expected);
        const auto number = JsonNumberText::read(std::string_view(text.constData(), size_t(text.size())));
        const QString got = !number          ? QStringLiteral("refused")
            : number->integer ? QStringLiteral("int:%1").arg(*number->integer)
                              : QStringLiteral("float:") + QString::number(number->value, 'g', QLocale::FloatingPointShortest);
        QCOMPARE(got, expected);
    }
};

QTEST_GUILESS_MAIN(TstJson)
#include "tst_json.moc"
