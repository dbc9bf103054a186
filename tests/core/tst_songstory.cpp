#include "core/SongStory.h"
#include "core/SongStoryError.h"
#include "core/SongStoryProvider.h"
#include "core/StoryParser.h"
#include "platform/Async.h"
#include "platform/StrictJson.h"

#include "JsonKeyOrder.h"

#include <QtTest>

Q_DECLARE_METATYPE(ParsedStory)

namespace {

QString show(const std::optional<QString> &value)
{
    return value ? QLatin1Char('"') + *value + QLatin1Char('"') : QStringLiteral("absent");
}

} // namespace

namespace QTest {
template<>
char *toString(const ParsedStory &story)
{
    const QString text = QStringLiteral("titleEN=%1 titleCN=%2 year=%3 genre=%4 moods=[%5] quote=%6 en=[%7] cn=[%8]")
                             .arg(show(story.titleEN), show(story.titleCN),
                                  story.year ? QString::number(*story.year) : QStringLiteral("absent"),
                                  show(story.genre), story.moodTags.join(u'/'), show(story.signatureLine),
                                  story.paragraphsEN.join(QStringLiteral(" ¶ ")),
                                  story.paragraphsCN.join(QStringLiteral(" ¶ ")));
    return qstrdup(text.toUtf8().constData());
}
} // namespace QTest

class TestSongStory : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void paragraphsFallBackToWholeArticle_data();
    void paragraphsFallBackToWholeArticle();
    void titleFallsBackToSongTitle();
    void jsonRoundTrip();
    void jsonDecodeFailures_data();
    void jsonDecodeFailures();
    void anySourceTypeReadsAsRemote();
    void standByProviderFails();
};

void TestSongStory::parse_data()
{
    QTest::addColumn<QString>("article");
    QTest::addColumn<ParsedStory>("expected");

    QTest::newRow("empty") << QString() << ParsedStory();
    QTest::newRow("blank lines only") << QStringLiteral(" \n\t\r\n  \n") << ParsedStory();

    const QString full = QStringLiteral(
        "TITLE: Scarborough Fair\n"
        "TITLE_CN: 斯卡布罗集市\n"
        "YEAR: 1965\n"
        "GENRE: Folk\n"
        "MOOD: Wistful, Gentle\n"
        "QUOTE: \u201CParsley, sage, rosemary and thyme\u201D\n"
        "\n"
        "EN:\n"
        "An old English ballad.\n"
        "It travelled far.\n"
        "\n"
        "Its refrain is a list of herbs.\n"
        "CN:\n"
        "一首古老的英格兰民谣。\n"
        "\n"
        "副歌是一串香草的名字。\n");
    QTest::newRow("full article") << full
                                  << ParsedStory{.titleEN = QStringLiteral("Scarborough Fair"),
                                                 .titleCN = QStringLiteral("斯卡布罗集市"),
                                                 .year = 1965,
                                                 .genre = QStringLiteral("Folk"),
                                                 .moodTags = {QStringLiteral("wistful"), QStringLiteral("gentle")},
                                                 .signatureLine = QStringLiteral("Parsley, sage, rosemary and thyme"),
                                                 .paragraphsEN = {QStringLiteral("An old English ballad. It travelled far."),
                                                                  QStringLiteral("Its refrain is a list of herbs.")},
                                                 .paragraphsCN = {QStringLiteral("一首古老的英格兰民谣。"),
                                                                  QStringLiteral("副歌是一串香草的名字。")}};
    // CRLF line ends read exactly like LF ones: markers are found and no value keeps a "\r".
    QString crlf = full;
    crlf.replace(u'\n', QStringLiteral("\r\n"));
    QTest::newRow("CRLF line ends") << crlf << ParsedStory::parse(full);

    QTest::newRow("no markers: tags anywhere, no paragraphs")
        << QStringLiteral("Some prose first.\nTITLE: Late Title\nmore prose\nGENRE: Pop")
        << ParsedStory{.titleEN = QStringLiteral("Late Title"), .genre = QStringLiteral("Pop")};
    QTest::newRow("only CN marker")
        << QStringLiteral("TITLE: T\nCN:\n第一段\n\n第二段")
        << ParsedStory{.titleEN = QStringLiteral("T"), .paragraphsCN = {QStringLiteral("第一段"), QStringLiteral("第二段")}};
    QTest::newRow("only EN marker")
        << QStringLiteral("EN:\none\n\ntwo\nTITLE: not a title")
        << ParsedStory{.paragraphsEN = {QStringLiteral("one"), QStringLiteral("two TITLE: not a title")}};
    QTest::newRow("EN directly followed by CN")
        << QStringLiteral("EN:\nCN:\n中文") << ParsedStory{.paragraphsCN = {QStringLiteral("中文")}};
    QTest::newRow("paragraph joining and blank runs")
        << QStringLiteral("EN:\n  a\t\nb\n\n \u00A0\n\tc  ")
        << ParsedStory{.paragraphsEN = {QStringLiteral("a b"), QStringLiteral("c")}};
    QTest::newRow("markers in any case with blanks around")
        << QStringLiteral("TITLE: x\n  en: \t\nhello\n\tCn:\n你好")
        << ParsedStory{.titleEN = QStringLiteral("x"), .paragraphsEN = {QStringLiteral("hello")},
                       .paragraphsCN = {QStringLiteral("你好")}};
    QTest::newRow("marker with text is no marker")
        << QStringLiteral("TITLE: x\nEN: hello\nCN: 你好")
        << ParsedStory{.titleEN = QStringLiteral("x")};
    QTest::newRow("second marker inside a section is text")
        << QStringLiteral("EN:\none\nEN:\ntwo\nCN:\n甲\nCN:\n乙")
        << ParsedStory{.paragraphsEN = {QStringLiteral("one EN: two")}, .paragraphsCN = {QStringLiteral("甲 CN: 乙")}};
    // The Chinese section comes first: it runs to the end (the English marker and text
    // included), and the English section runs from its marker to the end.
    QTest::newRow("CN before EN")
        << QStringLiteral("TITLE: x\nCN:\n中文\nEN:\nEnglish")
        << ParsedStory{.titleEN = QStringLiteral("x"), .paragraphsEN = {QStringLiteral("English")},
                       .paragraphsCN = {QStringLiteral("中文 EN: English")}};

    QTest::newRow("year: lower-case tag") << QStringLiteral("year: 1987") << ParsedStory{.year = 1987};
    QTest::newRow("year: bounds") << QStringLiteral("YEAR: 1900\nYEAR: 2100") << ParsedStory{.year = 2100};
    QTest::newRow("year: 1850 ignored") << QStringLiteral("YEAR: 1850") << ParsedStory();
    QTest::newRow("year: 2101 keeps earlier") << QStringLiteral("YEAR: 1999\nYEAR: 2101") << ParsedStory{.year = 1999};
    QTest::newRow("year: digits run together") << QStringLiteral("YEAR: 1987 (2011 remaster)") << ParsedStory();
    QTest::newRow("year: word, year, letter") << QStringLiteral("YEAR: circa 1990s") << ParsedStory{.year = 1990};
    QTest::newRow("year: no digits keeps earlier") << QStringLiteral("YEAR: 1970\nYEAR: unknown") << ParsedStory{.year = 1970};
    QTest::newRow("year: non-ASCII digits") << QStringLiteral("YEAR: \u0661\u0669\u0668\u0667") << ParsedStory();
    QTest::newRow("year: too large") << QStringLiteral("YEAR: 99999999999999999999999") << ParsedStory();

    QTest::newRow("mood: first five, trimmed, lower case")
        << QStringLiteral("MOOD: Happy,  SAD ,, calm,Warm , bright, Dark, eerie")
        << ParsedStory{.moodTags = {QStringLiteral("happy"), QStringLiteral("sad"), QStringLiteral("calm"),
                                    QStringLiteral("warm"), QStringLiteral("bright")}};
    QTest::newRow("mood: full-width comma does not split")
        << QStringLiteral("MOOD: 快乐，悲伤") << ParsedStory{.moodTags = {QStringLiteral("快乐，悲伤")}};
    QTest::newRow("mood: commas only replace earlier")
        << QStringLiteral("MOOD: calm\nMOOD: , ,") << ParsedStory();

    QTest::newRow("quote: curly double") << QStringLiteral("QUOTE: \u201CHi there\u201D")
                                         << ParsedStory{.signatureLine = QStringLiteral("Hi there")};
    QTest::newRow("quote: curly single") << QStringLiteral("QUOTE: \u2018Hi\u2019")
                                         << ParsedStory{.signatureLine = QStringLiteral("Hi")};
    QTest::newRow("quote: straight single, inner blanks kept") << QStringLiteral("QUOTE: ' Hi '")
                                                               << ParsedStory{.signatureLine = QStringLiteral(" Hi ")};
    QTest::newRow("quote: mixed pair kept") << QStringLiteral("QUOTE: \"Hi\u201D")
                                            << ParsedStory{.signatureLine = QStringLiteral("\"Hi\u201D")};
    QTest::newRow("quote: two quotes give empty") << QStringLiteral("QUOTE: \"\"")
                                                  << ParsedStory{.signatureLine = QString()};
    QTest::newRow("quote: one quote unchanged") << QStringLiteral("QUOTE: \"")
                                                << ParsedStory{.signatureLine = QStringLiteral("\"")};

    QTest::newRow("title: empty value leaves it absent") << QStringLiteral("TITLE:   \nGENRE: Rock")
                                                         << ParsedStory{.genre = QStringLiteral("Rock")};
    QTest::newRow("title: later wins, mixed-case tag") << QStringLiteral("TITLE: One\nTitle: Two")
                                                       << ParsedStory{.titleEN = QStringLiteral("Two")};
    QTest::newRow("title: empty does not clear earlier") << QStringLiteral("TITLE: One\nTITLE:")
                                                         << ParsedStory{.titleEN = QStringLiteral("One")};
}

void TestSongStory::parse()
{
    QFETCH(QString, article);
    QFETCH(ParsedStory, expected);
    QCOMPARE(ParsedStory::parse(article), expected);
}

void TestSongStory::paragraphsFallBackToWholeArticle_data()
{
    QTest::addColumn<QString>("article");
    QTest::addColumn<QStringList>("paragraphs");

    QTest::newRow("empty") << QStringLiteral(" \n \n") << QStringList();
    QTest::newRow("no markers: whole text, tags included")
        << QStringLiteral("\n TITLE: X\nJust words. \n\n") << QStringList{QStringLiteral("TITLE: X\nJust words.")};
    QTest::newRow("sections") << QStringLiteral("EN:\na\n\nb") << QStringList{QStringLiteral("a"), QStringLiteral("b")};
    // Only a Chinese section: no English paragraphs, so the whole article stands in.
    QTest::newRow("only CN") << QStringLiteral("CN:\n中文") << QStringList{QStringLiteral("CN:\n中文")};
}

void TestSongStory::paragraphsFallBackToWholeArticle()
{
    QFETCH(QString, article);
    QFETCH(QStringList, paragraphs);
    const SongStory story{QStringLiteral("Song"), QStringLiteral("Artist"), article, SongStorySource::Remote};
    QCOMPARE(story.paragraphsEN(), paragraphs);
}

void TestSongStory::titleFallsBackToSongTitle()
{
    SongStory story{QStringLiteral("Song"), QStringLiteral("Artist"), QStringLiteral("EN:\ntext"), SongStorySource::Remote};
    QCOMPARE(story.titleEN(), QStringLiteral("Song"));
    story.article = QStringLiteral("TITLE: Article Title\nYEAR: 2001\nEN:\ntext");
    QCOMPARE(story.titleEN(), QStringLiteral("Article Title"));
    QCOMPARE(story.year(), std::optional<int>(2001));
}

void TestSongStory::jsonRoundTrip()
{
    const SongStory story{QStringLiteral("Amazing Grace"), QStringLiteral("Traditional"),
                          QStringLiteral("TITLE: x\nEN:\n“quoted” text"), SongStorySource::Remote};
    const QByteArray json = story.toJson();
    const QJsonObject expected = StrictJson::parseObject(
        R"({"title":"Amazing Grace","artist":"Traditional","article":"TITLE: x\nEN:\n“quoted” text","source":{"type":"remote"}})");
    QCOMPARE(StrictJson::parseObject(json), expected);
    QCOMPARE(JsonKeyOrder::keys(json), (QStringList{"title", "artist", "article", "source"}));
    QCOMPARE(SongStory::fromJson(StrictJson::parseObject(json)), story);
}

void TestSongStory::jsonDecodeFailures_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::newRow("no title") << QByteArray(R"({"artist":"a","article":"b","source":{"type":"remote"}})");
    QTest::newRow("null artist") << QByteArray(R"({"title":"t","artist":null,"article":"b","source":{"type":"remote"}})");
    QTest::newRow("numeric article") << QByteArray(R"({"title":"t","artist":"a","article":3,"source":{"type":"remote"}})");
    QTest::newRow("no source") << QByteArray(R"({"title":"t","artist":"a","article":"b"})");
    QTest::newRow("source is a string") << QByteArray(R"({"title":"t","artist":"a","article":"b","source":"remote"})");
    QTest::newRow("source without type") << QByteArray(R"({"title":"t","artist":"a","article":"b","source":{}})");
    QTest::newRow("source type not a string") << QByteArray(R"({"title":"t","artist":"a","article":"b","source":{"type":1}})");
}

void TestSongStory::jsonDecodeFailures()
{
    QFETCH(QByteArray, json);
    QVERIFY_THROWS_EXCEPTION(JsonError, SongStory::fromJson(StrictJson::parseObject(json)));
}

void TestSongStory::anySourceTypeReadsAsRemote()
{
    const SongStory story = SongStory::fromJson(StrictJson::parseObject(
        R"({"title":"t","artist":"a","article":"b","source":{"type":"cache","extra":1},"unknown":true})"));
    QCOMPARE(story, (SongStory{QStringLiteral("t"), QStringLiteral("a"), QStringLiteral("b"), SongStorySource::Remote}));
}

void TestSongStory::standByProviderFails()
{
    const std::shared_ptr<SongStoryProvider> provider = SongStoryProviderKey::defaultValue();
    QVERIFY(provider);
    QCOMPARE(SongStoryProviderKey::defaultValue(), provider);
    auto outcome = std::make_shared<AsyncOutcome<SongStory>>();
    detail::captureOutcome<SongStory>(provider->fetchStory(QStringLiteral("a|t"), QStringLiteral("t"), QStringLiteral("a")),
                                      outcome);
    QVERIFY(outcome->done()); // it answers at once
    try {
        outcome->take();
        QFAIL("the stand-by provider returned a story");
    } catch (const RemoteSongStoryError &error) {
        QCOMPARE(error, RemoteSongStoryError::data(QStringLiteral("no provider configured")));
        QCOMPARE(error.message(), QStringLiteral("no provider configured"));
    }
}

QTEST_GUILESS_MAIN(TestSongStory)
#include "tst_songstory.moc"
