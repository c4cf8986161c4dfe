#pragma once

#include <QObject>
#include <QPointer>
#include <QSizeF>
#include <QTimer>

#include <functional>
#include <memory>

#include "engine/Clock.h"
#include "engine/ColorFilterState.h"
#include "engine/Settings.h"
#include "model/AppModel.h"
#include "model/CityGeocoder.h"
#include "shell/EscapeKeyMonitor.h"
#include "shell/PanelHostingController.h"
#include "shell/StatusItem.h"
#include "shell/StatusPanel.h"

class QAction;
class QMenu;

namespace vesperine::TrayBar {
class ClickWatcher;
}

namespace vesperine {

// What the running application reaches outside itself. Nothing here is called
// before the launch sequence.
struct ShellServices {
    std::function<Settings&()> settings;
    std::function<ColorFilterState&()> filter;
    const Clock* clock = nullptr;  // outlives the delegate
    std::function<std::unique_ptr<CityGeocoder>()> makeGeocoder;
    // The stored filter state, followed as other processes change it; empty:
    // not followed.
    std::string filterStateFile;
    // Where a second start asks this one to open its panel; empty: nowhere.
    std::string instanceSocket;
    // The display the filter applies through, for showing a strength while
    // the slider moves without storing it; null: previews wait for the stores.
    DisplayBackend* display = nullptr;
};

// Owns the tray application: the tray icon, the panel and its hosting
// controller, the model, the reconcile timer and the Escape monitor.
//
// Its stored state is declared as the properties below so that it can be
// listed at run time; the panel-presentation self-test inspects the names.
class AppDelegate : public QObject {
    Q_OBJECT
    Q_PROPERTY(vesperine::StatusItem* statusItem READ statusItem)
    Q_PROPERTY(vesperine::StatusPanel* panel READ panel)
    Q_PROPERTY(vesperine::PanelHostingController* hostingController READ hostingController)
    Q_PROPERTY(vesperine::AppModel* model READ model)
    Q_PROPERTY(QTimer* timer READ timer)
    Q_PROPERTY(QObject* localKeyMonitor READ localKeyMonitor)
    Q_PROPERTY(bool isClosingPanel READ isClosingPanel)
    Q_PROPERTY(double reconcileInterval READ reconcileInterval CONSTANT)

  public:
    static constexpr double defaultReconcileInterval = 300.0;  // seconds

    // Stores the services and nothing else: no icon, window, timer or bus.
    explicit AppDelegate(ShellServices services, QObject* parent = nullptr);
    ~AppDelegate() override;

    StatusItem* statusItem() const { return statusItem_; }
    StatusPanel* panel() const { return panel_.get(); }
    PanelHostingController* hostingController() const { return hostingController_; }
    AppModel* model() const { return model_.get(); }
    QTimer* timer() const { return timer_; }
    QObject* localKeyMonitor() const { return localKeyMonitor_; }
    bool isClosingPanel() const { return isClosingPanel_; }
    double reconcileInterval() const { return reconcileInterval_; }

    // Model, tray icon, panel, first pass, timer, wake and monitor watchers,
    // then the one log line on standard error. Once.
    void applicationDidFinishLaunching();

    void buildStatusItem();
    // One reconcile pass, the stored filter put on screen again, a refresh.
    void reconcileAndRefresh();
    void didWake();
    // Another process changed the stored filter: show it and put it on screen.
    void followStoredState();
    // Opens the panel (on the settings page when `settings`), wherever the
    // icon is or, with no icon to hang it from, at the screen's top right.
    void showPanel(bool settings);

    void buildPanel();
    void togglePanel();
    void openPanel();
    void closePanel();
    // Places the panel for a content of `size` (only the height is used)
    // under the tray icon, or above it when the tray is at the bottom.
    void resizeAndAnchorPanel(QSizeF size);
    void installEscapeMonitor();
    void removeEscapeMonitor();
    // `window` stopped being active; only the panel's own counts.
    void windowDidResignKey(QWidget* window);

  private:
    void buildMenu();
    void updateMenu();
    void updateInk(const std::optional<QPoint>& near);
    // The icon's rectangle grown to the band of the bar it sits on, or the
    // screen's top-right corner when nothing is known.
    std::optional<QRect> anchorRect() const;

    ShellServices services_;
    QMenu* menu_ = nullptr;
    QAction* runPauseAction_ = nullptr;
    TrayBar::ClickWatcher* barClicks_ = nullptr;

    StatusItem* statusItem_ = nullptr;
    std::unique_ptr<StatusPanel> panel_;
    QPointer<PanelHostingController> hostingController_;
    std::unique_ptr<AppModel> model_;
    QTimer* timer_ = nullptr;
    EscapeKeyMonitor* localKeyMonitor_ = nullptr;
    bool isClosingPanel_ = false;
    const double reconcileInterval_ = defaultReconcileInterval;
};

}  // namespace vesperine
