// From reader output to track: what counts as nothing playing, what is a parse failure, how
// fields of the wrong type are read, how a playing sample is carried forward, and `ts` forms.
#include "session/nowplaying/MprisReaderOutput.h"

#include <QJsonValue>
#include <QTest>

#include <cmath>

namespace {

constexpr double sampleDate = 1'700'000'000.0; // 2023-11-14T22:13:20Z
const ContinuousInstant sampleInstant{42'000'000'000};

// "title|artist|album|duration|elapsed|playing or paused|bundle or -", "absent", or
// "parse error <characters>".
QString describe(const MprisReaderOutput::Result &result)
{
    if (result.parseFailed)
        return QStringLiteral("parse error %1").arg(result.characters);
    if (!result.track)
        return QStringLiteral("absent");
    const NowPlayingTrack &t = *result.track;
    return QStringList{t.title,
                       t.artist,
                       t.album,
                       QString::number(t.duration),
                       QString::number(t.elapsed),
                       t.isPlaying ? QStringLiteral("playing") : QStringLiteral("paused"),
                       t.sourceBundleIdentifier.value_or(QStringLiteral("-"))}
        .join(u'|');
}

} // namespace

class TestMprisReaderOutput : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void output_data()
    {
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<QString>("expected");

        QTest::newRow("full") << QByteArray(R"({"t":"Song","a":"Artist","l":"Album","d":200,"e":10,"r":0,"ts":null,)"
                                            R"("b":"mpv","dbgInfoKeys":["xesam:title"]})")
                              << "Song|Artist|Album|200|10|paused|mpv";
        QTest::newRow("title only") << QByteArray(R"({"t":"Song"})") << "Song|||0|0|paused|-";
        QTest::newRow("null") << QByteArray("null") << "absent";
        QTest::newRow("null in white space") << QByteArray(" \n\tnull \n") << "absent";
        QTest::newRow("empty") << QByteArray() << "absent";
        QTest::newRow("not UTF-8") << QByteArray("{\"t\":\"\xff\xfe\"}") << "absent";
        QTest::newRow("error object") << QByteArray(R"({"error":"no session bus"})") << "absent";
        QTest::newRow("error key with a track") << QByteArray(R"({"error":null,"t":"Song","r":1})") << "absent";
        QTest::newRow("no title") << QByteArray(R"({"a":"Artist","d":10,"r":1})") << "absent";
        QTest::newRow("empty title") << QByteArray(R"({"t":"","a":"Artist"})") << "absent";
        QTest::newRow("title a number") << QByteArray(R"({"t":42})") << "absent";
        QTest::newRow("other fields of wrong types")
            << QByteArray(R"({"t":"S","a":7,"l":["x"],"b":true,"d":"200","e":"5","r":"1","ts":{}})")
            << "S|||0|0|paused|-";
        QTest::newRow("booleans are not numbers") << QByteArray(R"({"t":"S","e":true,"r":true})")
                                                  << "S|||0|0|paused|-";
        QTest::newRow("negative rate") << QByteArray(R"({"t":"S","e":3,"r":-1})") << "S|||0|3|paused|-";
        QTest::newRow("empty bundle kept") << QByteArray(R"({"t":"S","b":""})") << "S|||0|0|paused|";
        QTest::newRow("garbage") << QByteArray("this is not { json\n") << "parse error 18";
        QTest::newRow("array") << QByteArray(" [1,2] ") << "parse error 5";
        QTest::newRow("bare string") << QByteArray(R"("Song")") << "parse error 6";
        QTest::newRow("cut short") << QByteArray(R"({"t":"Song")") << "parse error 11";
        QTest::newRow("characters, not bytes") << QByteArray("\xf0\x9f\x91\x8d\xf0\x9f\x8f\xbd no")
                                               << "parse error 4";
    }
    void output()
    {
        QFETCH(QByteArray, output);
        QFETCH(QString, expected);
        const auto result = MprisReaderOutput::parse(output, sampleInstant, sampleDate);
        QCOMPARE(describe(result), expected);
        if (result.track)
            QCOMPARE(result.track->sampleHostTime, std::optional<ContinuousInstant>(sampleInstant));
    }

    // A playing sample moves on from `ts` to the sample date by its rate, never past a known
    // duration; anything that does not give a trustworthy past `ts` leaves `e` as it is.
    void carryForward_data()
    {
        QTest::addColumn<double>("e");
        QTest::addColumn<double>("r");
        QTest::addColumn<double>("d");
        QTest::addColumn<QString>("ts"); // JSON text; empty: key left out
        QTest::addColumn<double>("elapsed");
        QTest::addColumn<bool>("playing");

        const QString before2_5 = QString::number(sampleDate - 2.5, 'f', 3);
        const QString before5 = QString::number(sampleDate - 5, 'f', 3);
        QTest::newRow("playing, 2.5 s old") << 10.0 << 1.0 << 200.0 << before2_5 << 12.5 << true;
        QTest::newRow("capped at duration") << 199.0 << 1.0 << 200.0 << before5 << 200.0 << true;
        QTest::newRow("no duration, no cap") << 199.0 << 1.0 << 0.0 << before5 << 204.0 << true;
        QTest::newRow("double speed") << 10.0 << 2.0 << 200.0 << before2_5 << 15.0 << true;
        QTest::newRow("paused: not carried") << 10.0 << 0.0 << 200.0 << before5 << 10.0 << false;
        QTest::newRow("paused past the end: not capped") << 250.0 << 0.0 << 200.0 << before5 << 250.0 << false;
        QTest::newRow("ts in the future") << 10.0 << 1.0 << 200.0 << QString::number(sampleDate + 3, 'f', 3) << 10.0
                                          << true;
        QTest::newRow("ts missing") << 10.0 << 1.0 << 200.0 << "" << 10.0 << true;
        QTest::newRow("ts null") << 10.0 << 1.0 << 200.0 << "null" << 10.0 << true;
        QTest::newRow("ts unparseable") << 10.0 << 1.0 << 200.0 << R"("yesterday")" << 10.0 << true;
        QTest::newRow("ts at 2001-01-01") << 10.0 << 1.0 << 0.0 << "978307200" << 10.0 << true;
        QTest::newRow("ts just after 2001-01-01") << 10.0 << 1.0 << 200.0 << "978307201" << 200.0 << true;
        QTest::newRow("ts RFC 3339 with fraction") << 10.0 << 1.0 << 200.0 << R"("2023-11-14T22:13:17.5Z")" << 12.5
                                                   << true;
        QTest::newRow("ts RFC 3339 with offset") << 10.0 << 1.0 << 200.0 << R"("2023-11-15T00:13:18+02:00")"
                                                 << 12.0 << true;
        QTest::newRow("ts decimal text") << 10.0 << 1.0 << 200.0 << QStringLiteral("\"%1\"").arg(before2_5) << 12.5
                                         << true;
    }
    void carryForward()
    {
        QFETCH(double, e);
        QFETCH(double, r);
        QFETCH(double, d);
        QFETCH(QString, ts);
        QFETCH(double, elapsed);
        QFETCH(bool, playing);
        QString json = QStringLiteral(R"({"t":"S","e":%1,"r":%2,"d":%3)").arg(e).arg(r).arg(d);
        if (!ts.isEmpty())
            json += QStringLiteral(R"(,"ts":)") + ts;
        json += u'}';
        const auto result = MprisReaderOutput::parse(json.toUtf8(), sampleInstant, sampleDate);
        QVERIFY(result.track);
        QVERIFY2(std::abs(result.track->elapsed - elapsed) < 1e-6, qPrintable(QString::number(result.track->elapsed)));
        QCOMPARE(result.track->isPlaying, playing);
    }

    // The position as read, for the estimator: its instant placed on the continuous clock by its
    // distance before the sample date, and the watch's instants likewise.
    void positionRead_data()
    {
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<QString>("expected"); // "player|position|ms before the sample|rate" [+ "|held|from|moved|to"]

        const QByteArray ts = QByteArray::number(sampleDate - 0.25, 'f', 3);
        QTest::newRow("bus name")
            << R"({"t":"S","e":10,"r":1,"ts":)" + ts + R"(,"b":"mpv","dbgBusName":"org.mpris.MediaPlayer2.mpv"})"
            << "org.mpris.MediaPlayer2.mpv|10|250|1";
        QTest::newRow("no bus name: the bundle") << R"({"t":"S","e":10,"r":0,"ts":)" + ts + R"(,"b":"mpv"})"
                                                 << "mpv|10|250|0";
        QTest::newRow("watched step")
            << R"({"t":"S","e":10,"r":1,"ts":)" + ts + R"(,"watch":{"held":7,"from":)"
                   + QByteArray::number(sampleDate - 0.1, 'f', 3) + R"(,"e":10.26,"to":)"
                   + QByteArray::number(sampleDate - 0.097, 'f', 3) + "}}"
            << "|10|250|1|7|100|10.26|97";
        QTest::newRow("watched, never moved")
            << R"({"t":"S","e":10,"r":1,"ts":)" + ts + R"(,"watch":{"held":300,"from":)"
                   + QByteArray::number(sampleDate - 0.05, 'f', 3) + R"(,"e":null,"to":null}})"
            << "|10|250|1|300|50|-|-";
        QTest::newRow("watch without its counts") << R"({"t":"S","e":10,"r":1,"ts":)" + ts + R"(,"watch":{"e":3}})"
                                                  << "|10|250|1";
        QTest::newRow("ts after the sample date") << QByteArray(R"({"t":"S","e":10,"r":1,"ts":1700000009})")
                                                  << "|10|0|1";
        QTest::newRow("no ts") << QByteArray(R"({"t":"S","e":10,"r":1})") << "none";
        QTest::newRow("ts before 2001") << QByteArray(R"({"t":"S","e":10,"r":1,"ts":900000000})") << "none";
        QTest::newRow("no position") << R"({"t":"S","r":1,"ts":)" + ts + "}" << "none";
    }
    void positionRead()
    {
        QFETCH(QByteArray, output);
        QFETCH(QString, expected);
        const auto result = MprisReaderOutput::parse(output, sampleInstant, sampleDate);
        QVERIFY(result.track);
        const auto msBefore = [](ContinuousInstant at) {
            return QString::number(std::round(double((sampleInstant - at).count()) / 1e6));
        };
        QString described = QStringLiteral("none");
        if (const auto &read = result.read) {
            QStringList parts{read->player, QString::number(read->position), msBefore(read->at),
                              QString::number(read->rate)};
            if (const auto &watch = read->watch)
                parts << QString::number(watch->held) << msBefore(watch->from)
                      << (watch->moved ? QString::number(*watch->moved) : QStringLiteral("-"))
                      << (watch->moved ? msBefore(watch->to) : QStringLiteral("-"));
            described = parts.join(u'|');
        }
        QCOMPARE(described, expected);
    }

    void timestamp_data()
    {
        QTest::addColumn<QJsonValue>("ts");
        QTest::addColumn<double>("seconds"); // NaN: no date

        const double none = std::nan("");
        QTest::newRow("number") << QJsonValue(1700000000.25) << 1700000000.25;
        QTest::newRow("Z, no fraction") << QJsonValue("2023-11-14T22:13:20Z") << 1700000000.0;
        QTest::newRow("microseconds kept") << QJsonValue("2023-11-14T22:13:20.123456Z") << 1700000000.123456;
        QTest::newRow("negative offset") << QJsonValue("2023-11-14T17:43:20.5-04:30") << 1700000000.5;
        QTest::newRow("leap day") << QJsonValue("2024-02-29T00:00:00Z") << 1709164800.0;
        QTest::newRow("decimal text") << QJsonValue("1700000000.5") << 1700000000.5;
        QTest::newRow("no leap day in 2023") << QJsonValue("2023-02-29T00:00:00Z") << none;
        QTest::newRow("month 13") << QJsonValue("2023-13-01T00:00:00Z") << none;
        QTest::newRow("hour 24") << QJsonValue("2023-11-14T24:00:00Z") << none;
        QTest::newRow("no zone") << QJsonValue("2023-11-14T22:13:20") << none;
        QTest::newRow("empty fraction") << QJsonValue("2023-11-14T22:13:20.Z") << none;
        QTest::newRow("leading space") << QJsonValue(" 1700000000") << none;
        QTest::newRow("trailing text") << QJsonValue("1700000000s") << none;
        QTest::newRow("comma decimal") << QJsonValue("1700000000,5") << none;
        QTest::newRow("empty string") << QJsonValue("") << none;
        QTest::newRow("null") << QJsonValue(QJsonValue::Null) << none;
        QTest::newRow("bool") << QJsonValue(true) << none;
    }
    void timestamp()
    {
        QFETCH(QJsonValue, ts);
        QFETCH(double, seconds);
        const auto parsed = MprisReaderOutput::timestampSeconds(ts);
        if (std::isnan(seconds)) {
            QVERIFY2(!parsed, qPrintable(QString::number(parsed.value_or(0), 'f', 6)));
            return;
        }
        QVERIFY(parsed);
        QVERIFY2(std::abs(*parsed - seconds) < 1e-6, qPrintable(QString::number(*parsed, 'f', 6)));
    }
};

QTEST_GUILESS_MAIN(TestMprisReaderOutput)
#include "tst_mpris_reader_output.moc"
