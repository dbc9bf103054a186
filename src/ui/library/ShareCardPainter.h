#pragma once

#include "core/ShareCardContent.h"
#include "ui/library/ShareCardLayout.h"

#include <QImage>

class QPainter;

// Draws the share card: the same picture for the sheet's preview and for the exported PNG.
// Every colour is fixed; nothing depends on the desktop's appearance.
//
// The backdrop's radial glows fade to clear without the blur the design asks for; a soft
// shadow under the panel is drawn as a few widening translucent outlines.
namespace ShareCardPainter {

// Paints into `painter` in card points (600 × 600 from the origin).
void paint(QPainter &painter, const ShareCardContent &content, const ShareCardLayout &layout);
// The card as an image of 600·scale pixels square, device pixel ratio `scale`.
QImage render(const ShareCardContent &content, double scale);
// The export scale: the screen's ratio, never below 2.
double exportScale(double screenRatio);

} // namespace ShareCardPainter
