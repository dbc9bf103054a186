// cantorella-fake-chat DEMO-SONGS-FOLDER: a chat-completions API on 127.0.0.1 and a free port,
// for measuring the program with study cards and stories without a language model. Prints
// "listening on http://127.0.0.1:PORT/v1" once it serves, then answers POST /v1/chat/completions:
// - a cards prompt (it holds the song's LRC text between <lyrics> and </lyrics>): seven cards,
//   spread over the song's lines that hold Latin letters; each card's phrase is the first four
//   English words of its line and its time that line's, so the server keeps it; the rest of each
//   card (meaning, note, example, tag, hints) is taken in turn from the demo songs' cards;
// - any other prompt (the story): a demo song's story in turn, under the requested title.
// Runs until it is killed.

#include <httplib.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <atomic>
#include <cstdio>

namespace {

QJsonArray g_cards;
QStringList g_stories;
std::atomic<int> g_nextCard{0};
std::atomic<int> g_nextStory{0};

void loadDemo(const QString &folder)
{
    const QDir root(folder);
    for (const QString &song : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        QFile cards(root.filePath(song + QStringLiteral("/cards.json")));
        if (cards.open(QIODevice::ReadOnly)) {
            const QJsonDocument doc = QJsonDocument::fromJson(cards.readAll());
            const QJsonArray list = doc.isObject() ? doc.object().value(QLatin1String("cards")).toArray() : doc.array();
            for (const QJsonValue &card : list)
                g_cards.append(card);
        }
        QFile story(root.filePath(song + QStringLiteral("/story.txt")));
        if (story.open(QIODevice::ReadOnly))
            g_stories.append(QString::fromUtf8(story.readAll()));
    }
}

QString promptOf(const std::string &body)
{
    QString text;
    const QJsonArray messages = QJsonDocument::fromJson(QByteArray::fromStdString(body)).object().value(
        QLatin1String("messages")).toArray();
    for (const QJsonValue &message : messages)
        text += message.toObject().value(QLatin1String("content")).toString() + QLatin1Char('\n');
    return text;
}

QString cardsAnswer(const QString &prompt)
{
    const qsizetype open = prompt.indexOf(QLatin1String("<lyrics>"));
    const qsizetype close = prompt.indexOf(QLatin1String("</lyrics>"), open);
    const QStringList lines = prompt.mid(open, close - open).split(QLatin1Char('\n'));
    static const QRegularExpression stamped(QStringLiteral("^\\[(\\d+):(\\d+(?:\\.\\d+)?)\\](.*[A-Za-z].*)$"));
    QList<std::pair<double, QString>> candidates;
    for (const QString &line : lines) {
        const QRegularExpressionMatch m = stamped.match(line.trimmed());
        if (!m.hasMatch())
            continue;
        // From the first word with a Latin letter: the English of a bilingual line.
        QStringList words = m.captured(3).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        static const QRegularExpression latin(QStringLiteral("[A-Za-z]"));
        while (!words.isEmpty() && !words.first().contains(latin))
            words.removeFirst();
        candidates.append({m.captured(1).toInt() * 60 + m.captured(2).toDouble(), words.mid(0, 4).join(u' ')});
    }
    constexpr int perSong = 7;
    QJsonArray cards;
    const qsizetype step = std::max<qsizetype>(1, candidates.size() / perSong);
    for (qsizetype i = 0; i < candidates.size() && cards.size() < perSong; i += step) {
        QJsonObject card = g_cards.isEmpty() ? QJsonObject{{"cn", "短语"}, {"note", "说明"}, {"example", "An example."}, {"tag", "短语"}}
                                             : g_cards.at(g_nextCard++ % g_cards.size()).toObject();
        card[QLatin1String("en")] = candidates.at(i).second;
        card[QLatin1String("lineTimestamp")] = candidates.at(i).first;
        cards.append(card);
    }
    return QString::fromUtf8(QJsonDocument(QJsonObject{{"cards", cards}}).toJson(QJsonDocument::Compact));
}

QString storyAnswer(const QString &prompt)
{
    static const QRegularExpression song(QStringLiteral("Song: \"([^\"]*)\""));
    const QString title = song.match(prompt).captured(1);
    QString story = g_stories.isEmpty() ? QStringLiteral("TITLE: x\nTITLE_CN: 歌\n\nEN:\nA song.\n\nCN:\n一首歌。")
                                        : g_stories.at(g_nextStory++ % g_stories.size());
    static const QRegularExpression titleLine(QStringLiteral("^TITLE: .*$"), QRegularExpression::MultilineOption);
    return story.replace(titleLine, QStringLiteral("TITLE: ") + title);
}

std::string chatBody(const QString &content)
{
    const QJsonObject message{{"role", "assistant"}, {"content", content}};
    const QJsonObject choice{{"message", message}, {"finish_reason", "stop"}};
    return QJsonDocument(QJsonObject{{"choices", QJsonArray{choice}}}).toJson(QJsonDocument::Compact).toStdString();
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: cantorella-fake-chat DEMO-SONGS-FOLDER\n");
        return 2;
    }
    loadDemo(QString::fromLocal8Bit(argv[1]));
    httplib::Server server;
    server.Post("/v1/chat/completions", [](const httplib::Request &request, httplib::Response &response) {
        const QString prompt = promptOf(request.body);
        const QString content = prompt.contains(QLatin1String("<lyrics>")) ? cardsAnswer(prompt) : storyAnswer(prompt);
        response.set_content(chatBody(content), "application/json");
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    if (port <= 0) {
        std::fprintf(stderr, "cantorella-fake-chat: cannot listen on 127.0.0.1\n");
        return 1;
    }
    std::printf("listening on http://127.0.0.1:%d/v1\n", port);
    std::fflush(stdout);
    return server.listen_after_bind() ? 0 : 1;
}
