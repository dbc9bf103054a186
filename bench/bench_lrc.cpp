#include "core/LrcParser.h"

#include <benchmark/benchmark.h>

#include <optional>

namespace {

// A 5 000-line LRC text: a few ID tags, then one stamped line every 0.73 s, every tenth line
// carrying two stamps.
QString generatedLrc(int lineCount)
{
    QString text = QStringLiteral("[ti:Generated]\n[ar:Bench]\n[offset:0]\n");
    for (int i = 0; i < lineCount; ++i) {
        const double t = i * 0.73;
        const int minutes = int(t / 60);
        const double seconds = t - minutes * 60;
        const QString stamp = QStringLiteral("[%1:%2]")
                                  .arg(minutes, 2, 10, QLatin1Char('0'))
                                  .arg(seconds, 5, 'f', 2, QLatin1Char('0'));
        text += stamp;
        if (i % 10 == 0)
            text += QStringLiteral("[%1:00.00]").arg(minutes + 500);
        text += QStringLiteral("Line %1 of the generated song with a few words\r\n").arg(i);
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
    const QString text = generatedLrc(5000);
    for (auto _ : state) {
        QList<SyncedLine> lines = LRCParser::parse(text);
        benchmark::DoNotOptimize(lines);
    }
    state.SetItemsProcessed(state.iterations() * 5000);
}

void lrcActiveLineLookup5000(benchmark::State &state)
{
    const QList<SyncedLine> lines = LRCParser::parse(generatedLrc(5000));
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
