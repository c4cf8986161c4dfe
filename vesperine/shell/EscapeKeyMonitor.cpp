#include "shell/EscapeKeyMonitor.h"

#include <QCoreApplication>
#include <QKeyEvent>

namespace vesperine {

EscapeKeyMonitor::EscapeKeyMonitor(std::function<void()> onEscape)
    : onEscape_(std::move(onEscape)) {
    if (QCoreApplication* app = QCoreApplication::instance()) {
        app->installEventFilter(this);
    }
}

void EscapeKeyMonitor::uninstall() {
    onEscape_ = nullptr;
    if (QCoreApplication* app = QCoreApplication::instance()) {
        app->removeEventFilter(this);
    }
}

bool EscapeKeyMonitor::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress ||
        static_cast<QKeyEvent*>(event)->key() != Qt::Key_Escape) {
        return QObject::eventFilter(watched, event);
    }
    // Copied first: the handler may uninstall this monitor.
    const auto handler = onEscape_;
    if (handler) {
        handler();
    }
    return true;
}

}  // namespace vesperine
