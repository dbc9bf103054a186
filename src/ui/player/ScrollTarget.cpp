#include "ScrollTarget.h"

#include <algorithm>
#include <cmath>

double scrollTargetOffset(double rowY, double rowHeight, double viewportHeight, double contentHeight,
                          ScrollAnchor anchor)
{
    const double wanted = anchor == ScrollAnchor::center ? rowY + rowHeight / 2.0 - viewportHeight / 2.0 : rowY;
    const double maximum = std::max(0.0, contentHeight - viewportHeight);
    if (!std::isfinite(wanted))
        return 0.0;
    return std::clamp(wanted, 0.0, maximum);
}
