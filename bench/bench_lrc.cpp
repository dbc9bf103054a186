#include "core/LrcParser.h"

#include <benchmark/benchmark.h>

#include <QRandomGenerator>

#include <optional>

namespace {

constexpr int songLineCount = 5000;

QString stampText(double seconds)
{
    const int centis = int(seconds * 100.0 + 0.5);
    return QStringLiteral("[%1:%2.%3]")
        .arg(centis / 6000, 2, 10, QLatin1Char('0'))
        .arg(centis / 100 % 60, 2, 10, QLatin1Char('0'))
        .arg(centis % 100, 2, 10, QLatin1Char('0'));
}

// A long bilingual song file, the same on every run (fixed seed): ID tags, then 5 000 stamped
// lines of English words and their Chinese translation. About one line in six is a chorus line
// that carries two or three stamps (its later repeats), so the lines do not arrive in time order.
// Line ends are LF, with an occasional CRLF. About 205 KB as UTF-8.
QString benchmarkSong()
{
    static const QStringList english{
        QStringLiteral("love"),  QStringLiteral("night"),  QStringLiteral("you"),   QStringLiteral("river"),
        QStringLiteral("hold"),  QStringLiteral("on"),     QStringLiteral("never"), QStringLiteral("home"),
        QStringLiteral("light"), QStringLiteral("the"),    QStringLiteral("and"),   QStringLiteral("dancing"),
        QStringLiteral("heart"), QStringLiteral("forever"), QStringLiteral("I'm"),  QStringLiteral("away")};
    static const QStringList chinese{QStringLiteral("爱"),   QStringLiteral("夜晚"), QStringLiteral("你"),
                                     QStringLiteral("河流"), QStringLiteral("坚持"), QStringLiteral("从不"),
                                     QStringLiteral("家"),   QStringLiteral("光"),   QStringLiteral("跳舞"),
                                     QStringLiteral("心"),   QStringLiteral("永远"), QStringLiteral("远方"),
                                     QStringLiteral("不放弃"), QStringLiteral("在一起"), QStringLiteral("回不去")};
    QRandomGenerator rng(20240611);
    QString text = QStringLiteral("[ti:Generated Song]\n[ar:Bench Artist]\n[al:Bench Album]\n[by:bench]\n"
                                  "[length: 166:40]\n[offset:+120]\n");
    double t = 0.5;
    for (int i = 0; i < songLineCount; ++i) {
        t += 0.8 + rng.bounded(2.4);
        text += stampText(t);
        if (rng.bounded(6) == 0) {
            const int repeats = 1 + rng.bounded(2);
            for (int r = 1; r <= repeats; ++r)
                text += stampText(t + r * (30.0 + rng.bounded(60.0)));
        }
        const int words = 2 + rng.bounded(3);
        for (int w = 0; w < words; ++w) {
            if (w > 0)
                text += QLatin1Char(' ');
            text += english.at(rng.bounded(english.size()));
        }
        text += QLatin1Char(' ');
        const int characters = 1 + rng.bounded(3);
        for (int c = 0; c < characters; ++c)
            text += chinese.at(rng.bounded(chinese.size()));
        text += rng.bounded(20) == 0 ? QStringLiteral("\r\n") : QStringLiteral("\n");
    }
    return text;
}

// The active line at time t: the last line whose time is at or before t (none before the first).
std::optional<qsizetype> activeLineIndex(const QList<SyncedLine> &lines, double t)
{
    qsizetype low = 0;
    qsizetype high = lines.size();
    while (low < high) {
        const qsizetype mid = low + (high - low) / 2;
        if (lines[mid].timestamp <= t)
            low = mid + 1;
        else
            high = mid;
    }
    if (low == 0)
        return std::nullopt;
    return low - 1;
}

void lrcParse5000(benchmark::State &state)
{
    const QString text = benchmarkSong();
    // Throughput is counted in the file's UTF-8 bytes, the size it has on disk or on the wire; the
    // "MB" counter reads as MB/s (10^6 bytes).
    const double fileBytes = double(text.toUtf8().size());
    for (auto _ : state) {
        QList<SyncedLine> lines = LRCParser::parse(text);
        benchmark::DoNotOptimize(lines);
    }
    state.counters["MB"] = benchmark::Counter(fileBytes / 1e6, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["KB"] = fileBytes / 1e3;
    state.SetItemsProcessed(state.iterations() * songLineCount);
}

void lrcActiveLineLookup5000(benchmark::State &state)
{
    const QList<SyncedLine> lines = LRCParser::parse(benchmarkSong());
    const double end = lines.last().timestamp + 5.0;
    double t = -1.0;
    for (auto _ : state) {
        t += 0.1;
        if (t > end)
            t = -1.0;
        benchmark::DoNotOptimize(activeLineIndex(lines, t));
    }
}

} // namespace

BENCHMARK(lrcParse5000)->Name("Lrc/Parse5000")->Unit(benchmark::kMillisecond);
BENCHMARK(lrcActiveLineLookup5000)->Name("Lrc/ActiveLineLookup5000");
