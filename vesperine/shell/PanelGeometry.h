#pragma once

#include <QRectF>

#include <optional>

#include "views/Palette.h"

namespace vesperine::PanelGeometry {

inline constexpr double panelWidth = Palette::panelWidth;  // logical pixels
inline constexpr double halfWidth = panelWidth / 2.0;
inline constexpr double gapToIcon = 6.0;
inline constexpr double initialHeight = 1.0;

// A rectangle in the anchoring coordinates: origin at the bottom-left of the
// primary screen, y upward, (x, y) the bottom-left corner. Logical pixels.
struct Rect {
    double x = 0.0;
    double y = 0.0;
    double width = 0.0;
    double height = 0.0;

    double minX() const { return x; }
    double maxX() const { return x + width; }
    double midX() const { return x + width / 2.0; }
    double minY() const { return y; }
    double maxY() const { return y + height; }
    double midY() const { return y + height / 2.0; }
    bool operator==(const Rect&) const = default;
};

// Where the panel goes for a content height, the tray button's rectangle and
// the usable part of its screen (absent: no screen at all). Nothing when the
// height, rounded up, is not finite or not above 1 pixel.
//
// Normally the panel hangs 6 below the button, pushed up onto the visible
// frame when taller than the room below, x clamped with the right edge
// winning. A button in the lower half of the frame (a tray at the bottom of
// the screen) gets the mirror image: the panel stands 6 above it.
std::optional<Rect> anchoredFrame(double contentHeight, const Rect& button,
                                  const std::optional<Rect>& visibleFrame);

// Qt's y-down global rectangles and the y-up ones above, mirrored about the
// bottom edge of the primary screen (Qt y of that edge); its own inverse.
Rect fromQt(const QRectF& rect, double primaryBottom);
QRectF toQt(const Rect& rect, double primaryBottom);

}  // namespace vesperine::PanelGeometry
