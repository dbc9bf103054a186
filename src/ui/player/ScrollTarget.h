#pragma once

// Where a scroll view's content offset must go so that one row sits at the anchor: the row's
// centre in the viewport's centre, or the row's top at the viewport's top. The result is clamped
// to the scrollable range [0, max(0, contentHeight − viewportHeight)], so a row near either end
// brings the content to that end instead of past it.
enum class ScrollAnchor { center, top };

double scrollTargetOffset(double rowY, double rowHeight, double viewportHeight, double contentHeight,
                          ScrollAnchor anchor);
