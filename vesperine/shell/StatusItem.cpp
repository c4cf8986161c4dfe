#include "shell/StatusItem.h"

#include <QCursor>

namespace vesperine {

StatusItem::StatusItem(const QIcon& icon, QObject* parent)
    : QObject(parent), tray_(new QSystemTrayIcon(icon, this)) {
    connect(tray_, &QSystemTrayIcon::activated, this, &StatusItem::onActivated);
}

std::optional<QRect> StatusItem::buttonRect() const {
    const QRect reported = tray_->geometry();
    if (reported.isValid() && !reported.isEmpty()) {
        return reported;
    }
    return pointerAtClick_;
}

void StatusItem::onActivated(QSystemTrayIcon::ActivationReason reason) {
    // A quick second click arrives as a double click; it is still a click.
    if (reason != QSystemTrayIcon::Trigger && reason != QSystemTrayIcon::DoubleClick) {
        return;
    }
    pointerAtClick_ = QRect(QCursor::pos(), QSize(1, 1));
    Q_EMIT clicked();
}

}  // namespace vesperine
