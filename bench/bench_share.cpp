// The share card: painting the picture at the export scale, and encoding it as PNG, both done
// synchronously when the user presses copy or save.

#include "ui/library/ShareCardPainter.h"
#include "ui/library/ShareServices.h"

#include <benchmark/benchmark.h>

namespace {

// A full card: a highlighted hero under a previous line, all six study rows and a time chip.
ShareCardContent fixtureCard()
{
    ShareCardContent::Input input;
    input.phrase = QStringLiteral("kick it");
    input.translation = QStringLiteral("开始行动；放手去做");
    input.note = QStringLiteral("口语里常用来号召大家开始");
    input.example = QStringLiteral("Let's kick it before the night is over.");
    input.tag = QStringLiteral("短语动词");
    input.pronunciationHint = PronunciationHint{PronunciationKind::linking, QStringLiteral("连起来读"),
                                                QStringLiteral("kɪkɪt")};
    input.culturalHint = QStringLiteral("常见于街舞和说唱文化");
    input.lineTimestamp = 75.4;
    input.lines = {{70.0, QStringLiteral("Turn the lights down low")},
                   {75.0, QStringLiteral("Kick it, kick IT, 跟着节奏走")}};
    input.songTitle = QStringLiteral("夜色节拍");
    input.songArtist = QStringLiteral("Example Band");
    return ShareCardContent::build(input);
}

void renderCard(benchmark::State &state)
{
    const ShareCardContent content = fixtureCard();
    for (auto _ : state) {
        const QImage image = ShareCardPainter::render(content, 2.0);
        benchmark::DoNotOptimize(image.constBits());
    }
}

void encodePng(benchmark::State &state)
{
    const QImage image = ShareCardPainter::render(fixtureCard(), 2.0);
    qint64 bytes = 0;
    for (auto _ : state) {
        const QByteArray png = ShareExport::encodePng(image);
        bytes = png.size();
        benchmark::DoNotOptimize(png.constData());
    }
    state.counters["bytes"] = double(bytes);
}

} // namespace

BENCHMARK(renderCard)->Name("Share/RenderCard")->Unit(benchmark::kMillisecond);
BENCHMARK(encodePng)->Name("Share/EncodePng")->Unit(benchmark::kMillisecond);
