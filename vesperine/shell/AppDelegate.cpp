#include "shell/AppDelegate.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QGuiApplication>
#include <QPalette>
#include <QScreen>

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "engine/ReconcileEngine.h"
#include "shell/DisplayChangeWatcher.h"
#include "views/MenuBarIcon.h"
#include "shell/PanelGeometry.h"
#include "shell/WakeWatcher.h"
#include "views/PanelView.h"

namespace vesperine {
namespace {

constexpr const char* launchedLine = "vesperine: menu-bar item created\n";
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
            [this] { services_.filter().applyCurrentState(); });

    writeToStandardError(launchedLine);
}

void AppDelegate::buildStatusItem() {
    const QColor ink = QGuiApplication::palette().color(QPalette::WindowText);
    statusItem_ = new StatusItem(MenuBarIcon::trayIcon(ink), this);
    connect(statusItem_, &StatusItem::clicked, this, &AppDelegate::togglePanel);
    statusItem_->show();
}

void AppDelegate::reconcileAndRefresh() {
    ColorFilterState& filter = services_.filter();
    // A pass that switched the filter has just drawn it; otherwise the stored
    // state goes on screen again, in case a resume, a new monitor or another
    // program reset the ramps.
    if (!ReconcileEngine::reconcile(services_.settings(), filter, services_.clock->now())) {
        filter.applyCurrentState();
    }
    if (model_) {
        model_->refresh();
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
}

void AppDelegate::resizeAndAnchorPanel(QSizeF size) {
    if (statusItem_ == nullptr || !panel_) {
        return;
    }
    const std::optional<QRect> button = statusItem_->buttonRect();
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
