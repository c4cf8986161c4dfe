#pragma once

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QImage>
#include <QList>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QString>
#include <QVariantMap>

#include <optional>

class QDBusServiceWatcher;
class QMenu;

namespace vesperine {

// One icon picture as a notifier host reads it: ARGB32 in network byte order.
struct NotifierPixmap {
    int width = 0;
    int height = 0;
    QByteArray argb;
};
using NotifierPixmaps = QList<NotifierPixmap>;

struct NotifierToolTip {
    QString iconName;
    NotifierPixmaps icon;
    QString title;
    QString text;
};

// One entry of an exported menu and its children, as a menu client reads it.
struct MenuLayoutItem {
    int id = 0;
    QVariantMap properties;
    QList<MenuLayoutItem> children;
};

struct MenuItemProperties {
    int id = 0;
    QVariantMap properties;
};
using MenuItemPropertiesList = QList<MenuItemProperties>;

struct MenuItemPropertyNames {
    int id = 0;
    QStringList names;
};
using MenuItemPropertyNamesList = QList<MenuItemPropertyNames>;

struct MenuEvent {
    int id = 0;
    QString eventId;
    QDBusVariant data;
    uint timestamp = 0;
};
using MenuEventList = QList<MenuEvent>;

class NotifierMenu;

// The tray icon on hosts that speak the StatusNotifierItem protocol (KDE
// Plasma, xfce4-panel, lxqt-panel, GNOME's indicator extension), served here
// rather than through Qt so that the click's position is kept: hosts send it
// with Activate(x, y). The item registers with the host's watcher whenever one
// appears, and exports `menu` as its context menu.
class NotifierItem : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ category)
    Q_PROPERTY(QString Id READ id)
    Q_PROPERTY(QString Title READ title)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(int WindowId READ windowId)
    Q_PROPERTY(QString IconThemePath READ iconThemePath)
    Q_PROPERTY(QString IconName READ iconName)
    Q_PROPERTY(vesperine::NotifierPixmaps IconPixmap READ iconPixmap)
    Q_PROPERTY(QString OverlayIconName READ emptyText)
    Q_PROPERTY(vesperine::NotifierPixmaps OverlayIconPixmap READ noPixmaps)
    Q_PROPERTY(QString AttentionIconName READ emptyText)
    Q_PROPERTY(vesperine::NotifierPixmaps AttentionIconPixmap READ noPixmaps)
    Q_PROPERTY(QString AttentionMovieName READ emptyText)
    Q_PROPERTY(vesperine::NotifierToolTip ToolTip READ toolTip)
    Q_PROPERTY(bool ItemIsMenu READ itemIsMenu)
    Q_PROPERTY(QDBusObjectPath Menu READ menuPath)

  public:
    static constexpr const char* watcherService = "org.kde.StatusNotifierWatcher";

    NotifierItem(QDBusConnection bus, QMenu& menu, QObject* parent = nullptr);
    ~NotifierItem() override;

    // Whether a watcher runs on this bus now.
    static bool watcherPresent(const QDBusConnection& bus);
    // Whether a watcher took the item at its last registration.
    bool registered() const { return registered_; }

    // The picture, drawn for a host that does not recolour `symbolicName`.
    void setIcon(const QImage& picture, const QString& symbolicName);
    QString iconThemePath() const { return themePath_; }
    void setIconThemePath(const QString& path) { themePath_ = path; }

    // Where the host said the last click was, in screen coordinates.
    std::optional<QPoint> lastClick() const { return lastClick_; }

    QString category() const { return QStringLiteral("ApplicationStatus"); }
    QString id() const { return QStringLiteral("vesperine"); }
    QString title() const { return QStringLiteral("Vesperine"); }
    QString status() const { return QStringLiteral("Active"); }
    int windowId() const { return 0; }
    QString iconName() const { return iconName_; }
    NotifierPixmaps iconPixmap() const { return pixmaps_; }
    NotifierPixmaps noPixmaps() const { return {}; }
    QString emptyText() const { return {}; }
    NotifierToolTip toolTip() const;
    bool itemIsMenu() const { return false; }
    QDBusObjectPath menuPath() const;

  public Q_SLOTS:
    void Activate(int x, int y);
    void SecondaryActivate(int x, int y);
    void ContextMenu(int x, int y);
    void Scroll(int delta, const QString& orientation);

  Q_SIGNALS:
    void NewIcon();
    void NewToolTip();
    void NewStatus(const QString& status);
    // A primary click, at the host's screen coordinates.
    void activated(QPoint position);
    // Registered with a watcher (true), or the watcher went away (false).
    void hostChanged(bool registered);

  private:
    void registerWithWatcher();

    QDBusConnection bus_;
    QPointer<QMenu> menu_;
    NotifierMenu* exportedMenu_;
    QDBusServiceWatcher* watcher_;
    QString serviceName_;
    QString iconName_;
    QString themePath_;
    NotifierPixmaps pixmaps_;
    std::optional<QPoint> lastClick_;
    bool registered_ = false;
};

// A QMenu exported over D-Bus in the form menu clients read (the interface
// com.canonical.dbusmenu): its actions in order, separators included. Labels
// and states follow the actions as they change.
class NotifierMenu : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
    Q_PROPERTY(uint Version READ version)
    Q_PROPERTY(QString TextDirection READ textDirection)
    Q_PROPERTY(QString Status READ menuStatus)
    Q_PROPERTY(QStringList IconThemePath READ iconThemePath)

  public:
    NotifierMenu(QMenu& menu, QObject* parent = nullptr);

    uint version() const { return 3; }
    QString textDirection() const { return QStringLiteral("ltr"); }
    QString menuStatus() const { return QStringLiteral("normal"); }
    QStringList iconThemePath() const { return {}; }

  public Q_SLOTS:
    uint GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                   vesperine::MenuLayoutItem& layout);
    vesperine::MenuItemPropertiesList GetGroupProperties(const QList<int>& ids,
                                                         const QStringList& propertyNames);
    QDBusVariant GetProperty(int id, const QString& name);
    void Event(int id, const QString& eventId, const QDBusVariant& data, uint timestamp);
    QList<int> EventGroup(const vesperine::MenuEventList& events);
    bool AboutToShow(int id);
    QList<int> AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors);

  Q_SIGNALS:
    void LayoutUpdated(uint revision, int parent);
    void ItemsPropertiesUpdated(const vesperine::MenuItemPropertiesList& updatedProps,
                                const vesperine::MenuItemPropertyNamesList& removedProps);
    void ItemActivationRequested(int id, uint timestamp);

  private:
    QVariantMap propertiesOf(int id) const;
    void menuChanged();

    QPointer<QMenu> menu_;
    uint revision_ = 1;
};

}  // namespace vesperine

Q_DECLARE_METATYPE(vesperine::NotifierPixmap)
Q_DECLARE_METATYPE(vesperine::NotifierToolTip)
Q_DECLARE_METATYPE(vesperine::MenuLayoutItem)
Q_DECLARE_METATYPE(vesperine::MenuItemProperties)
Q_DECLARE_METATYPE(vesperine::MenuItemPropertyNames)
Q_DECLARE_METATYPE(vesperine::MenuEvent)
