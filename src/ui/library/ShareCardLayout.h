#pragma once

#include "core/ShareCardContent.h"
#include "ui/library/ShareCardText.h"

#include <QFont>
#include <QList>
#include <QRectF>
#include <QString>
#include <QTextLayout>

#include <memory>

// The measurements of one share card, in the card's logical points (a 600 × 600 canvas with a
// 540 × 540 panel centred in it). Computed without painting, so tests can check where things go.
//
// The column is centred in the panel when it fits. An overfull card keeps its header and footer
// inside the panel: the column moves to the top, the study values are cut to 4 lines with "…",
// then the hero text to 4 lines; the last row that still reaches into the footer keeps the lines
// that fit (cut with "…"), and a row is left out only when not even its first line fits.
struct ShareCardLayout
{
    struct Parameters
    {
        double heroSize = 32;
        double heroMinScale = 0.6;
        double cornerRadius = 24;
        double safeInset = 24;
        double labelGutter = 52;
    };

    static constexpr double canvasSide = 600;
    static constexpr double panelSide = 540;
    static constexpr int heroMaxLines = 6;
    static constexpr int overfullMaxLines = 4;

    // A laid-out block of text: its lines are positioned relative to `origin`.
    struct TextBlock
    {
        std::shared_ptr<QTextLayout> layout;
        QPointF origin;
        double height = 0;
        bool truncated = false;
        int lineCount() const { return layout ? layout->lineCount() : 0; }
    };

    struct Chip
    {
        QRectF rect; // the capsule
        QString text;
        QFont font;
        QPointF textOrigin; // baseline start
    };

    struct Row
    {
        ShareCardText::StudyRow row;
        QRectF labelRect; // the label gutter
        QRectF iconRect;
        QPointF titleBaseline;
        QFont titleFont;
        TextBlock value;
    };

    Parameters parameters;
    QRectF panel;
    QRectF column; // the panel less the safe inset
    bool overfull = false;

    Chip tagChip;
    bool hasTimeChip = false;
    Chip timeChip;       // text is the time
    QRectF clockIconRect;
    QRectF headerRect;

    TextBlock hero;
    double heroFontSize = 0;
    bool hasPhraseChip = false;
    Chip phraseChip;

    QList<Row> rows;
    double middleBottom = 0; // content between the header and the footer is clipped here

    QRectF footerRect;
    double dividerY = 0;
    TextBlock footerSong;
    QPointF productOrigin;
    QFont productFont;

    static ShareCardLayout compute(const ShareCardContent &content);
    static ShareCardLayout compute(const ShareCardContent &content, const Parameters &parameters);

    // The card's fonts: the CJK sans (also for the rounded design) and its monospaced twin, by
    // pixel size, unhinted so the layout is the same at every scale.
    static QFont font(double pixelSize, QFont::Weight weight, bool monospaced = false);
    // Lays `text` out in `width`, lines `extraSpacing` apart beyond the font's line spacing, cut
    // with "…" after `maxLines` lines (0: no limit).
    static TextBlock layoutText(const QString &text, const QFont &font, double width, double extraSpacing,
                                int maxLines, const QList<QTextLayout::FormatRange> &formats = {});
};
