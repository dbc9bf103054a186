#include "ui/design/CTStyle.h"

#include "ui/design/Theme.h"

#include <algorithm>
#include <cmath>

namespace {
QColor a(QColor c, double opacity)
{
    return Theme::withAlpha(c, opacity);
}
const QColor none = QColor(0, 0, 0, 0);
} // namespace

CT::Colors CT::colors(Look look, Tone tone)
{
    const QColor cyan = Theme::neonCyan();
    const QColor pink = Theme::neonPink();
    switch (look) {
    case Primary:
        switch (tone) {
        case NeonCyan:
            return {QColor(10, 4, 32), none, none, true};
        case NeonPink:
            return {Theme::textPrimary(), a(pink, 0.85), pink, false};
        case Surface:
            return {Theme::textPrimary(), Theme::surfaceFillStrong(), Theme::strokeStrong(), false};
        }
        break;
    case Secondary:
        switch (tone) {
        case NeonCyan:
            return {cyan, Theme::surfaceFaint(), a(cyan, 0.55), false};
        case NeonPink:
            return {pink, a(pink, 0.1), a(pink, 0.45), false};
        case Surface:
            return {a(Theme::textPrimary(), 0.85), Theme::surfaceFill(), Theme::strokeStrong(), false};
        }
        break;
    case Chip:
        switch (tone) {
        case NeonCyan:
            return {a(cyan, 0.85), a(cyan, 0.12), a(cyan, 0.35), false};
        case NeonPink:
            return {pink, a(pink, 0.12), a(pink, 0.35), false};
        case Surface:
            return {Theme::textSecondary(), Theme::surfaceFill(), Theme::strokeSubtle(), false};
        }
        break;
    }
    return {Theme::textPrimary(), none, none, false};
}

double CT::pressedOpacity(Look look, bool down)
{
    if (!down)
        return 1.0;
    return look == Primary ? 0.85 : look == Secondary ? 0.75 : 1.0;
}

double CT::pressedScale(bool down, bool reduceMotion)
{
    return down && !reduceMotion ? 0.97 : 1.0;
}

bool capsuleContains(QSizeF size, QPointF p)
{
    const double w = size.width(), h = size.height();
    if (!(w > 0 && h > 0) || p.x() < 0 || p.y() < 0 || p.x() > w || p.y() > h)
        return false;
    const double r = std::min(w, h) / 2;
    // Nearest point of the capsule's core segment; inside when within r of it.
    const double cx = std::clamp(p.x(), r, w - r);
    const double cy = std::clamp(p.y(), r, h - r);
    return std::hypot(p.x() - cx, p.y() - cy) <= r;
}
