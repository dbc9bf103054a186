#include "ui/design/ProgressFractions.h"

#include <algorithm>

namespace {
double clampUnit(double f)
{
    if (!(f > 0)) // also NaN
        return 0;
    return std::min(f, 1.0);
}
} // namespace

double ProgressFractions::readOnly(double elapsed, double duration)
{
    if (!(duration > 0))
        return 0;
    return clampUnit(elapsed / duration);
}

double ProgressFractions::learned(double fraction)
{
    return clampUnit(fraction);
}
