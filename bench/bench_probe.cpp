// Cost of RenderLoopProbe::trace, the call that sits on the GUI thread's render path. The
// single-thread runs trace from the GUI thread; the 4-thread runs show the cost under contention.
#include "diagnostics/RenderLoopProbe.h"

#include <benchmark/benchmark.h>

#include <QString>
#include <QStringList>

namespace {

// A handful of names, as the screens trace them per frame, per timer tick and per scroll step.
const QStringList &names()
{
    static const QStringList list = [] {
        QStringList made;
        for (const char *name : {"LyricsView.body", "NowView.body", "CompactLyricsPanel.body", "LyricLineView.tick",
                                 "NowView.onChange.songSessionId", "watchdog.mainAck", "LyricsView.scroll",
                                 "GlassCardView.body"})
            made << QString::fromLatin1(name);
        return made;
    }();
    return list;
}

RenderLoopProbe &probe()
{
    // Real clocks, as in the application.
    static RenderLoopProbe instance;
    return instance;
}

void traceWithDivisor(benchmark::State &state, quint64 every)
{
    RenderLoopProbe &p = probe();
    const QStringList &list = names();
    const QString detail = QStringLiteral("song=artist|title pos=12.34");
    qsizetype i = state.thread_index();
    for (auto _ : state) {
        p.trace(list.at(i % list.size()), detail, every);
        ++i;
    }
    state.SetItemsProcessed(state.iterations());
}

void ProbeTraceEvery1(benchmark::State &state) { traceWithDivisor(state, 1); }
void ProbeTraceEvery20(benchmark::State &state) { traceWithDivisor(state, 20); }
void ProbeTraceEvery0(benchmark::State &state) { traceWithDivisor(state, 0); }

void ProbeOperation(benchmark::State &state)
{
    RenderLoopProbe &p = probe();
    const QString name = QStringLiteral("LyricsView.scrollToActive");
    const QString detail = QStringLiteral("line=12");
    for (auto _ : state)
        p.endOperation(p.beginOperation(name, detail), detail);
}

} // namespace

BENCHMARK(ProbeTraceEvery1)->Name("Probe/Trace/every1")->Threads(1)->Threads(4)->UseRealTime();
BENCHMARK(ProbeTraceEvery20)->Name("Probe/Trace/every20")->Threads(1)->Threads(4)->UseRealTime();
BENCHMARK(ProbeTraceEvery0)->Name("Probe/Trace/every0")->Threads(1)->Threads(4)->UseRealTime();
BENCHMARK(ProbeOperation)->Name("Probe/Operation/beginEnd");
