#include "platform/JsonWriter.h"

#include "JsonKeyOrder.h"

#include <QBuffer>
#include <QtTest>

#include <functional>

namespace {

using Write = std::function<void(JsonWriter &)>;

QByteArray written(const Write &write, JsonWriter::Options options = {})
{
    JsonWriter writer(options);
    write(writer);
    writer.finish();
    return writer.bytes();
}

QByteArray stringText(const QString &text, bool escapeSlash)
{
    JsonWriter::Options options;
    options.escapeSlash = escapeSlash;
    return written([&](JsonWriter &w) { w.value(text); }, options);
}

// An array of `count` small objects.
Write items(int count)
{
    return [count](JsonWriter &w) {
        w.beginArray();
        for (int i = 0; i < count; ++i)
            w.beginObject().member("i", i).member("text", QStringLiteral("第%1行").arg(i)).endObject();
        w.endArray();
    };
}

// Takes bytes until `capacity` is used up, then only what still fits (nothing once full), as a
// file does on a full disk; a negative capacity refuses every write with an error.
class ShortDevice final : public QIODevice
{
public:
    explicit ShortDevice(qint64 capacity) : m_capacity(capacity) { open(QIODevice::WriteOnly); }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *, qint64 size) override
    {
        if (m_capacity < 0)
            return -1;
        const qint64 taken = std::min(size, m_capacity - m_used);
        m_used += taken;
        return taken;
    }

private:
    qint64 m_capacity;
    qint64 m_used = 0;
};

} // namespace

class TstJsonWriter : public QObject
{
    Q_OBJECT

private slots:
    void strings_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("escapeSlash");
        QTest::addColumn<QByteArray>("expected");
        // What reads back differently from what was written is noted by the last column.
        QTest::addColumn<QString>("readBack");

        QTest::newRow("plain") << "abc" << false << QByteArray(R"("abc")") << "abc";
        QTest::newRow("quote and backslash") << "a\"b\\c" << false << QByteArray("\"a\\\"b\\\\c\"") << "a\"b\\c";
        QTest::newRow("short escapes") << "\b\f\n\r\t" << false << QByteArray(R"("\b\f\n\r\t")") << "\b\f\n\r\t";
        const QString controls = QStringView(u"\u0000\u0001\u001f", 3).toString();
        QTest::newRow("other controls") << controls << false << QByteArray(R"("\u0000\u0001\u001f")") << controls;
        QTest::newRow("DEL stays raw") << "\x7f" << false << QByteArray("\"\x7f\"") << "\x7f";
        QTest::newRow("slash raw") << "AC/DC" << false << QByteArray(R"("AC/DC")") << "AC/DC";
        QTest::newRow("slash escaped") << "AC/DC" << true << QByteArray(R"("AC\/DC")") << "AC/DC";
        QTest::newRow("Chinese raw UTF-8") << "你好" << false << QByteArray("\"\xe4\xbd\xa0\xe5\xa5\xbd\"") << "你好";
        QTest::newRow("two-byte") << "é" << false << QByteArray("\"\xc3\xa9\"") << "é";
        QTest::newRow("astral pair") << QString::fromUtf16(u"\U0001F3B5") << false << QByteArray("\"\xf0\x9f\x8e\xb5\"")
                                     << QString::fromUtf16(u"\U0001F3B5");
        QTest::newRow("line separator raw") << QString::fromUtf16(u"\u2028") << false << QByteArray("\"\xe2\x80\xa8\"")
                                            << QString::fromUtf16(u"\u2028");
        const QString loneHigh = QString(QChar(0xD83C)) + QLatin1Char('x');
        QTest::newRow("lone high surrogate") << loneHigh << false << QByteArray("\"\xef\xbf\xbdx\"")
                                             << QString::fromUtf16(u"\uFFFDx");
        const QString loneLow = QString(QChar(0xDF75));
        QTest::newRow("lone low surrogate") << loneLow << false << QByteArray("\"\xef\xbf\xbd\"")
                                            << QString::fromUtf16(u"\uFFFD");
        const QString highAtEnd = QStringLiteral("a") + QChar(0xD83C);
        QTest::newRow("high surrogate at the end") << highAtEnd << false << QByteArray("\"a\xef\xbf\xbd\"")
                                                   << QString::fromUtf16(u"a\uFFFD");
    }

    void strings()
    {
        QFETCH(QString, text);
        QFETCH(bool, escapeSlash);
        QFETCH(QByteArray, expected);
        QFETCH(QString, readBack);
        const QByteArray bytes = stringText(text, escapeSlash);
        QCOMPARE(bytes, expected);
        QVERIFY(JsonKeyOrder::isValid(bytes));
        QCOMPARE(StrictJson::parse("[" + bytes + "]").array().at(0).toString(), readBack);
    }

    // Latin-1 and UTF-8 views take their own paths; they must agree with the UTF-16 one.
    void stringEncodingsAgree()
    {
        const QString text = QStringLiteral("a/\"\n é 你");
        const QByteArray expected = stringText(text, true);
        JsonWriter::Options options;
        options.escapeSlash = true;
        const QByteArray utf8 = text.toUtf8();
        QCOMPARE(written([&](JsonWriter &w) { w.value(utf8.constData()); }, options), expected);
        const QByteArray latin1Text = QByteArray("a/\"\n \xe9 ");
        QCOMPARE(written([&](JsonWriter &w) { w.value(QLatin1StringView(latin1Text)); }, options),
                 stringText(QString::fromLatin1(latin1Text), true));
        QCOMPARE(written([](JsonWriter &w) { w.beginObject().member("k\n", QStringLiteral("v")).endObject(); }),
                 QByteArray(R"({"k\n":"v"})"));
    }

    void numbers_data()
    {
        QTest::addColumn<double>("number");
        QTest::addColumn<QByteArray>("expected");

        QTest::newRow("zero") << 0.0 << QByteArray("0");
        QTest::newRow("negative zero") << -0.0 << QByteArray("-0");
        QTest::newRow("whole") << 3.0 << QByteArray("3");
        QTest::newRow("negative whole") << -42.0 << QByteArray("-42");
        QTest::newRow("fraction") << 215.5 << QByteArray("215.5");
        QTest::newRow("tenth") << 0.1 << QByteArray("0.1");
        QTest::newRow("shortest round trip") << 0.1 + 0.2 << QByteArray("0.30000000000000004");
        QTest::newRow("small") << 1e-7 << QByteArray("1e-07");
        QTest::newRow("2^53") << 9007199254740992.0 << QByteArray("9007199254740992");
        QTest::newRow("large") << 1e300 << QByteArray("1e+300");
        QTest::newRow("smallest subnormal") << 5e-324 << QByteArray("5e-324");
        QTest::newRow("largest") << 1.7976931348623157e308 << QByteArray("1.7976931348623157e+308");
    }

    void numbers()
    {
        QFETCH(double, number);
        QFETCH(QByteArray, expected);
        const QByteArray bytes = written([&](JsonWriter &w) { w.value(number); });
        QCOMPARE(bytes, expected);
        // strtod, not Qt's reader: that one reads "-0" as the integer 0.
        const double back = std::strtod(bytes.constData(), nullptr);
        QCOMPARE(back, number);
        QCOMPARE(std::signbit(back), std::signbit(number));
    }

    void integers()
    {
        QCOMPARE(written([](JsonWriter &w) { w.value(qint64(9007199254740993)); }), QByteArray("9007199254740993"));
        QCOMPARE(written([](JsonWriter &w) { w.value(std::numeric_limits<qint64>::min()); }),
                 QByteArray("-9223372036854775808"));
        QCOMPARE(written([](JsonWriter &w) { w.value(std::numeric_limits<quint64>::max()); }),
                 QByteArray("18446744073709551615"));
        QCOMPARE(written([](JsonWriter &w) { w.beginArray().value(7).value(0u).value(true).null().endArray(); }),
                 QByteArray("[7,0,true,null]"));
    }

    // Misuse and values JSON cannot hold are errors the caller sees, never silent output.
    void refusals_data()
    {
        QTest::addColumn<Write>("write");
        QTest::newRow("NaN") << Write([](JsonWriter &w) { w.value(qQNaN()); });
        QTest::newRow("infinity in an array") << Write([](JsonWriter &w) { w.beginArray().value(qInf()); });
        QTest::newRow("minus infinity member") << Write([](JsonWriter &w) { w.beginObject().member("t", -qInf()); });
        QTest::newRow("NaN inside a QJsonValue") << Write([](JsonWriter &w) { w.value(QJsonArray{qQNaN()}); });
        QTest::newRow("value without key") << Write([](JsonWriter &w) { w.beginObject().value(1); });
        QTest::newRow("key in an array") << Write([](JsonWriter &w) { w.beginArray().key("k"); });
        QTest::newRow("two keys") << Write([](JsonWriter &w) { w.beginObject().key("a").key("b"); });
        QTest::newRow("key without value") << Write([](JsonWriter &w) { w.beginObject().key("a").endObject(); });
        QTest::newRow("mismatched end") << Write([](JsonWriter &w) { w.beginObject().endArray(); });
        QTest::newRow("end at top level") << Write([](JsonWriter &w) { w.endObject(); });
        QTest::newRow("two top-level values") << Write([](JsonWriter &w) { w.value(1).value(2); });
        QTest::newRow("unfinished") << Write([](JsonWriter &w) { w.beginArray().beginObject(); });
        QTest::newRow("nothing") << Write([](JsonWriter &) {});
    }

    void refusals()
    {
        QFETCH(Write, write);
        QVERIFY_THROWS_EXCEPTION(JsonError, written(write));
    }

    void aFailedWriterStaysFailed()
    {
        JsonWriter writer;
        writer.beginArray();
        QVERIFY_THROWS_EXCEPTION(JsonError, writer.value(qQNaN()));
        QVERIFY_THROWS_EXCEPTION(JsonError, writer.endArray());
        QVERIFY_THROWS_EXCEPTION(JsonError, writer.finish());
    }

    void membersKeepTheirOrder()
    {
        const QByteArray bytes = written([](JsonWriter &w) {
            w.beginObject().member("z", 1).member("a", "x").key("m").beginArray().beginObject();
            w.member("y", false).member("b", 2.5).endObject().endArray().endObject();
        });
        QCOMPARE(bytes, QByteArray(R"({"z":1,"a":"x","m":[{"y":false,"b":2.5}]})"));
        QCOMPARE(JsonKeyOrder::keys(bytes, {"m", "0"}), (QStringList{"y", "b"}));
    }

    void optionalMembersLeaveAbsentValuesOut()
    {
        const QByteArray bytes = written([](JsonWriter &w) {
            w.beginObject()
                .optionalMember("none", std::optional<QString>())
                .optionalMember("nan", std::optional<double>(qQNaN()))
                .optionalMember("inf", std::optional<double>(qInf()))
                .optionalMember("time", std::optional<double>(1.5))
                .optionalMember("flag", std::optional<bool>(false))
                .endObject();
        });
        QCOMPARE(bytes, QByteArray(R"({"time":1.5,"flag":false})"));
    }

    void prettyAndCompactReadTheSame()
    {
        const Write write = [](JsonWriter &w) {
            w.beginObject().member("b", 1).key("list").beginArray().value("x").beginObject().endObject();
            w.beginArray().endArray().endArray().key("empty").beginObject().endObject().endObject();
        };
        const QByteArray compact = written(write);
        JsonWriter::Options prettyOptions;
        prettyOptions.pretty = true;
        const QByteArray pretty = written(write, prettyOptions);
        QCOMPARE(compact, QByteArray(R"({"b":1,"list":["x",{},[]],"empty":{}})"));
        QCOMPARE(pretty, QByteArray("{\n  \"b\": 1,\n  \"list\": [\n    \"x\",\n    {},\n    []\n  ],\n"
                                    "  \"empty\": {}\n}"));
        QCOMPARE(StrictJson::parse(pretty), StrictJson::parse(compact));
    }

    void qtValuesAreWrittenInSortedKeyOrder()
    {
        const QJsonObject object = StrictJson::parseObject(R"({"title":"t","artist":"a","cards":[{"tag":"x","cn":"y"}],
                                                              "big":9007199254740993,"whole":3.0})");
        const QByteArray bytes = JsonWriter::serialize(object);
        QCOMPARE(JsonKeyOrder::keys(bytes), (QStringList{"artist", "big", "cards", "title", "whole"}));
        QCOMPARE(JsonKeyOrder::keys(bytes, {"cards", "0"}), (QStringList{"cn", "tag"}));
        QCOMPARE(StrictJson::parseObject(bytes), object);
        QVERIFY2(bytes.contains("\"whole\":3}"), bytes.constData());
    }

    // Nesting is limited only by memory; a deep document still comes out balanced.
    void deepNesting()
    {
        const int depth = 5000;
        const QByteArray bytes = written([&](JsonWriter &w) {
            for (int i = 0; i < depth; ++i)
                w.beginArray();
            for (int i = 0; i < depth; ++i)
                w.endArray();
        });
        QCOMPARE(bytes, QByteArray(depth, '[') + QByteArray(depth, ']'));
    }

    // A device gets the same text as memory, across many flushes.
    void streamsToADevice()
    {
        const Write write = [](JsonWriter &w) {
            w.beginArray();
            for (int i = 0; i < 20000; ++i)
                w.beginObject().member("i", i).member("text", QStringLiteral("第%1行/line").arg(i)).endObject();
            w.endArray();
        };
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        JsonWriter writer(&buffer, JsonWriter::Options{true, true});
        write(writer);
        writer.finish();
        QVERIFY(buffer.data().size() > 256 * 1024);
        QCOMPARE(buffer.data(), written(write, JsonWriter::Options{true, true}));
    }

    // A device that takes fewer bytes than it was handed (a full disk) fails the document, at
    // whichever write runs short: a cut file is never reported as written.
    void aDeviceThatRefusesBytesFails_data()
    {
        QTest::addColumn<qint64>("capacity"); // -1: the device refuses every write
        QTest::addColumn<int>("count");
        QTest::newRow("refuses every write") << qint64(-1) << 1;
        QTest::newRow("takes nothing") << qint64(0) << 1;
        QTest::newRow("short by the last byte") << qint64(written(items(1)).size() - 1) << 1;
        QTest::newRow("full in the middle of a large document") << qint64(100'000) << 20000;
    }

    void aDeviceThatRefusesBytesFails()
    {
        QFETCH(qint64, capacity);
        QFETCH(int, count);
        ShortDevice device(capacity);
        QVERIFY_THROWS_EXCEPTION(JsonError, [&] {
            JsonWriter writer(&device);
            items(count)(writer);
            writer.finish();
        }());
    }
};

QTEST_GUILESS_MAIN(TstJsonWriter)
#include "tst_jsonwriter.moc"
