#include "ui/library/ShareCardLayout.h"

#include "ui/design/Theme.h"

#include <QFontMetricsF>
#include <QTextBoundaryFinder>

#include <cmath>

namespace {

const QString ellipsis = QStringLiteral("…");

void layoutLines(QTextLayout &layout, double width, double lineHeight)
{
    layout.beginLayout();
    double y = 0;
    for (;;) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(width);
        line.setPosition(QPointF(0, y));
        y += lineHeight;
    }
    layout.endLayout();
}

// Formats of `formats` clipped to the first `length` characters.
QList<QTextLayout::FormatRange> clipped(const QList<QTextLayout::FormatRange> &formats, int length)
{
    QList<QTextLayout::FormatRange> result;
    for (QTextLayout::FormatRange range : formats) {
        if (range.start >= length)
            continue;
        range.length = std::min(range.length, length - range.start);
        result.append(range);
    }
    return result;
}

// The chip geometry: a capsule around `text` with the given paddings, its left edge at x and
// its text baseline on `baseline`.
ShareCardLayout::Chip makeChip(const QString &text, const QFont &font, double x, double baseline, double padH,
                               double padV, double leadingExtra = 0)
{
    const QFontMetricsF fm(font);
    ShareCardLayout::Chip chip;
    chip.text = text;
    chip.font = font;
    const double contentWidth = leadingExtra + fm.horizontalAdvance(text);
    chip.rect = QRectF(x, baseline - fm.ascent() - padV, contentWidth + 2 * padH, fm.height() + 2 * padV);
    chip.textOrigin = QPointF(x + padH + leadingExtra, baseline);
    return chip;
}

double lineHeightOf(const QFont &font, double extraSpacing)
{
    return QFontMetricsF(font).lineSpacing() + extraSpacing;
}

} // namespace

QFont ShareCardLayout::font(double pixelSize, QFont::Weight weight, bool monospaced)
{
    QFont f(monospaced ? QStringLiteral("Noto Sans Mono CJK SC") : QStringLiteral("Noto Sans CJK SC"));
    // Whole pixels: a fractional size would go through points and so through the device's DPI.
    f.setPixelSize(std::max(1, int(std::lround(pixelSize))));
    f.setWeight(weight);
    f.setHintingPreference(QFont::PreferNoHinting);
    f.setStyleStrategy(QFont::PreferAntialias);
    if (monospaced)
        f.setStyleHint(QFont::Monospace);
    return f;
}

ShareCardLayout::TextBlock ShareCardLayout::layoutText(const QString &text, const QFont &font, double width,
                                                       double extraSpacing, int maxLines,
                                                       const QList<QTextLayout::FormatRange> &formats)
{
    const double lineHeight = lineHeightOf(font, extraSpacing);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    option.setUseDesignMetrics(true);

    auto make = [&](QString shown, const QList<QTextLayout::FormatRange> &ranges) {
        // QTextLayout breaks lines only at U+2028; the swap keeps every index (and format) in place.
        shown.replace(QLatin1Char('\n'), QChar::LineSeparator);
        auto layout = std::make_shared<QTextLayout>(shown, font);
        layout->setTextOption(option);
        layout->setFormats(ranges);
        layoutLines(*layout, width, lineHeight);
        return layout;
    };

    TextBlock block;
    block.layout = make(text, formats);
    if (maxLines > 0 && block.layout->lineCount() > maxLines) {
        // Cut after the last line that may show, then give back whole graphemes until the text
        // with its "…" fits in that many lines.
        const QTextLine last = block.layout->lineAt(maxLines - 1);
        QString kept = text.left(last.textStart() + last.textLength());
        QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, kept);
        finder.toEnd();
        for (;;) {
            QString candidate = kept;
            while (!candidate.isEmpty() && (candidate.back().isSpace() || candidate.endsWith(QLatin1Char('\n'))))
                candidate.chop(1);
            candidate += ellipsis;
            auto layout = make(candidate, clipped(formats, int(candidate.size() - ellipsis.size())));
            if (layout->lineCount() <= maxLines || kept.isEmpty()) {
                block.layout = layout;
                break;
            }
            const qsizetype previous = finder.toPreviousBoundary();
            kept = kept.left(std::max<qsizetype>(previous, 0));
        }
        block.truncated = true;
    }
    const int lines = block.layout->lineCount();
    block.height = lines > 0 ? (lines - 1) * lineHeight + QFontMetricsF(font).height() : 0;
    return block;
}

namespace {

QList<QTextLayout::FormatRange> heroFormats(const QList<ShareCardText::HeroRun> &runs, const QFont &heavy)
{
    QList<QTextLayout::FormatRange> formats;
    int position = 0;
    for (const ShareCardText::HeroRun &run : runs) {
        QTextLayout::FormatRange range;
        range.start = position;
        range.length = int(run.text.size());
        if (run.highlighted) {
            range.format.setFont(heavy);
            range.format.setForeground(Theme::neonCyan());
        } else {
            range.format.setForeground(QColor(Qt::white));
        }
        formats.append(range);
        position += int(run.text.size());
    }
    return formats;
}

struct HeroFit
{
    ShareCardLayout::TextBlock block;
    double size = 0;
};

HeroFit fitHero(const QString &text, const QList<ShareCardText::HeroRun> &runs, double width, double heroSize, double minScale,
                int maxLines)
{
    // The largest whole pixel size from the full size down to the minimum (32 → 19) at which the
    // text fits in maxLines lines; below that the minimum size, cut with "…".
    const double minSize = std::floor(heroSize * minScale);
    for (double size = std::round(heroSize); size >= minSize; size -= 1) {
        const QFont font = ShareCardLayout::font(size, QFont::Bold);
        auto block = ShareCardLayout::layoutText(text, font, width, 6, 0,
                                                 heroFormats(runs, ShareCardLayout::font(size, QFont::Black)));
        if (block.lineCount() <= maxLines)
            return {block, size};
    }
    const QFont font = ShareCardLayout::font(minSize, QFont::Bold);
    return {ShareCardLayout::layoutText(text, font, width, 6, maxLines,
                                        heroFormats(runs, ShareCardLayout::font(minSize, QFont::Black))),
            minSize};
}

} // namespace

ShareCardLayout ShareCardLayout::compute(const ShareCardContent &content)
{
    return compute(content, Parameters());
}

ShareCardLayout ShareCardLayout::compute(const ShareCardContent &content, const Parameters &parameters)
{
    const QString heroText = ShareCardText::lyricsText(content).normalized(QString::NormalizationForm_C);
    const QList<ShareCardText::HeroRun> runs = ShareCardText::highlightedLyrics(content);
    const QList<ShareCardText::StudyRow> studyRows = ShareCardText::studyRows(content);
    const bool phraseChip = !ShareCardText::phraseAppearsInLyrics(content);

    // Heights of the parts, for a given pair of line limits, measured at the origin.
    auto build = [&](int valueMaxLines, int heroMaxLines, double top) {
        ShareCardLayout l;
        l.parameters = parameters;
        const double margin = (canvasSide - panelSide) / 2;
        l.panel = QRectF(margin, margin, panelSide, panelSide);
        l.column = l.panel.adjusted(parameters.safeInset, parameters.safeInset, -parameters.safeInset,
                                    -parameters.safeInset);
        const double x = l.column.left();
        const double width = l.column.width();
        double y = top;

        // Header: both chips on one baseline.
        const QFont tagFont = font(13, QFont::Medium);
        const QFont timeFont = font(12, QFont::Medium, true);
        const QFontMetricsF tagMetrics(tagFont);
        const double baseline = y + 3 + tagMetrics.ascent();
        l.tagChip = makeChip(content.tag, tagFont, x, baseline, 9, 3);
        double headerBottom = l.tagChip.rect.bottom();
        if (content.lineTimestamp) {
            l.hasTimeChip = true;
            const double clockSize = 9;
            l.timeChip = makeChip(ShareCardContent::formatTimestamp(*content.lineTimestamp), timeFont,
                                  l.tagChip.rect.right() + 8, baseline, 7, 3, clockSize + 3);
            const QRectF chip = l.timeChip.rect;
            l.clockIconRect = QRectF(chip.left() + 7, chip.center().y() - clockSize / 2, clockSize, clockSize);
            headerBottom = std::max(headerBottom, chip.bottom());
        }
        l.headerRect = QRectF(x, y, width, headerBottom - y);
        y = headerBottom + 16;

        // Hero block.
        HeroFit fit = fitHero(heroText, runs, width, parameters.heroSize, parameters.heroMinScale, heroMaxLines);
        l.hero = fit.block;
        l.heroFontSize = fit.size;
        l.hero.origin = QPointF(x, y);
        y += l.hero.height;
        if (phraseChip) {
            l.hasPhraseChip = true;
            const QFont chipFont = font(12, QFont::DemiBold);
            y += 10;
            l.phraseChip = makeChip(QStringLiteral("短语：") + content.phrase, chipFont, x,
                                    y + 4 + QFontMetricsF(chipFont).ascent(), 9, 4);
            // A very long phrase stays inside the column.
            if (l.phraseChip.rect.right() > l.column.right())
                l.phraseChip.rect.setRight(l.column.right());
            y = l.phraseChip.rect.bottom();
        }

        // Study rows.
        if (!studyRows.isEmpty())
            y += 20;
        const QFont titleFont = font(12, QFont::DemiBold);
        const QFontMetricsF titleMetrics(titleFont);
        for (qsizetype i = 0; i < studyRows.size(); ++i) {
            if (i > 0)
                y += 12;
            Row row;
            row.row = studyRows.at(i);
            row.titleFont = titleFont;
            const QFont valueFont = font(14, QFont::Normal, row.row.monospaced);
            row.value = layoutText(row.row.value, valueFont, width - parameters.labelGutter - 6, 0, valueMaxLines);
            row.value.origin = QPointF(x + parameters.labelGutter + 6, y);
            // The label's first baseline sits on the value's first baseline.
            const double valueBaseline = y + QFontMetricsF(valueFont).ascent();
            row.labelRect = QRectF(x, y, parameters.labelGutter, row.value.height);
            row.iconRect = QRectF(x, valueBaseline - titleMetrics.ascent() + (titleMetrics.ascent() - 12) / 2 + 1,
                                  12, 12);
            row.titleBaseline = QPointF(x + 12 + 4, valueBaseline);
            y += std::max(row.value.height, titleMetrics.height());
            l.rows.append(row);
        }

        // Footer.
        y += 18;
        const double footerTop = y;
        l.dividerY = y;
        y += 1 + 10;
        const QFont songFont = font(14, QFont::Normal);
        l.productFont = font(13, QFont::Normal);
        const QFontMetricsF songMetrics(songFont);
        const QFontMetricsF productMetrics(l.productFont);
        const double productWidth = productMetrics.horizontalAdvance(QStringLiteral("Cantorella"));
        const double songWidth = width - productWidth - 8;
        const QString song = songMetrics.elidedText(ShareCardText::footerSongLine(content), Qt::ElideRight,
                                                    songWidth);
        l.footerSong = layoutText(song, songFont, songWidth, 0, 1);
        l.footerSong.origin = QPointF(x, y);
        l.productOrigin = QPointF(x + width - productWidth, y + songMetrics.ascent());
        y += songMetrics.height();
        l.footerRect = QRectF(x, footerTop, width, y - footerTop);
        return l;
    };

    ShareCardLayout natural = build(0, heroMaxLines, 0);
    const double available = natural.column.height();
    const double naturalHeight = natural.footerRect.bottom();
    if (naturalHeight <= available) {
        // Fits: centred in the panel.
        ShareCardLayout l = build(0, heroMaxLines, natural.column.top() + (available - naturalHeight) / 2);
        l.middleBottom = l.footerRect.top();
        return l;
    }
    ShareCardLayout l = build(overfullMaxLines, heroMaxLines, natural.column.top());
    if (l.footerRect.bottom() > l.column.bottom())
        l = build(overfullMaxLines, overfullMaxLines, natural.column.top());
    l.overfull = true;
    if (l.footerRect.bottom() > l.column.bottom()) {
        // Still too tall: the footer sits on the column's bottom and the middle is clipped.
        const double shift = l.column.bottom() - l.footerRect.bottom();
        l.footerRect.translate(0, shift);
        l.dividerY += shift;
        l.footerSong.origin.ry() += shift;
        l.productOrigin.ry() += shift;
    }
    l.middleBottom = l.footerRect.top();
    // The last row that reaches into the footer keeps the lines that fit above it, cut with "…";
    // a row is left out only when not even its first line fits (never cut through a line).
    const double rowsBottom = l.middleBottom - 18 + 0.01;
    while (!l.rows.isEmpty()) {
        Row &last = l.rows.last();
        if (last.value.origin.y() + last.value.height <= rowsBottom)
            break;
        const QFont valueFont = font(14, QFont::Normal, last.row.monospaced);
        const double room = rowsBottom - last.value.origin.y() - QFontMetricsF(valueFont).height();
        const int lines = room < 0 ? 0 : 1 + int(std::floor(room / lineHeightOf(valueFont, 0)));
        if (lines >= 1 && lines < last.value.lineCount()) {
            const QPointF origin = last.value.origin;
            last.value = layoutText(last.row.value, valueFont, l.column.width() - parameters.labelGutter - 6, 0, lines);
            last.value.origin = origin;
            last.labelRect.setHeight(last.value.height);
            break;
        }
        l.rows.removeLast();
    }
    return l;
}
