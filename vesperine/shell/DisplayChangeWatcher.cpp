#include "shell/DisplayChangeWatcher.h"

#include <QGuiApplication>
#include <QScreen>

namespace vesperine {

DisplayChangeWatcher::DisplayChangeWatcher(QObject* parent) : QObject(parent) {
    settle_.setSingleShot(true);
    settle_.setInterval(settleMilliseconds);
    connect(&settle_, &QTimer::timeout, this, &DisplayChangeWatcher::displaysChanged);

    auto* app = qGuiApp;
    if (app == nullptr) {
        return;
    }
    const auto changed = [this] { settle_.start(); };
    connect(app, &QGuiApplication::screenAdded, this, [this, changed](QScreen* screen) {
        watchScreen(screen);
        changed();
    });
    connect(app, &QGuiApplication::screenRemoved, this, changed);
    connect(app, &QGuiApplication::primaryScreenChanged, this, changed);
    for (QScreen* screen : QGuiApplication::screens()) {
        watchScreen(screen);
    }
}

void DisplayChangeWatcher::watchScreen(QScreen* screen) {
    connect(screen, &QScreen::geometryChanged, this, [this] { settle_.start(); });
    // A new mode at the same size (another refresh rate) reloads the ramps too.
    connect(screen, &QScreen::refreshRateChanged, this, [this] { settle_.start(); });
}

}  // namespace vesperine
