// The design system's per-frame drawing: one particle-canvas frame at the main window's size.

#include "ui/design/ParticleCanvas.h"

#include <benchmark/benchmark.h>

#include <QImage>
#include <QPainter>

namespace {

// One 800 × 950 frame of the panel's 46 particles into a cleared image, as the canvas paints it.
void particleCanvasPaint(benchmark::State &state)
{
    QRandomGenerator random(42);
    const double now = 1000;
    const auto particles = ParticleCanvas::makeParticles(46, now, random);
    QImage image(800, 950, QImage::Format_ARGB32_Premultiplied);
    double t = now;
    for (auto _ : state) {
        image.fill(Qt::transparent);
        QPainter painter(&image);
        ParticleCanvas::drawParticles(painter, image.size(), t, particles);
        painter.end();
        benchmark::DoNotOptimize(image.constBits());
        t += 1.0 / 30;
    }
}

} // namespace

BENCHMARK(particleCanvasPaint)->Name("Ui/ParticleCanvas/paint")->Unit(benchmark::kMicrosecond);
