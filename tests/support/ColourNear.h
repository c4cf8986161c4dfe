#pragma once

#include <QColor>

#include <cstdlib>

namespace vesperine::testing {

// Within `tolerance` (0 to 255 per channel) of `expected`.
inline bool near(const QColor& actual, const QColor& expected, int tolerance = 2) {
    return std::abs(actual.red() - expected.red()) <= tolerance &&
           std::abs(actual.green() - expected.green()) <= tolerance &&
           std::abs(actual.blue() - expected.blue()) <= tolerance &&
           std::abs(actual.alpha() - expected.alpha()) <= tolerance;
}

}  // namespace vesperine::testing
