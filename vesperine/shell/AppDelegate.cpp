#include "shell/AppDelegate.h"

#include <QAction>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QGuiApplication>
#include <QMenu>
#include <QPalette>
#include <QScreen>

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "engine/ReconcileEngine.h"
#include "shell/DisplayChangeWatcher.h"
#include "shell/FilterStateWatcher.h"
#include "shell/InstanceChannel.h"
#include "shell/PanelGeometry.h"
#include "shell/TrayBar.h"
#include "shell/WakeWatcher.h"
#include "views/MenuBarIcon.h"
#include "views/PanelView.h"

namespace vesperine {
namespace {

constexpr const char* launchedLine = "vesperine: menu-bar item created\n";
constexpr const char* noTrayLine =
    "vesperine: no system tray here; the icon appears when one starts, and running "
    "vesperine again opens the panel\n";
// A bar drawn just now may still be blank; its colour is read once more then.
constexpr int kInkSettleMilliseconds = 1500;
// Longer than a tray takes to deliver a click after it took focus, shorter
// than anyone reopens a panel on purpose.
constexpr int kClickAfterResignMilliseconds = 300;

// Straight to the descriptor: nothing buffered, nothing lost on a crash.
void writeToStandardError(const char* text) {
    std::size_t left = std::strlen(text);
    while (left > 0) {
        const ssize_t written = ::write(STDERR_FILENO, text, left);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return;
        }
        text += written;
        left -= static_cast<std::size_t>(written);
    }
}

}  // namespace

AppDelegate::AppDelegate(ShellServices services, QObject* parent)
    : QObject(parent), services_(std::move(services)) {}

AppDelegate::~AppDelegate() {
    removeEscapeMonitor();
    // The views refer to the model; they go first.
    panel_.reset();
    model_.reset();
}

void AppDelegate::applicationDidFinishLaunching() {
    if (model_) {
        return;
    }
    model_ =
        std::make_unique<AppModel>(services_.settings(), services_.filter(), *services_.clock,
                                   services_.makeGeocoder ? services_.makeGeocoder() : nullptr);
    model_->setPreviewDisplay(services_.display);
    connect(model_.get(), &AppModel::changed, this, [this](AppModel::Property property) {
        if (property == AppModel::Property::filterOn) {
            updateMenu();
        }
    });
    buildStatusItem();
    buildPanel();
    reconcileAndRefresh();

    timer_ = new QTimer(this);
    timer_->setTimerType(Qt::VeryCoarseTimer);
    timer_->setInterval(static_cast<int>(reconcileInterval_ * 1000.0));
    // The connection dies with the delegate, so a late tick does nothing.
    connect(timer_, &QTimer::timeout, this, &AppDelegate::reconcileAndRefresh);
    timer_->start();

    auto* wake = new WakeWatcher(QDBusConnection::systemBus(), this);
    connect(wake, &WakeWatcher::didWake, this, &AppDelegate::didWake);
    auto* displays = new DisplayChangeWatcher(this);
    connect(displays, &DisplayChangeWatcher::displaysChanged, this,
            [this] { model_->showStoredState(); });

    if (!services_.filterStateFile.empty()) {
        auto* stored =
            new FilterStateWatcher(QString::fromStdString(services_.filterStateFile), this);
        connect(stored, &FilterStateWatcher::stateChanged, this, &AppDelegate::followStoredState);
    }
    if (!services_.instanceSocket.empty()) {
        auto* channel = new InstanceChannel(this);
        if (channel->listen(services_.instanceSocket)) {
            connect(channel, &InstanceChannel::openPanelRequested, this,
                    [this] { showPanel(false); });
        }
    }

    writeToStandardError(launchedLine);
    if (statusItem_->servedAsNotifierItem()) {
        // The watcher answers the registration in a moment.
        auto once = std::make_shared<QMetaObject::Connection>();
        *once = connect(statusItem_, &StatusItem::hostChanged, this, [this, once] {
            disconnect(*once);
            if (!statusItem_->hosted()) {
                writeToStandardError(noTrayLine);
            }
        });
    } else if (!statusItem_->hosted()) {
        writeToStandardError(noTrayLine);
    }
}

void AppDelegate::followStoredState() {
    if (model_) {
        model_->showStoredState();
    }
}

void AppDelegate::showPanel(bool settings) {
    if (!panel_ || !hostingController_) {
        return;
    }
    if (auto* view = qobject_cast<PanelView*>(hostingController_->content())) {
        view->setPage(settings ? Page::settings : Page::front);
    }
    if (panel_->isVisible()) {
        resizeAndAnchorPanel(hostingController_->sizeThatFits(PanelGeometry::panelWidth));
        panel_->raise();
        panel_->activateWindow();
    } else {
        openPanel();
    }
}

void AppDelegate::buildStatusItem() {
    buildMenu();
    statusItem_ = new StatusItem(*menu_, this);
    connect(statusItem_, &StatusItem::clicked, this, &AppDelegate::togglePanel);
    connect(statusItem_, &StatusItem::hostChanged, this, [this] { updateInk(std::nullopt); });
    statusItem_->show(QGuiApplication::palette().color(QPalette::WindowText));
    updateInk(std::nullopt);
    QTimer::singleShot(kInkSettleMilliseconds, this, [this] { updateInk(std::nullopt); });
}

void AppDelegate::buildMenu() {
    menu_ = new QMenu;
    runPauseAction_ = menu_->addAction(QString());
    QAction* settings = menu_->addAction(QStringLiteral("Settings…"));
    menu_->addSeparator();
    QAction* quit = menu_->addAction(QStringLiteral("Quit"));
    connect(runPauseAction_, &QAction::triggered, this, [this] {
        if (!model_) {
            return;
        }
        model_->setRunning(!model_->filterOn());
    });
    connect(settings, &QAction::triggered, this, [this] { showPanel(true); });
    connect(quit, &QAction::triggered, this, [] { QCoreApplication::quit(); });
    connect(this, &QObject::destroyed, menu_, [menu = menu_] { delete menu; });
    updateMenu();
}

void AppDelegate::updateMenu() {
    const bool on = model_ && model_->filterOn();
    // The same words as the panel's control: what a click does, then the state.
    const QString text =
        on ? QStringLiteral("Pause · Filter on") : QStringLiteral("Run · Filter off");
    if (runPauseAction_ && runPauseAction_->text() != text) {
        runPauseAction_->setText(text);
    }
}

void AppDelegate::updateInk(const std::optional<QPoint>& near) {
    if (statusItem_ == nullptr) {
        return;
    }
    QColor fallback = QGuiApplication::palette().color(QPalette::WindowText);
    // GNOME Shell's bar is dark in every colour scheme and is no X window.
    if (qEnvironmentVariable("XDG_CURRENT_DESKTOP").contains(QStringLiteral("GNOME"))) {
        fallback = QColor(242, 242, 242);
    }
    statusItem_->setInk(TrayBar::inkFor(near, !statusItem_->servedAsNotifierItem(), fallback));
}

void AppDelegate::reconcileAndRefresh() {
    // A pass that switched the filter has just drawn it; otherwise the stored
    // state goes on screen again, in case a resume, a new monitor or another
    // program reset the ramps.
    const auto pass = ReconcileEngine::reconcile(services_.settings(), services_.filter(),
                                                 services_.clock->now());
    if (!model_) {
        services_.filter().applyCurrentState();
    } else if (pass.write) {
        model_->noteChange(*pass.write);
        model_->refresh();
    } else {
        model_->showStoredState();
    }
}

void AppDelegate::didWake() {
    reconcileAndRefresh();
}

void AppDelegate::buildPanel() {
    if (!model_ || panel_) {
        return;
    }
    auto* view = new PanelView(
        *model_, [] { QCoreApplication::quit(); }, Page::front);
    auto* controller = new PanelHostingController(view);
    auto panel =
        std::make_unique<StatusPanel>(QRect(0, 0, static_cast<int>(PanelGeometry::panelWidth),
                                            static_cast<int>(PanelGeometry::initialHeight)));
    connect(panel.get(), &StatusPanel::didResignKey, this, &AppDelegate::windowDidResignKey);
    panel->setContentWidget(controller);
    hostingController_ = controller;
    panel_ = std::move(panel);
    controller->setPreferredSizeDidChange([self = QPointer<AppDelegate>(this)](QSizeF size) {
        if (self) {
            self->resizeAndAnchorPanel(size);
        }
    });
}

void AppDelegate::togglePanel() {
    if (panel_ && panel_->isVisible()) {
        closePanel();
    } else if (panel_ && panel_->closedByResignWithin(kClickAfterResignMilliseconds)) {
        // The click on the icon took focus from the open panel, which closed;
        // this is that same click, meant to close it, not to open it again.
        return;
    } else {
        openPanel();
    }
}

void AppDelegate::openPanel() {
    if (!panel_ || !hostingController_) {
        return;
    }
    if (model_) {
        model_->refresh();
    }
    resizeAndAnchorPanel(hostingController_->sizeThatFits(PanelGeometry::panelWidth));
    installEscapeMonitor();
    panel_->show();
    panel_->raise();
    panel_->activateWindow();
    // A click on an empty part of the bar takes no focus from the panel.
    if (barClicks_ == nullptr) {
        auto* watcher = new TrayBar::ClickWatcher(this);
        connect(watcher, &TrayBar::ClickWatcher::pressed, this, [this] {
            if (panel_ && panel_->isVisible() && !isClosingPanel_) {
                panel_->noteClosedByResign();
                closePanel();
            }
        });
        barClicks_ = watcher;
    }
    barClicks_->start(statusItem_ ? statusItem_->embeddedRect() : std::nullopt);
    if (statusItem_ && statusItem_->buttonRect()) {
        updateInk(statusItem_->buttonRect()->center());
    }
}

std::optional<QRect> AppDelegate::anchorRect() const {
    std::optional<QRect> button = statusItem_ ? statusItem_->buttonRect() : std::nullopt;
    if (!button) {
        // Nothing to hang it from: the top right of the screen, under its bar.
        QScreen* screen = QGuiApplication::primaryScreen();
        if (screen == nullptr) {
            return std::nullopt;
        }
        const QRect usable = screen->availableGeometry();
        button = QRect(usable.right(), usable.top() - 1, 1, 1);
    }
    // The panel keeps its distance from the bar, not just from the icon.
    if (const auto bar = TrayBar::barAround(button->center())) {
        if (bar->width() >= bar->height()) {
            button = QRect(button->x(), bar->y(), button->width(), bar->height());
        }
    }
    return button;
}

void AppDelegate::resizeAndAnchorPanel(QSizeF size) {
    if (statusItem_ == nullptr || !panel_) {
        return;
    }
    const std::optional<QRect> button = anchorRect();
    if (!button) {
        return;
    }
    QScreen* primary = QGuiApplication::primaryScreen();
    QScreen* screen = QGuiApplication::screenAt(button->center());
    if (screen == nullptr) {
        screen = primary;
    }
    // Mirror axis between Qt's y-down and the anchoring's y-up coordinates.
    const double axis = primary ? QRectF(primary->geometry()).bottom() : 0.0;
    std::optional<PanelGeometry::Rect> visible;
    if (screen != nullptr) {
        visible = PanelGeometry::fromQt(QRectF(screen->availableGeometry()), axis);
    }
    const auto frame = PanelGeometry::anchoredFrame(
        size.height(), PanelGeometry::fromQt(QRectF(*button), axis), visible);
    if (!frame) {
        return;
    }
    panel_->setGeometry(PanelGeometry::toQt(*frame, axis).toRect());
}

void AppDelegate::installEscapeMonitor() {
    if (localKeyMonitor_ != nullptr) {
        return;
    }
    localKeyMonitor_ = new EscapeKeyMonitor([self = QPointer<AppDelegate>(this)] {
        if (self) {
            self->closePanel();
        }
    });
}

void AppDelegate::removeEscapeMonitor() {
    if (localKeyMonitor_ == nullptr) {
        return;
    }
    // It may be running its handler right now: stop it, delete it later.
    localKeyMonitor_->uninstall();
    localKeyMonitor_->deleteLater();
    localKeyMonitor_ = nullptr;
}

void AppDelegate::closePanel() {
    if (isClosingPanel_) {
        return;
    }
    isClosingPanel_ = true;
    removeEscapeMonitor();
    if (barClicks_ != nullptr) {
        barClicks_->stop();
    }
    if (panel_ && panel_->isVisible()) {
        panel_->hide();
    }
    isClosingPanel_ = false;
}

void AppDelegate::windowDidResignKey(QWidget* window) {
    if (isClosingPanel_) {
        return;
    }
    if (window != nullptr && window == panel_.get() && panel_->isVisible()) {
        panel_->noteClosedByResign();
        closePanel();
    }
}

}  // namespace vesperine
