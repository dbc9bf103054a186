#include "ui/library/ShareCardPainter.h"

#include "ui/design/Icon.h"
#include "ui/design/Theme.h"
#include "ui/library/ShareCardText.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cmath>

namespace {

QColor at(QColor c, double opacity)
{
    return Theme::withAlpha(c, opacity);
}

QColor clear(QColor c)
{
    return Theme::withAlpha(c, 0);
}

QLinearGradient diagonal(const QRectF &r, std::initializer_list<QColor> colors)
{
    QLinearGradient g(r.topLeft(), r.bottomRight());
    const int n = int(colors.size());
    int i = 0;
    for (const QColor &c : colors)
        g.setColorAt(n > 1 ? double(i++) / (n - 1) : 0, c);
    return g;
}

// A glow from `color` at `startRadius` fading to clear at `endRadius`.
void radialGlow(QPainter &p, const QRectF &area, QPointF centre, QColor color, double startRadius,
                double endRadius)
{
    QRadialGradient g(centre, endRadius);
    g.setColorAt(0, color);
    g.setColorAt(startRadius / endRadius, color);
    g.setColorAt(1, clear(color));
    p.fillRect(area, g);
}

QPainterPath roundedPath(const QRectF &r, double radius)
{
    QPainterPath path;
    path.addRoundedRect(r, radius, radius);
    return path;
}

void drawIcon(QPainter &p, const QString &name, const QRectF &rect, const QColor &color)
{
    const double scale = p.device() ? p.device()->devicePixelRatioF() * p.transform().m11() : 1.0;
    const QSize pixels(int(std::ceil(rect.width() * scale)), int(std::ceil(rect.height() * scale)));
    const QImage image = Icon::render(name, pixels, color);
    if (!image.isNull())
        p.drawImage(rect, image);
}

void drawCapsule(QPainter &p, const QRectF &rect, const QColor &fill, const QColor &border)
{
    const double r = rect.height() / 2;
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawRoundedRect(rect, r, r);
    // Stroke inside the edge.
    const QRectF inner = rect.adjusted(0.5, 0.5, -0.5, -0.5);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(border, 1));
    p.drawRoundedRect(inner, inner.height() / 2, inner.height() / 2);
}

void drawText(QPainter &p, const QPointF &baseline, const QString &text, const QFont &font, const QColor &color)
{
    p.setFont(font);
    p.setPen(color);
    p.drawText(baseline, text);
}

void drawBlock(QPainter &p, const ShareCardLayout::TextBlock &block, const QColor &color)
{
    if (!block.layout)
        return;
    p.setPen(color);
    block.layout->draw(&p, block.origin);
}

void drawBackdrop(QPainter &p, const ShareCardText::Palette &palette)
{
    const QRectF canvas(0, 0, ShareCardLayout::canvasSide, ShareCardLayout::canvasSide);
    const double side = ShareCardLayout::canvasSide;
    p.fillRect(canvas, Theme::backgroundInk());
    p.fillRect(canvas, diagonal(canvas, {at(palette.c0, 0.18), Theme::backgroundInk(), at(palette.c1, 0.2)}));
    radialGlow(p, canvas, canvas.topLeft(), at(palette.c0, 0.34), 12, 0.72 * side);
    radialGlow(p, canvas, canvas.bottomRight(), at(palette.c1, 0.3), 18, 0.7 * side);
    radialGlow(p, canvas, canvas.center(), at(palette.c2, 0.18), 8, 0.55 * side);
}

void drawPanelShadow(QPainter &p, const QRectF &panel, double radius, const QColor &c0)
{
    // Radius 22, offset 10 down: widening outlines whose alphas add up to about 0.2 at the edge.
    const QRectF shadow = panel.translated(0, 10);
    p.setPen(Qt::NoPen);
    constexpr int steps = 11;
    for (int i = steps; i >= 1; --i) {
        const double grow = 22.0 * i / steps;
        const double alpha = 0.2 * (1.0 - double(i) / (steps + 1)) / 5.0;
        p.setBrush(at(c0, alpha));
        p.drawRoundedRect(shadow.adjusted(-grow, -grow, grow, grow), radius + grow, radius + grow);
    }
}

void drawPanel(QPainter &p, const ShareCardLayout &l)
{
    const QRectF panel = l.panel;
    const double radius = l.parameters.cornerRadius;
    p.save();
    p.setClipPath(roundedPath(panel, radius));
    p.fillRect(panel, Theme::backgroundInk());
    p.fillRect(panel, diagonal(panel, {at(Theme::neonViolet(), 0.22), Theme::backgroundInk(),
                                       at(Theme::neonPink(), 0.2)}));
    radialGlow(p, panel, panel.topLeft(), at(Theme::neonCyan(), 0.1), 0, 0.75 * panel.width());
    p.restore();

    // The border, stroked inside the edge, at 0.62 as a whole.
    const QRectF inner = panel.adjusted(0.6, 0.6, -0.6, -0.6);
    QPen pen(QBrush(diagonal(panel, {Theme::neonCyan(), Theme::neonViolet(), Theme::neonPink()})), 1.2,
             Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
    pen.setMiterLimit(10);
    p.save();
    p.setOpacity(0.62);
    p.setBrush(Qt::NoBrush);
    p.setPen(pen);
    p.drawRoundedRect(inner, radius - 0.6, radius - 0.6);
    p.restore();
}

void drawHeader(QPainter &p, const ShareCardLayout &l)
{
    drawCapsule(p, l.tagChip.rect, Theme::white(0.08), Theme::white(0.12));
    drawText(p, l.tagChip.textOrigin, l.tagChip.text, l.tagChip.font, Theme::white(0.45));
    if (l.hasTimeChip) {
        const QColor ink = at(Theme::neonCyan(), 0.75);
        drawCapsule(p, l.timeChip.rect, at(Theme::neonCyan(), 0.1), at(Theme::neonCyan(), 0.25));
        drawIcon(p, QStringLiteral("clock"), l.clockIconRect, ink);
        drawText(p, l.timeChip.textOrigin, l.timeChip.text, l.timeChip.font, ink);
    }
}

void drawMiddle(QPainter &p, const ShareCardLayout &l)
{
    p.save();
    p.setClipRect(QRectF(l.panel.left(), l.panel.top(), l.panel.width(), l.middleBottom - l.panel.top()));
    drawBlock(p, l.hero, Qt::white);
    if (l.hasPhraseChip) {
        const QColor cyan = Theme::neonCyan();
        drawCapsule(p, l.phraseChip.rect, at(cyan, 0.1), at(cyan, 0.35));
        p.save();
        // A phrase too long for the column is cut inside the capsule's padding.
        p.setClipRect(l.phraseChip.rect.adjusted(0, 0, -9, 0), Qt::IntersectClip);
        drawText(p, l.phraseChip.textOrigin, l.phraseChip.text, l.phraseChip.font, cyan);
        p.restore();
    }
    for (const ShareCardLayout::Row &row : l.rows) {
        const QColor label = Theme::white(0.45);
        drawIcon(p, row.row.symbol, row.iconRect, label);
        drawText(p, row.titleBaseline, row.row.title, row.titleFont, label);
        drawBlock(p, row.value, row.row.valueColor);
    }
    p.restore();
}

void drawFooter(QPainter &p, const ShareCardLayout &l)
{
    p.fillRect(QRectF(l.footerRect.left(), l.dividerY, l.footerRect.width(), 1), Theme::white(0.08));
    drawBlock(p, l.footerSong, Theme::white(0.7));
    drawText(p, l.productOrigin, QStringLiteral("Cantorella"), l.productFont, Theme::white(0.45));
}

} // namespace

namespace ShareCardPainter {

void paint(QPainter &painter, const ShareCardContent &content, const ShareCardLayout &layout)
{
    const ShareCardText::Palette palette = ShareCardText::palettes().at(ShareCardText::paletteIndex(content));
    painter.save();
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing | QPainter::SmoothPixmapTransform);
    drawBackdrop(painter, palette);
    drawPanelShadow(painter, layout.panel, layout.parameters.cornerRadius, palette.c0);
    drawPanel(painter, layout);
    painter.save();
    painter.setClipPath(roundedPath(layout.panel, layout.parameters.cornerRadius));
    drawHeader(painter, layout);
    drawMiddle(painter, layout);
    drawFooter(painter, layout);
    painter.restore();
    painter.restore();
}

QImage render(const ShareCardContent &content, double scale)
{
    const int side = int(std::lround(ShareCardLayout::canvasSide * scale));
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(scale);
    image.fill(Theme::backgroundInk());
    QPainter painter(&image);
    paint(painter, content, ShareCardLayout::compute(content));
    painter.end();
    return image;
}

double exportScale(double screenRatio)
{
    return std::isfinite(screenRatio) ? std::max(screenRatio, 2.0) : 2.0;
}

} // namespace ShareCardPainter
