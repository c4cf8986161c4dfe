#pragma once

#include <QAbstractNativeEventFilter>
#include <QColor>
#include <QObject>
#include <QRect>

#include <cstdint>
#include <optional>
#include <vector>

namespace vesperine::TrayBar {

// What the X server tells about the desktop's bars. Every answer is empty off
// X11 (a Wayland shell's bar is not an X window).

// The rectangles of the dock windows (panels, trays), in global pixels.
std::vector<QRect> dockRects();

// The text colour the XEmbed tray asks its icons to use
// (_NET_SYSTEM_TRAY_COLORS), when it publishes one.
std::optional<QColor> xembedForeground();

// The mean relative luminance (0 black to 1 white, linear light) of what the screen shows in
// `area`, when it can be read.
std::optional<double> luminance(const QRect& area);

// The colour to draw the tray icon in: the XEmbed tray's text colour, else
// light on a dark bar and dark on a light one, else `fallback`. The bar is
// the dock window around `near` when given, else the first dock window.
QColor inkFor(const std::optional<QPoint>& near, bool xembed, const QColor& fallback);

// The band of the screen a bar at `point` occupies, when the point lies on a
// bar: the dock window around it, else the strip between the screen's edge
// and its usable area (where the bar reserves room). For a horizontal bar the
// band spans the screen's width; the caller keeps the icon's x.
std::optional<QRect> barAround(const QPoint& point);

// While started, a press of any mouse button on a dock window emits
// pressed() and then reaches the bar as usual.
class ClickWatcher : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT

  public:
    explicit ClickWatcher(QObject* parent = nullptr);
    ~ClickWatcher() override;

    // `own`: where the application's own icon sits in the bar, if it is a
    // window there; its clicks are the icon's to handle.
    void start(const std::optional<QRect>& own);
    void stop();

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

  Q_SIGNALS:
    void pressed();

  private:
    std::vector<std::uint32_t> grabbed_;
    std::optional<QRect> own_;
};

}  // namespace vesperine::TrayBar
