// The share card: painting the picture at the export scale, and encoding it as PNG, both done
// synchronously when the user presses copy or save.

#include "ShareFixtures.h"

#include "ui/library/ShareCardPainter.h"
#include "ui/library/ShareServices.h"

#include <benchmark/benchmark.h>

namespace {

void renderCard(benchmark::State &state)
{
    const ShareCardContent content = sharefixture::fullCard();
    for (auto _ : state) {
        const QImage image = ShareCardPainter::render(content, 2.0);
        benchmark::DoNotOptimize(image.constBits());
    }
}

void encodePng(benchmark::State &state)
{
    const QImage image = ShareCardPainter::render(sharefixture::fullCard(), 2.0);
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
