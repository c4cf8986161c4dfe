#pragma once

#include <QColor>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QSystemTrayIcon>

#include <optional>

class QMenu;

namespace vesperine {

class NotifierItem;

// The icon in the desktop's tray, with `menu` as its context menu. Where a
// StatusNotifierItem watcher runs it is served as such an item (the host then
// reports where each click was); otherwise it is an XEmbed icon through Qt,
// which appears as soon as such a tray starts. A primary click emits clicked().
class StatusItem : public QObject {
    Q_OBJECT

  public:
    StatusItem(QMenu& menu, QObject* parent = nullptr);
    ~StatusItem() override;

    // Puts the icon up, in `ink`, and keeps it up as trays come and go.
    void show(const QColor& ink);
    void setInk(const QColor& ink);
    QColor ink() const { return ink_; }

    // Whether some tray shows the icon now.
    bool hosted() const;
    // Whether the icon is a StatusNotifierItem now.
    bool servedAsNotifierItem() const;

    // The icon's rectangle in global logical pixels: what the tray reports,
    // else a 1x1 rectangle where the host or the pointer said the last click
    // was; nothing before the first click on a tray that reports no geometry.
    std::optional<QRect> buttonRect() const;
    // The icon's own window in an XEmbed tray, when the tray reports it.
    std::optional<QRect> embeddedRect() const;

  Q_SIGNALS:
    void clicked();
    // A tray took the icon, or let it go.
    void hostChanged();

  private:
    void useNotifierItem(bool notifierItem);
    void onActivated(QSystemTrayIcon::ActivationReason reason);
    void drawIcon();

    QMenu& menu_;
    QColor ink_;
    QPointer<QSystemTrayIcon> tray_;
    QPointer<NotifierItem> notifier_;
    std::optional<QRect> clickAt_;
};

}  // namespace vesperine
