#include "shell/NotifierItem.h"

#include <QAction>
#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QMenu>
#include <QtEndian>

#include <unistd.h>

namespace vesperine {

// --- what travels on the bus

const QDBusArgument& operator<<(QDBusArgument& argument, const NotifierPixmap& pixmap) {
    argument.beginStructure();
    argument << pixmap.width << pixmap.height << pixmap.argb;
    argument.endStructure();
    return argument;
}
const QDBusArgument& operator>>(const QDBusArgument& argument, NotifierPixmap& pixmap) {
    argument.beginStructure();
    argument >> pixmap.width >> pixmap.height >> pixmap.argb;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator<<(QDBusArgument& argument, const NotifierToolTip& tip) {
    argument.beginStructure();
    argument << tip.iconName << tip.icon << tip.title << tip.text;
    argument.endStructure();
    return argument;
}
const QDBusArgument& operator>>(const QDBusArgument& argument, NotifierToolTip& tip) {
    argument.beginStructure();
    argument >> tip.iconName >> tip.icon >> tip.title >> tip.text;
    argument.endStructure();
    return argument;
}

// (ia{sv}av): the children travel as variants, each holding an entry.
const QDBusArgument& operator<<(QDBusArgument& argument, const MenuLayoutItem& item) {
    argument.beginStructure();
    argument << item.id << item.properties;
    argument.beginArray(qMetaTypeId<QDBusVariant>());
    for (const MenuLayoutItem& child : item.children) {
        argument << QDBusVariant(QVariant::fromValue(child));
    }
    argument.endArray();
    argument.endStructure();
    return argument;
}
const QDBusArgument& operator>>(const QDBusArgument& argument, MenuLayoutItem& item) {
    argument.beginStructure();
    argument >> item.id >> item.properties;
    argument.beginArray();
    while (!argument.atEnd()) {
        QDBusVariant child;
        argument >> child;
        item.children << qdbus_cast<MenuLayoutItem>(child.variant());
    }
    argument.endArray();
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator<<(QDBusArgument& argument, const MenuItemProperties& item) {
    argument.beginStructure();
    argument << item.id << item.properties;
    argument.endStructure();
    return argument;
}
const QDBusArgument& operator>>(const QDBusArgument& argument, MenuItemProperties& item) {
    argument.beginStructure();
    argument >> item.id >> item.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator<<(QDBusArgument& argument, const MenuItemPropertyNames& item) {
    argument.beginStructure();
    argument << item.id << item.names;
    argument.endStructure();
    return argument;
}
const QDBusArgument& operator>>(const QDBusArgument& argument, MenuItemPropertyNames& item) {
    argument.beginStructure();
    argument >> item.id >> item.names;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator<<(QDBusArgument& argument, const MenuEvent& event) {
    argument.beginStructure();
    argument << event.id << event.eventId << event.data << event.timestamp;
    argument.endStructure();
    return argument;
}
const QDBusArgument& operator>>(const QDBusArgument& argument, MenuEvent& event) {
    argument.beginStructure();
    argument >> event.id >> event.eventId >> event.data >> event.timestamp;
    argument.endStructure();
    return argument;
}

namespace {

const QString kItemPath = QStringLiteral("/StatusNotifierItem");
const QString kMenuPath = QStringLiteral("/MenuBar");

void registerTypes() {
    static const bool done = [] {
        qDBusRegisterMetaType<NotifierPixmap>();
        qDBusRegisterMetaType<NotifierPixmaps>();
        qDBusRegisterMetaType<NotifierToolTip>();
        qDBusRegisterMetaType<MenuLayoutItem>();
        qDBusRegisterMetaType<MenuItemProperties>();
        qDBusRegisterMetaType<MenuItemPropertiesList>();
        qDBusRegisterMetaType<MenuItemPropertyNames>();
        qDBusRegisterMetaType<MenuItemPropertyNamesList>();
        qDBusRegisterMetaType<MenuEvent>();
        qDBusRegisterMetaType<MenuEventList>();
        // The slots name the lists by these aliases; the bus finds them so.
        qRegisterMetaType<NotifierPixmaps>("vesperine::NotifierPixmaps");
        qRegisterMetaType<MenuItemPropertiesList>("vesperine::MenuItemPropertiesList");
        qRegisterMetaType<MenuItemPropertyNamesList>("vesperine::MenuItemPropertyNamesList");
        qRegisterMetaType<MenuEventList>("vesperine::MenuEventList");
        return true;
    }();
    (void)done;
}

NotifierPixmap toPixmap(const QImage& picture) {
    const QImage argb = picture.convertToFormat(QImage::Format_ARGB32);
    NotifierPixmap pixmap{argb.width(), argb.height(), {}};
    pixmap.argb.resize(static_cast<qsizetype>(argb.width()) * argb.height() * 4);
    auto* out = reinterpret_cast<quint32*>(pixmap.argb.data());
    for (int y = 0; y < argb.height(); ++y) {
        const auto* line = reinterpret_cast<const quint32*>(argb.constScanLine(y));
        for (int x = 0; x < argb.width(); ++x) {
            *out++ = qToBigEndian<quint32>(line[x]);
        }
    }
    return pixmap;
}

}  // namespace

// --- the item

NotifierItem::NotifierItem(QDBusConnection bus, QMenu& menu, QObject* parent)
    : QObject(parent),
      bus_(std::move(bus)),
      menu_(&menu),
      exportedMenu_(new NotifierMenu(menu, this)),
      watcher_(new QDBusServiceWatcher(QString::fromLatin1(watcherService), bus_,
                                       QDBusServiceWatcher::WatchForOwnerChange, this)),
      serviceName_(QStringLiteral("org.kde.StatusNotifierItem-%1-1").arg(::getpid())) {
    registerTypes();
    bus_.registerObject(kItemPath, this, QDBusConnection::ExportAllContents);
    bus_.registerObject(kMenuPath, exportedMenu_, QDBusConnection::ExportAllContents);
    bus_.registerService(serviceName_);
    connect(watcher_, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& newOwner) {
                if (newOwner.isEmpty()) {
                    registered_ = false;
                    Q_EMIT hostChanged(false);
                } else {
                    registerWithWatcher();
                }
            });
    if (watcherPresent(bus_)) {
        registerWithWatcher();
    }
}

NotifierItem::~NotifierItem() {
    bus_.unregisterObject(kMenuPath);
    bus_.unregisterObject(kItemPath);
    bus_.unregisterService(serviceName_);
}

bool NotifierItem::watcherPresent(const QDBusConnection& bus) {
    return bus.isConnected() && bus.interface() &&
           bus.interface()->isServiceRegistered(QString::fromLatin1(watcherService)).value();
}

void NotifierItem::registerWithWatcher() {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QString::fromLatin1(watcherService), QStringLiteral("/StatusNotifierWatcher"),
        QString::fromLatin1(watcherService), QStringLiteral("RegisterStatusNotifierItem"));
    call << serviceName_;
    auto* pending = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        registered_ = !w->isError();
        w->deleteLater();
        Q_EMIT hostChanged(registered_);
    });
}

void NotifierItem::setIcon(const QImage& picture, const QString& symbolicName) {
    pixmaps_ = {toPixmap(picture)};
    iconName_ = symbolicName;
    Q_EMIT NewIcon();
}

NotifierToolTip NotifierItem::toolTip() const {
    return {QString(), {}, QStringLiteral("Vesperine"), QString()};
}

QDBusObjectPath NotifierItem::menuPath() const {
    return QDBusObjectPath(kMenuPath);
}

void NotifierItem::Activate(int x, int y) {
    lastClick_ = QPoint(x, y);
    Q_EMIT activated(*lastClick_);
}

void NotifierItem::SecondaryActivate(int x, int y) {
    Activate(x, y);
}

void NotifierItem::ContextMenu(int x, int y) {
    // Hosts that do not read the exported menu ask for it here.
    if (menu_) {
        menu_->popup(QPoint(x, y));
    }
}

void NotifierItem::Scroll(int, const QString&) {}

// --- the menu

NotifierMenu::NotifierMenu(QMenu& menu, QObject* parent) : QObject(parent), menu_(&menu) {
    for (QAction* action : menu.actions()) {
        connect(action, &QAction::changed, this, &NotifierMenu::menuChanged);
    }
}

void NotifierMenu::menuChanged() {
    ++revision_;
    Q_EMIT LayoutUpdated(revision_, 0);
}

// Entry ids are the actions' places in the menu, from 1; the root is 0.
QVariantMap NotifierMenu::propertiesOf(int id) const {
    QVariantMap properties;
    if (id == 0) {
        properties.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
        return properties;
    }
    if (!menu_ || id < 1 || id > menu_->actions().size()) {
        return properties;
    }
    const QAction* action = menu_->actions().at(id - 1);
    if (action->isSeparator()) {
        properties.insert(QStringLiteral("type"), QStringLiteral("separator"));
    } else {
        properties.insert(QStringLiteral("label"), action->text());
    }
    properties.insert(QStringLiteral("enabled"), action->isEnabled());
    properties.insert(QStringLiteral("visible"), action->isVisible());
    return properties;
}

uint NotifierMenu::GetLayout(int parentId, int recursionDepth, const QStringList&,
                             MenuLayoutItem& layout) {
    layout = MenuLayoutItem{parentId, propertiesOf(parentId), {}};
    if (parentId == 0 && recursionDepth != 0 && menu_) {
        for (int id = 1; id <= menu_->actions().size(); ++id) {
            layout.children << MenuLayoutItem{id, propertiesOf(id), {}};
        }
    }
    return revision_;
}

MenuItemPropertiesList NotifierMenu::GetGroupProperties(const QList<int>& ids, const QStringList&) {
    MenuItemPropertiesList list;
    for (const int id : ids) {
        list << MenuItemProperties{id, propertiesOf(id)};
    }
    return list;
}

QDBusVariant NotifierMenu::GetProperty(int id, const QString& name) {
    return QDBusVariant(propertiesOf(id).value(name));
}

void NotifierMenu::Event(int id, const QString& eventId, const QDBusVariant&, uint) {
    if (eventId != QStringLiteral("clicked") || !menu_ || id < 1 || id > menu_->actions().size()) {
        return;
    }
    // After the reply: the action may open a window or end the program.
    QPointer<QAction> action = menu_->actions().at(id - 1);
    QMetaObject::invokeMethod(
        this,
        [action] {
            if (action && action->isEnabled()) {
                action->trigger();
            }
        },
        Qt::QueuedConnection);
}

QList<int> NotifierMenu::EventGroup(const MenuEventList& events) {
    for (const MenuEvent& event : events) {
        Event(event.id, event.eventId, event.data, event.timestamp);
    }
    return {};
}

bool NotifierMenu::AboutToShow(int) {
    return false;
}

QList<int> NotifierMenu::AboutToShowGroup(const QList<int>&, QList<int>& idErrors) {
    idErrors.clear();
    return {};
}

}  // namespace vesperine
