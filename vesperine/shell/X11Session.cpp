#include "shell/X11Session.h"

#include <QtGui/qguiapplication_platform.h>
#include <QGuiApplication>
#include <QWidget>

#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

namespace vesperine::X11Session {
namespace {

constexpr xcb_atom_t noAtom = XCB_ATOM_NONE;
constexpr xcb_window_t noWindow = XCB_WINDOW_NONE;
// As the set commands' wait for the X server's first answer.
constexpr auto kConnectPatience = std::chrono::milliseconds(500);

xcb_connection_t* applicationConnection() {
    auto* x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t internAtom(xcb_connection_t* connection, std::string_view name) {
    const auto cookie =
        xcb_intern_atom(connection, 0, static_cast<uint16_t>(name.size()), name.data());
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookie, nullptr);
    const xcb_atom_t atom = reply ? reply->atom : noAtom;
    std::free(reply);
    return atom;
}

}  // namespace

PlatformChoice::DisplayAnswer probeDisplay(const std::string& displayName) {
    using PlatformChoice::DisplayAnswer;
    struct Attempt {
        std::mutex mutex;
        std::condition_variable done;
        std::optional<bool> answered;
    };
    auto attempt = std::make_shared<Attempt>();
    try {
        // Detached: one stuck on a silent server must not hold up the exit.
        std::thread([attempt, displayName] {
            xcb_connection_t* connection =
                xcb_connect(displayName.empty() ? nullptr : displayName.c_str(), nullptr);
            const bool ok = connection != nullptr && xcb_connection_has_error(connection) == 0;
            if (connection != nullptr) {
                xcb_disconnect(connection);
            }
            const std::lock_guard guard(attempt->mutex);
            attempt->answered = ok;
            attempt->done.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        return DisplayAnswer::refuses;
    }
    std::unique_lock lock(attempt->mutex);
    if (!attempt->done.wait_for(lock, kConnectPatience,
                                [&] { return attempt->answered.has_value(); })) {
        return DisplayAnswer::silent;
    }
    return *attempt->answered ? DisplayAnswer::answers : DisplayAnswer::refuses;
}

bool compositorActive() {
    xcb_connection_t* connection = applicationConnection();
    if (connection == nullptr) {
        return false;
    }
    // The default screen's number is not exposed; the selection of screen 0
    // is the one every single-screen X setup uses.
    const xcb_atom_t selection = internAtom(connection, "_NET_WM_CM_S0");
    if (selection == noAtom) {
        return false;
    }
    xcb_get_selection_owner_reply_t* reply = xcb_get_selection_owner_reply(
        connection, xcb_get_selection_owner(connection, selection), nullptr);
    const bool owned = reply != nullptr && reply->owner != noWindow;
    std::free(reply);
    return owned;
}

void skipTaskbarAndPager(QWidget& window) {
    xcb_connection_t* connection = applicationConnection();
    if (connection == nullptr) {
        return;
    }
    const auto id = static_cast<xcb_window_t>(window.winId());
    const xcb_atom_t state = internAtom(connection, "_NET_WM_STATE");
    const xcb_atom_t wanted[] = {internAtom(connection, "_NET_WM_STATE_SKIP_TASKBAR"),
                                 internAtom(connection, "_NET_WM_STATE_SKIP_PAGER")};
    if (state == noAtom) {
        return;
    }
    std::vector<xcb_atom_t> atoms;
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, id, state, XCB_ATOM_ATOM, 0, 1024), nullptr);
    if (reply != nullptr && reply->format == 32 && reply->type == XCB_ATOM_ATOM) {
        const auto* existing = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply));
        atoms.assign(existing, existing + xcb_get_property_value_length(reply) / 4);
    }
    std::free(reply);
    for (const xcb_atom_t atom : wanted) {
        if (atom != noAtom && std::find(atoms.begin(), atoms.end(), atom) == atoms.end()) {
            atoms.push_back(atom);
        }
    }
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, state, XCB_ATOM_ATOM, 32,
                        static_cast<uint32_t>(atoms.size()), atoms.data());
    xcb_flush(connection);
}

}  // namespace vesperine::X11Session
