#include "ui/design/ModalSizing.h"

#include <algorithm>

ModalSize ModalSizing::size(QSizeF container)
{
    const double w = container.width(), h = container.height();
    const bool narrow = w < 900;
    const double candidate = narrow ? std::min(w - 64, 720.0) : std::min(w * 0.65, 720.0);
    const double floor = narrow ? 384 : 560;
    return {std::max(candidate, floor), std::max(std::min(h - 96, h * 0.8), 240.0)};
}
