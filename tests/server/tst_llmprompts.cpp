// The prompt files and the checks the model's answers go through, on their own.

#include "server/llm/CardsValidator.h"
#include "server/llm/ContentServices.h"
#include "server/llm/Prompts.h"
#include "server/llm/StoryValidator.h"

#include <QDir>
#include <QFile>
#include <QtTest>

namespace {

// The demo songs (title, artist, LRC, cards answer, story).
QDir demoSongs()
{
    return QDir(QDir::cleanPath(QStringLiteral(CANTORELLA_TEST_DATA_DIR "/../../demo/songs")));
}

std::string readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
}

const QString lrc = QStringLiteral("[00:01.00]Hello, my old friend\n[00:02.50]I've come to talk\n");

} // namespace

class TestLlmPrompts : public QObject
{
    Q_OBJECT

private slots:
    // The curated cards and stories are what a good answer looks like: every one passes.
    void demoContentPasses_data()
    {
        QTest::addColumn<QString>("folder");
        const QDir songs = demoSongs();
        QVERIFY(songs.exists());
        for (const QString &song : songs.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            QTest::newRow(qPrintable(song)) << songs.filePath(song);
    }

    void demoContentPasses()
    {
        QFETCH(QString, folder);
        const server::StoryCheck story = server::checkStoryArticle(readFile(folder + "/story.txt"));
        QCOMPARE(story.complaints, QStringList());
        const std::string cards = readFile(folder + "/cards.json");
        if (cards.empty())
            return;
        const server::CardsValidator validator(QString::fromStdString(readFile(folder + "/lyrics.lrc")));
        const server::CardsValidator::Outcome outcome = validator.validate(cards);
        QCOMPARE(outcome.complaints, QStringList());
        QVERIFY(!outcome.cards.isEmpty());
    }

    void phrases_data()
    {
        QTest::addColumn<QString>("en");
        QTest::addColumn<double>("time");
        QTest::addColumn<bool>("kept");
        QTest::newRow("verbatim") << "my old friend" << 1.0 << true;
        QTest::newRow("other case") << "HELLO, My Old" << 1.0 << true;
        QTest::newRow("spread over two lines") << "friend I've come" << 2.5 << true;
        QTest::newRow("white space differs") << "my  old\tfriend" << 1.0 << true;
        QTest::newRow("punctuation left out") << "Hello my old friend" << 1.0 << false;
        QTest::newRow("another word") << "my dear friend" << 1.0 << false;
        QTest::newRow("blank") << " " << 1.0 << false;
        QTest::newRow("time of no line") << "my old friend" << 1.5 << false;
        QTest::newRow("time within a hundredth") << "I've come" << 2.501 << true;
        QTest::newRow("time just inside the tolerance") << "I've come" << 2.504 << true;
        QTest::newRow("time a hundredth after the line") << "I've come" << 2.51 << false;
        QTest::newRow("time a hundredth before the line") << "I've come" << 2.49 << false;
        QTest::newRow("time before the first line") << "my old friend" << 0.0 << false;
    }

    void phrases()
    {
        QFETCH(QString, en);
        QFETCH(double, time);
        QFETCH(bool, kept);
        const QString answer = QStringLiteral(R"({"cards":[{"en":%1,"cn":"c","note":"n","example":"e","tag":"t","lineTimestamp":%2}]})")
                                   .arg(QString::fromUtf8(QJsonDocument(QJsonArray{en}).toJson(QJsonDocument::Compact)).mid(1).chopped(1))
                                   .arg(time, 0, 'g', 10);
        const auto outcome = server::CardsValidator("[ti:x]\n" + lrc).validate(answer.toStdString());
        QCOMPARE(outcome.cards.size(), kept ? 1 : 0);
    }

    // Canonical equivalence: "café" typed with a combining accent matches the composed lyric.
    void canonicalEquivalence()
    {
        const server::CardsValidator validator(QStringLiteral("[00:03.00]Au CAF\u00c9 ce soir\n"));
        const std::string answer = QStringLiteral(R"({"cards":[{"en":"au cafe%1","cn":"c","note":"n","example":"e","tag":"t","lineTimestamp":3}]})")
                                       .arg(QChar(0x0301))
                                       .toStdString();
        QCOMPARE(validator.validate(answer).cards.size(), 1);
    }

    void untimedLyrics()
    {
        const server::CardsValidator validator(QStringLiteral("Hello, my old friend\nI've come to talk\n"));
        QVERIFY(QString::fromStdString(validator.lineTimesText()).contains("leave \"lineTimestamp\" out"));
        const auto outcome = validator.validate(
            R"({"cards":[{"en":"old friend","cn":"c","note":"n","example":"e","tag":"a"},)"
            R"({"en":"come to talk","cn":"c","note":"n","example":"e","tag":"b","lineTimestamp":1}]})");
        QCOMPARE(outcome.cards.size(), 1);
        QCOMPARE(outcome.cards[0].en, QStringLiteral("old friend"));
    }

    void atMostThirtyCards()
    {
        QString cards;
        for (int i = 0; i < 35; ++i)
            cards += QStringLiteral(R"(%1{"en":"my old friend","cn":"c","note":"n","example":"e","tag":"t%2","lineTimestamp":1})")
                         .arg(i ? "," : "")
                         .arg(i);
        const auto outcome = server::CardsValidator(lrc).validate(("{\"cards\":[" + cards + "]}").toStdString());
        QCOMPARE(outcome.cards.size(), 30);
        QCOMPARE(outcome.cards.last().tag, QStringLiteral("t29"));
    }

    void codeFence_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("stripped");
        QTest::newRow("json fence") << "```json\n{\"a\":1}\n```" << "{\"a\":1}\n";
        QTest::newRow("bare fence, blanks around") << "\n ```\n{}\n```  \n" << "{}\n";
        QTest::newRow("no fence") << "{\"a\":\"```\"}" << "{\"a\":\"```\"}";
        QTest::newRow("prose before the fence") << "Sure!\n```json\n{}\n```" << "Sure!\n```json\n{}\n```";
        QTest::newRow("one line") << "```{}```" << "```{}```";
    }

    void codeFence()
    {
        QFETCH(QString, answer);
        QFETCH(QString, stripped);
        QCOMPARE(QString::fromStdString(server::withoutCodeFence(answer.toStdString())), stripped);
    }

    void story_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<int>("complaints");
        QTest::newRow("both sections") << "TITLE: T\n\nEN:\nOne.\n\nTwo.\n\nCN:\n一。\n" << 0;
        QTest::newRow("fenced") << "```\nEN:\nOne.\nCN:\n一。\n```" << 0;
        QTest::newRow("no Chinese") << "TITLE: T\nEN:\nOne.\n" << 1;
        QTest::newRow("empty Chinese") << "EN:\nOne.\nCN:\n\n" << 1;
        QTest::newRow("markers with text") << "EN: One.\nCN: 一。" << 2;
        QTest::newRow("plain prose") << "A song about stars." << 2;
    }

    void story()
    {
        QFETCH(QString, answer);
        QFETCH(int, complaints);
        const server::StoryCheck check = server::checkStoryArticle(answer.toStdString());
        QCOMPARE(check.complaints.size(), complaints);
        QCOMPARE(check.article.empty(), complaints > 0);
    }

    // The cards prompt for a demo song asks for everything the checks and the client need.
    void cardsPromptNamesEveryRule()
    {
        const QDir songs = demoSongs();
        const QString lyrics = QString::fromStdString(readFile(songs.filePath("amazing-grace/lyrics.lrc")));
        const server::Prompts prompts = server::Prompts::load(server::Prompts::defaultFolder());
        const server::CardsValidator validator(lyrics);
        const QString prompt = QString::fromStdString(server::ContentServices::cardsPrompt(
            prompts, "Amazing Grace", "Traditional", lyrics, "en", validator.lineTimesText()));
        QVERIFY(!prompt.contains("{{"));
        const QStringList rules = {
            "Amazing Grace", "Traditional", lyrics, "strict JSON", "\"cards\"", "1 to 30", "verbatim",
            "\"en\"", "\"cn\"", "\"note\"", "\"example\"", "\"tag\"", "Simplified Chinese", "how it is\n  used",
            "example sentence", "\"lineTimestamp\"", "[01:14.30] is 74.3", "6.4, 14.3, 22.1, 30",
            "\"pronunciationHint\"", "\"linking\"", "\"weak_form\"", "\"contraction\"", "\"elision\"", "\"stress\"",
            "\"intonation\"", "\"ipa\"", "without slashes", "\"culturalHint\"", "\"listeningDifficulty\"",
            "\"easy\"", "\"medium\"", "\"hard\"", "same \"en\" together with the same \"tag\"", "no code fence"};
        for (const QString &rule : rules)
            QVERIFY2(prompt.contains(rule), qPrintable(rule.left(60)));

        const QString repair = QString::fromStdString(server::Prompts::render(
            prompts.cardsRepair(), {{"complaints", "- cards[0]: bad"}, {"lineTimes", "6.4"}}));
        QVERIFY(repair.contains("- cards[0]: bad") && repair.contains("(6.4)") && !repair.contains("{{"));

        const QString story = QString::fromStdString(
            server::Prompts::render(prompts.story(), {{"title", "Amazing Grace"}, {"artist", "Traditional"}}));
        for (const char *tag : {"TITLE:", "TITLE_CN:", "YEAR:", "GENRE:", "MOOD:", "QUOTE:", "\nEN:\n", "\nCN:\n",
                                "Amazing Grace", "Never invent"})
            QVERIFY2(story.contains(QLatin1String(tag)), tag);
    }

    void renderFillsOnce()
    {
        QCOMPARE(server::Prompts::render("a {{x}} b {{y}} {{x}} {{", {{"x", "{{y}}"}, {"y", "2"}}),
                 std::string("a {{y}} b 2 {{y}} {{"));
    }
};

QTEST_GUILESS_MAIN(TestLlmPrompts)
#include "tst_llmprompts.moc"
