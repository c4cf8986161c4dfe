#include "shell/StatusItem.h"

#include <QCoreApplication>
#include <QCursor>
#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QStandardPaths>

#include "shell/NotifierItem.h"
#include "views/MenuBarIcon.h"

namespace vesperine {
namespace {

const QString kSymbolicName = QStringLiteral("vesperine-symbolic");
const QString kSymbolicFile = QStringLiteral("hicolor/symbolic/apps/vesperine-symbolic.svg");

// The icon folder of a moved or uninstalled tree, next to the executable.
QString iconsBesideProgram() {
    const QString folder =
        QCoreApplication::applicationDirPath() + QStringLiteral("/../share/icons");
    return QFileInfo::exists(folder + QLatin1Char('/') + kSymbolicFile)
               ? QDir(folder).canonicalPath()
               : QString();
}

bool symbolicIconInstalled() {
    return !QStandardPaths::locate(QStandardPaths::GenericDataLocation,
                                   QStringLiteral("icons/") + kSymbolicFile)
                .isEmpty();
}

}  // namespace

StatusItem::StatusItem(QMenu& menu, QObject* parent) : QObject(parent), menu_(menu) {}

StatusItem::~StatusItem() = default;

void StatusItem::show(const QColor& ink) {
    ink_ = ink;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        auto* watcher =
            new QDBusServiceWatcher(QString::fromLatin1(NotifierItem::watcherService), bus,
                                    QDBusServiceWatcher::WatchForOwnerChange, this);
        connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
                [this](const QString&, const QString&, const QString& owner) {
                    useNotifierItem(!owner.isEmpty());
                });
    }
    useNotifierItem(NotifierItem::watcherPresent(bus));
}

void StatusItem::useNotifierItem(bool notifierItem) {
    if (notifierItem && !notifier_) {
        if (tray_) {
            tray_->hide();
            delete tray_;
        }
        notifier_ = new NotifierItem(QDBusConnection::sessionBus(), menu_, this);
        notifier_->setIconThemePath(iconsBesideProgram());
        connect(notifier_, &NotifierItem::activated, this, [this](QPoint position) {
            clickAt_ = QRect(position, QSize(1, 1));
            Q_EMIT clicked();
        });
        connect(notifier_, &NotifierItem::hostChanged, this, &StatusItem::hostChanged);
    } else if (!notifierItem && !tray_) {
        delete notifier_;
        tray_ = new QSystemTrayIcon(this);
        tray_->setContextMenu(&menu_);
        connect(tray_, &QSystemTrayIcon::activated, this, &StatusItem::onActivated);
    }
    drawIcon();
    if (tray_) {
        tray_->show();
    }
}

void StatusItem::setInk(const QColor& ink) {
    if (ink != ink_) {
        ink_ = ink;
        drawIcon();
    }
}

void StatusItem::drawIcon() {
    if (tray_) {
        tray_->setIcon(MenuBarIcon::trayIcon(ink_));
    }
    if (notifier_) {
        // Hosts that recolour symbolic icons use the name; the others the
        // picture, already in the tray's text colour.
        const bool named = !notifier_->iconThemePath().isEmpty() || symbolicIconInstalled();
        notifier_->setIcon(MenuBarIcon::squareImage(ink_, 22), named ? kSymbolicName : QString());
    }
}

bool StatusItem::servedAsNotifierItem() const {
    return !notifier_.isNull();
}

bool StatusItem::hosted() const {
    if (notifier_) {
        return notifier_->registered();
    }
    return tray_ && QSystemTrayIcon::isSystemTrayAvailable();
}

std::optional<QRect> StatusItem::embeddedRect() const {
    if (tray_) {
        const QRect reported = tray_->geometry();
        if (reported.isValid() && !reported.isEmpty()) {
            return reported;
        }
    }
    return std::nullopt;
}

std::optional<QRect> StatusItem::buttonRect() const {
    if (const auto embedded = embeddedRect()) {
        return embedded;
    }
    return clickAt_;
}

void StatusItem::onActivated(QSystemTrayIcon::ActivationReason reason) {
    // A quick second click arrives as a double click; it is still a click.
    if (reason != QSystemTrayIcon::Trigger && reason != QSystemTrayIcon::DoubleClick) {
        return;
    }
    clickAt_ = QRect(QCursor::pos(), QSize(1, 1));
    Q_EMIT clicked();
}

}  // namespace vesperine
