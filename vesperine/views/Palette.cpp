#include "views/Palette.h"

#include <QPalette>
#include <QWidget>

namespace vesperine::Palette {
namespace {

QColor rgb(float red, float green, float blue, float alpha = 1.0f) {
    return QColor::fromRgbF(red, green, blue, alpha);
}

}  // namespace

QColor white(float alpha) {
    return rgb(1.0f, 1.0f, 1.0f, alpha);
}

const QColor& panel() {
    static const QColor colour = rgb(0.067f, 0.07f, 0.078f);
    return colour;
}

const QColor& runOn() {
    static const QColor colour = rgb(0.17f, 0.7f, 0.44f);
    return colour;
}

const QColor& runOnBorder() {
    static const QColor colour = rgb(0.34f, 0.88f, 0.58f, 0.55f);
    return colour;
}

const QColor& runOnDot() {
    static const QColor colour = rgb(0.8f, 1.0f, 0.88f);
    return colour;
}

const QColor& controlFill() {
    static const QColor colour = white(0.055f);
    return colour;
}

const QColor& controlBorder() {
    static const QColor colour = white(0.1f);
    return colour;
}

const QColor& warn() {
    static const QColor colour = rgb(0.96f, 0.68f, 0.34f);
    return colour;
}

const QColor& primaryForeground() {
    static const QColor colour = white(0.85f);
    return colour;
}

const QColor& secondaryForeground() {
    static const QColor colour = white(0.55f);
    return colour;
}

const QColor& tertiaryForeground() {
    static const QColor colour = white(0.3f);
    return colour;
}

const QColor& separator() {
    static const QColor colour = white(0.16f);
    return colour;
}

const QColor& orange() {
    static const QColor colour = rgb(1.0f, 0.624f, 0.039f);
    return colour;
}

const QColor& indigo() {
    static const QColor colour = rgb(0.369f, 0.361f, 0.902f);
    return colour;
}

void applyDarkAppearance(QWidget& widget) {
    QPalette palette;
    const QColor text = primaryForeground();
    const QColor base = rgb(1.0f, 1.0f, 1.0f, 0.06f);
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        const bool disabled = group == QPalette::Disabled;
        const QColor ink = disabled ? tertiaryForeground() : text;
        palette.setColor(group, QPalette::Window, Palette::panel());
        palette.setColor(group, QPalette::WindowText, ink);
        palette.setColor(group, QPalette::Text, ink);
        palette.setColor(group, QPalette::ButtonText, ink);
        palette.setColor(group, QPalette::Base, base);
        palette.setColor(group, QPalette::AlternateBase, base);
        palette.setColor(group, QPalette::Button, rgb(1.0f, 1.0f, 1.0f, 0.1f));
        palette.setColor(group, QPalette::PlaceholderText, tertiaryForeground());
        palette.setColor(group, QPalette::Highlight, rgb(0.0f, 0.48f, 1.0f, 0.75f));
        palette.setColor(group, QPalette::HighlightedText, Qt::white);
        palette.setColor(group, QPalette::ToolTipBase, rgb(0.16f, 0.16f, 0.17f));
        palette.setColor(group, QPalette::ToolTipText, text);
        palette.setColor(group, QPalette::Light, white(0.2f));
        palette.setColor(group, QPalette::Midlight, white(0.14f));
        palette.setColor(group, QPalette::Mid, white(0.1f));
        palette.setColor(group, QPalette::Dark, rgb(0.0f, 0.0f, 0.0f, 0.5f));
        palette.setColor(group, QPalette::Shadow, rgb(0.0f, 0.0f, 0.0f, 0.6f));
        palette.setColor(group, QPalette::BrightText, Qt::white);
        palette.setColor(group, QPalette::Link, rgb(0.25f, 0.6f, 1.0f));
    }
    widget.setPalette(palette);
}

}  // namespace vesperine::Palette
