#pragma once

#include <QIcon>
#include <QObject>
#include <QRect>
#include <QSystemTrayIcon>

#include <optional>

namespace vesperine {

// The icon in the desktop's system tray. A left click emits clicked(). When no
// tray runs yet, the icon appears as soon as one does.
class StatusItem : public QObject {
    Q_OBJECT

  public:
    StatusItem(const QIcon& icon, QObject* parent = nullptr);

    void show() { tray_->show(); }
    QSystemTrayIcon& tray() { return *tray_; }

    // The icon's rectangle in global logical pixels: what the tray reports,
    // else a 1x1 rectangle at the pointer at the last click; nothing before
    // the first click on a tray that reports no geometry.
    std::optional<QRect> buttonRect() const;

  Q_SIGNALS:
    void clicked();

  private:
    void onActivated(QSystemTrayIcon::ActivationReason reason);

    QSystemTrayIcon* tray_;
    std::optional<QRect> pointerAtClick_;
};

}  // namespace vesperine
