#include "ViewsTestSupport.h"

#include <QAbstractAnimation>
#include <QApplication>
#include <QLayout>
#include <QPainter>
#include <QTest>

#include <cstdlib>

#include "views/Palette.h"

namespace vesperine::testing {

AppModel& ModelRig::make() {
    auto fake = std::make_unique<FakeGeocoder>();
    geocoder = fake.get();
    model = std::make_unique<AppModel>(settings, filter, clock, std::move(fake));
    model->setPreviewDisplay(&display);
    notifications.clear();
    QObject::connect(model.get(), &AppModel::changed, model.get(),
                     [this](AppModel::Property property) { notifications.push_back(property); });
    return *model;
}

int ModelRig::count(AppModel::Property property) const {
    int n = 0;
    for (const auto p : notifications) {
        n += p == property ? 1 : 0;
    }
    return n;
}

void showAtWidth(QWidget& widget, int width) {
    widget.ensurePolished();
    if (widget.layout() != nullptr) {
        widget.layout()->activate();
    }
    const int height =
        widget.hasHeightForWidth() ? widget.heightForWidth(width) : widget.sizeHint().height();
    widget.resize(width, height);
    widget.show();
    QApplication::processEvents();
}

void settle() {
    const auto running = [] {
        for (QWidget* window : QApplication::topLevelWidgets()) {
            for (const QAbstractAnimation* animation :
                 window->findChildren<QAbstractAnimation*>()) {
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

QImage picture(QWidget& widget, qreal devicePixelRatio) {
    QImage image(widget.size() * devicePixelRatio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(devicePixelRatio);
    image.fill(Palette::panel());
    widget.render(&image);
    return image;
}

QColor pixelAt(const QImage& image, qreal x, qreal y) {
    const qreal ratio = image.devicePixelRatio();
    return image.pixelColor(static_cast<int>(x * ratio), static_cast<int>(y * ratio));
}

bool near(const QColor& actual, const QColor& expected, int tolerance) {
    return std::abs(actual.red() - expected.red()) <= tolerance &&
           std::abs(actual.green() - expected.green()) <= tolerance &&
           std::abs(actual.blue() - expected.blue()) <= tolerance &&
           std::abs(actual.alpha() - expected.alpha()) <= tolerance;
}

}  // namespace vesperine::testing
