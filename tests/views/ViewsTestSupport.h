#pragma once

#include <QAbstractAnimation>
#include <QApplication>
#include <QImage>
#include <QLayout>
#include <QTest>
#include <QWidget>

#include <stdexcept>
#include <string>

#include "model/ModelTestSupport.h"
#include "support/ColourNear.h"
#include "views/Palette.h"

namespace vesperine::testing {

using ModelRig = ModelParts;

// Lays `widget` out at `width` logical pixels as a top-level widget shown off screen.
inline void showAtWidth(QWidget& widget, int width = 288) {
    widget.ensurePolished();
    if (widget.layout() != nullptr) {
        widget.layout()->activate();
    }
    widget.resize(width, widget.hasHeightForWidth() ? widget.heightForWidth(width)
                                                    : widget.sizeHint().height());
    widget.show();
    QApplication::processEvents();
}

// The colour of the logical pixel (x, y) of the widget drawn at 2 device
// pixels per logical pixel on the panel's background.
inline QColor pixelAt(QWidget& widget, qreal x, qreal y) {
    QImage image(widget.size() * 2, QImage::Format_ARGB32_Premultiplied);
    image.fill(Palette::panel());
    image.setDevicePixelRatio(2);
    widget.render(&image);
    return image.pixelColor(static_cast<int>(x * 2), static_cast<int>(y * 2));
}

// Waits until every animation of every window has run to its end.
inline void settle() {
    const auto running = [] {
        for (QWidget* window : QApplication::topLevelWidgets()) {
            for (const auto* animation : window->findChildren<QAbstractAnimation*>()) {
                if (animation->state() == QAbstractAnimation::Running) {
                    return true;
                }
            }
        }
        return false;
    };
    QTest::qWait(50);
    // A test that needs the end state checks it afterwards.
    static_cast<void>(QTest::qWaitFor([&] { return !running(); }, 5000));
    // Pages replaced during the animation are deleted on the next turn.
    QTest::qWait(10);
}

// The descendant of `root` of type T named `name`; a failure when there is none.
template <typename T>
T& child(QWidget& root, const char* name) {
    T* found = root.findChild<T*>(QString::fromLatin1(name));
    if (found == nullptr) {
        throw std::runtime_error(std::string("no child named ") + name);
    }
    return *found;
}

}  // namespace vesperine::testing
