#pragma once

#include <QColor>

class QWidget;

namespace vesperine::Palette {

// The panel's width in logical pixels, whatever page it shows.
inline constexpr int panelWidth = 288;

// White at `alpha` (0 to 1): the light strokes and fills of the dark look.
QColor white(float alpha);

// The panel's own colours, sRGB, made once on first use.
const QColor& panel();
const QColor& runOn();
const QColor& runOnBorder();  // alpha 0.55
const QColor& runOnDot();
const QColor& controlFill();    // white at alpha 0.055
const QColor& controlBorder();  // white at alpha 0.1
const QColor& warn();

// Light label colours of the dark look, at three decreasing levels of emphasis.
const QColor& primaryForeground();
const QColor& secondaryForeground();
const QColor& tertiaryForeground();
const QColor& separator();

// The glyph's gradient ends.
const QColor& orange();
const QColor& indigo();

// Gives `widget` and everything below it the panel's dark palette, whatever the
// desktop's colour scheme.
void applyDarkAppearance(QWidget& widget);

}  // namespace vesperine::Palette
