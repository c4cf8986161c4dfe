#include "shell/PanelGeometry.h"

#include <algorithm>
#include <cmath>

namespace vesperine::PanelGeometry {

std::optional<Rect> anchoredFrame(double contentHeight, const Rect& button,
                                  const std::optional<Rect>& visibleFrame) {
    const double h = std::ceil(contentHeight);
    if (!std::isfinite(h) || h <= 1.0) {
        return std::nullopt;
    }
    // No screen: centred under the button, top edge on its bottom edge.
    const Rect v =
        visibleFrame.value_or(Rect{button.midX() - halfWidth, button.minY() - h, panelWidth, h});

    double y = 0.0;
    if (visibleFrame && button.midY() < v.midY()) {
        const double bottom = std::max(v.minY(), button.maxY() + gapToIcon);
        y = std::min(v.maxY() - h, bottom);
    } else {
        const double top = std::min(v.maxY(), button.minY() - gapToIcon);
        y = std::max(v.minY(), top - h);
    }
    double x = std::max(v.minX(), button.midX() - halfWidth);
    x = std::min(x, v.maxX() - panelWidth);
    return Rect{x, y, panelWidth, h};
}

Rect fromQt(const QRectF& rect, double primaryBottom) {
    return Rect{rect.x(), primaryBottom - (rect.y() + rect.height()), rect.width(), rect.height()};
}

QRectF toQt(const Rect& rect, double primaryBottom) {
    return QRectF(rect.x, primaryBottom - (rect.y + rect.height), rect.width, rect.height);
}

}  // namespace vesperine::PanelGeometry
