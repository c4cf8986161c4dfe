#include "shell/TrayBar.h"

#include <QtGui/qguiapplication_platform.h>
#include <QGuiApplication>
#include <QScreen>

#include <xcb/xcb.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <string_view>

namespace vesperine::TrayBar {
namespace {

template <typename T>
using Reply = std::unique_ptr<T, decltype(&std::free)>;

template <typename T>
Reply<T> own(T* reply) {
    return Reply<T>(reply, &std::free);
}

xcb_connection_t* connection() {
    auto* x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

xcb_window_t rootWindow(xcb_connection_t* c) {
    const xcb_setup_t* setup = xcb_get_setup(c);
    return xcb_setup_roots_iterator(setup).data->root;
}

xcb_atom_t atom(xcb_connection_t* c, std::string_view name) {
    auto reply = own(xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<uint16_t>(name.size()), name.data()), nullptr));
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

// The window manager's clients (window managers put docks in frames too), or
// the root's children when no manager lists them.
std::vector<xcb_window_t> topLevels(xcb_connection_t* c) {
    std::vector<xcb_window_t> windows;
    const xcb_atom_t clients = atom(c, "_NET_CLIENT_LIST");
    auto list = own(xcb_get_property_reply(
        c, xcb_get_property(c, 0, rootWindow(c), clients, XCB_ATOM_WINDOW, 0, 4096), nullptr));
    if (list && list->format == 32 && xcb_get_property_value_length(list.get()) > 0) {
        const auto* ids = static_cast<const xcb_window_t*>(xcb_get_property_value(list.get()));
        windows.assign(ids, ids + xcb_get_property_value_length(list.get()) / 4);
        return windows;
    }
    auto tree = own(xcb_query_tree_reply(c, xcb_query_tree(c, rootWindow(c)), nullptr));
    if (tree) {
        const xcb_window_t* children = xcb_query_tree_children(tree.get());
        windows.assign(children, children + xcb_query_tree_children_length(tree.get()));
    }
    return windows;
}

std::vector<xcb_window_t> dockWindows(xcb_connection_t* c) {
    std::vector<xcb_window_t> docks;
    const xcb_atom_t type = atom(c, "_NET_WM_WINDOW_TYPE");
    const xcb_atom_t dock = atom(c, "_NET_WM_WINDOW_TYPE_DOCK");
    if (type == XCB_ATOM_NONE) {
        return docks;
    }
    for (const xcb_window_t window : topLevels(c)) {
        auto property = own(xcb_get_property_reply(
            c, xcb_get_property(c, 0, window, type, XCB_ATOM_ATOM, 0, 16), nullptr));
        if (!property || property->format != 32) {
            continue;
        }
        const auto* types = static_cast<const xcb_atom_t*>(xcb_get_property_value(property.get()));
        const int typeCount = xcb_get_property_value_length(property.get()) / 4;
        for (int t = 0; t < typeCount; ++t) {
            if (types[t] == dock) {
                auto attributes = own(xcb_get_window_attributes_reply(
                    c, xcb_get_window_attributes(c, window), nullptr));
                if (attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE) {
                    docks.push_back(window);
                }
                break;
            }
        }
    }
    return docks;
}

std::optional<QRect> globalRect(xcb_connection_t* c, xcb_window_t window) {
    auto geometry = own(xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr));
    if (!geometry) {
        return std::nullopt;
    }
    auto origin = own(xcb_translate_coordinates_reply(
        c, xcb_translate_coordinates(c, window, rootWindow(c), 0, 0), nullptr));
    if (!origin) {
        return std::nullopt;
    }
    return QRect(origin->dst_x, origin->dst_y, geometry->width, geometry->height);
}

// The child of the root that holds `window`: the window manager's frame, or
// the window itself.
xcb_window_t outermost(xcb_connection_t* c, xcb_window_t window) {
    const xcb_window_t root = rootWindow(c);
    for (int depth = 0; depth < 16; ++depth) {
        auto tree = own(xcb_query_tree_reply(c, xcb_query_tree(c, window), nullptr));
        if (!tree || tree->parent == root || tree->parent == XCB_WINDOW_NONE) {
            break;
        }
        window = tree->parent;
    }
    return window;
}

// Without a modifier, with Caps Lock, Num Lock or both on.
constexpr uint16_t kPlainModifiers[] = {0, XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2,
                                        XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2};

}  // namespace

std::vector<QRect> dockRects() {
    std::vector<QRect> rects;
    if (xcb_connection_t* c = connection()) {
        for (const xcb_window_t window : dockWindows(c)) {
            if (const auto rect = globalRect(c, window)) {
                rects.push_back(*rect);
            }
        }
    }
    return rects;
}

std::optional<QColor> xembedForeground() {
    xcb_connection_t* c = connection();
    if (c == nullptr) {
        return std::nullopt;
    }
    const xcb_atom_t selection = atom(c, "_NET_SYSTEM_TRAY_S0");
    const xcb_atom_t colours = atom(c, "_NET_SYSTEM_TRAY_COLORS");
    auto owner =
        own(xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection), nullptr));
    if (!owner || owner->owner == XCB_WINDOW_NONE || colours == XCB_ATOM_NONE) {
        return std::nullopt;
    }
    auto property = own(xcb_get_property_reply(
        c, xcb_get_property(c, 0, owner->owner, colours, XCB_ATOM_CARDINAL, 0, 12), nullptr));
    if (!property || property->format != 32 || xcb_get_property_value_length(property.get()) < 12) {
        return std::nullopt;
    }
    // Foreground, error, warning, success; 16 bits a channel.
    const auto* value = static_cast<const uint32_t*>(xcb_get_property_value(property.get()));
    return QColor::fromRgb(QRgba64::fromRgba64(static_cast<quint16>(value[0]),
                                               static_cast<quint16>(value[1]),
                                               static_cast<quint16>(value[2]), 0xffff));
}

std::optional<double> luminance(const QRect& area) {
    xcb_connection_t* c = connection();
    if (c == nullptr || area.isEmpty()) {
        return std::nullopt;
    }
    auto image = own(xcb_get_image_reply(
        c,
        xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, rootWindow(c), static_cast<int16_t>(area.x()),
                      static_cast<int16_t>(area.y()), static_cast<uint16_t>(area.width()),
                      static_cast<uint16_t>(area.height()), ~0u),
        nullptr));
    // 24-bit depths come as 32 bits a pixel, blue first.
    if (!image || image->depth < 24) {
        return std::nullopt;
    }
    const int length = xcb_get_image_data_length(image.get());
    const uint8_t* data = xcb_get_image_data(image.get());
    // Relative luminance is a sum of light, so the channels are made linear.
    const auto linear = [](uint8_t channel) {
        const double c = channel / 255.0;
        return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    double sum = 0;
    int pixels = 0;
    for (int i = 0; i + 3 < length; i += 4) {
        sum +=
            0.0722 * linear(data[i]) + 0.7152 * linear(data[i + 1]) + 0.2126 * linear(data[i + 2]);
        ++pixels;
    }
    return pixels > 0 ? std::optional(sum / pixels) : std::nullopt;
}

QColor inkFor(const std::optional<QPoint>& near, bool xembed, const QColor& fallback) {
    if (xembed) {
        if (const auto foreground = xembedForeground()) {
            return *foreground;
        }
    }
    const std::vector<QRect> docks = dockRects();
    std::optional<QRect> bar;
    for (const QRect& dock : docks) {
        if (!bar || (near && dock.contains(*near))) {
            bar = dock;
        }
    }
    if (bar) {
        if (const auto level = luminance(*bar)) {
            // Below this, light ink has the higher contrast ratio.
            constexpr double kEqualContrastLuminance = 0.179;
            return *level < kEqualContrastLuminance ? QColor(242, 242, 242) : QColor(26, 26, 26);
        }
    }
    return fallback;
}

std::optional<QRect> barAround(const QPoint& point) {
    for (const QRect& dock : dockRects()) {
        if (dock.contains(point)) {
            return dock;
        }
    }
    QScreen* screen = QGuiApplication::screenAt(point);
    if (screen == nullptr) {
        return std::nullopt;
    }
    const QRect all = screen->geometry();
    const QRect usable = screen->availableGeometry();
    if (point.y() < usable.top()) {
        return QRect(all.left(), all.top(), all.width(), usable.top() - all.top());
    }
    if (point.y() > usable.bottom()) {
        return QRect(all.left(), usable.bottom() + 1, all.width(), all.bottom() - usable.bottom());
    }
    return std::nullopt;
}

ClickWatcher::ClickWatcher(QObject* parent) : QObject(parent) {}

ClickWatcher::~ClickWatcher() {
    stop();
}

void ClickWatcher::start(const std::optional<QRect>& own) {
    own_ = own;
    xcb_connection_t* c = connection();
    if (c == nullptr || !grabbed_.empty()) {
        return;
    }
    // A synchronous passive grab lets the press be seen here first; it is
    // then replayed to the bar as if nothing had looked. It sits on the
    // outermost window (the frame), whose grabs go before the window
    // manager's own on the bar, and leaves modified clicks to the manager.
    for (const xcb_window_t dock : dockWindows(c)) {
        const xcb_window_t window = outermost(c, dock);
        for (const uint16_t modifiers : kPlainModifiers) {
            xcb_grab_button(c, 0, window, XCB_EVENT_MASK_BUTTON_PRESS, XCB_GRAB_MODE_SYNC,
                            XCB_GRAB_MODE_ASYNC, XCB_WINDOW_NONE, XCB_CURSOR_NONE,
                            XCB_BUTTON_INDEX_ANY, modifiers);
        }
        grabbed_.push_back(window);
    }
    xcb_flush(c);
    QCoreApplication::instance()->installNativeEventFilter(this);
}

void ClickWatcher::stop() {
    if (QCoreApplication::instance()) {
        QCoreApplication::instance()->removeNativeEventFilter(this);
    }
    xcb_connection_t* c = connection();
    if (c != nullptr) {
        for (const xcb_window_t window : grabbed_) {
            for (const uint16_t modifiers : kPlainModifiers) {
                xcb_ungrab_button(c, XCB_BUTTON_INDEX_ANY, window, modifiers);
            }
        }
        xcb_flush(c);
    }
    grabbed_.clear();
}

bool ClickWatcher::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t" || grabbed_.empty()) {
        return false;
    }
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) != XCB_BUTTON_PRESS) {
        return false;
    }
    const auto* press = reinterpret_cast<const xcb_button_press_event_t*>(event);
    bool ours = false;
    for (const xcb_window_t window : grabbed_) {
        ours = ours || press->event == window;
    }
    if (!ours) {
        return false;
    }
    xcb_connection_t* c = connection();
    xcb_allow_events(c, XCB_ALLOW_REPLAY_POINTER, press->time);
    xcb_flush(c);
    if (!own_ || !own_->contains(press->root_x, press->root_y)) {
        QMetaObject::invokeMethod(this, &ClickWatcher::pressed, Qt::QueuedConnection);
    }
    return true;
}

}  // namespace vesperine::TrayBar
