// wlroots gamma control over libwayland-client, loaded with dlopen. Requests
// are marshalled through the library's wl_proxy_marshal_flags rather than the
// generated inline wrappers, so that nothing in the executable links against
// the library: commands that never touch a Wayland screen never load it.

#include "engine/WaylandGammaOutputs.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client-core.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <map>

#include "engine/LoadedSymbol.h"
#include "engine/WarmTint.h"
#include "wlr-gamma-control-unstable-v1-client-protocol.h"

// The generated interface tables name wl_output only as the type of an
// argument of get_gamma_control; libwayland compares such types by name. This
// stands in for the library's own table, which is not linked.
extern "C" const wl_interface vesperine_wl_output_interface = {"wl_output", 1, 0,
                                                               nullptr,     0, nullptr};

namespace vesperine {
namespace {

// Opcodes of the core protocol (wayland.xml).
constexpr std::uint32_t kDisplaySync = 0;
constexpr std::uint32_t kDisplayGetRegistry = 1;
constexpr std::uint32_t kRegistryBind = 0;

struct WaylandApi {
    decltype(&wl_display_connect) connect = nullptr;
    decltype(&wl_display_disconnect) disconnect = nullptr;
    decltype(&wl_display_get_fd) fd = nullptr;
    decltype(&wl_display_dispatch_pending) dispatchPending = nullptr;
    decltype(&wl_display_flush) flush = nullptr;
    decltype(&wl_display_prepare_read) prepareRead = nullptr;
    decltype(&wl_display_read_events) readEvents = nullptr;
    decltype(&wl_display_cancel_read) cancelRead = nullptr;
    decltype(&wl_display_get_error) error = nullptr;
    decltype(&wl_proxy_marshal_flags) marshalFlags = nullptr;
    decltype(&wl_proxy_add_listener) addListener = nullptr;
    decltype(&wl_proxy_destroy) destroy = nullptr;
    decltype(&wl_proxy_get_version) version = nullptr;
    const wl_interface* registryInterface = nullptr;
    const wl_interface* outputInterface = nullptr;
    const wl_interface* callbackInterface = nullptr;
};

// Null when the library or one of its symbols is missing.
const WaylandApi* waylandApi() {
    static const WaylandApi* const api = []() -> const WaylandApi* {
        void* library = dlopen("libwayland-client.so.0", RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) {
            return nullptr;
        }
        static WaylandApi w;
        auto data = [library](const char* name, const wl_interface*& slot) {
            slot = static_cast<const wl_interface*>(dlsym(library, name));
            return slot != nullptr;
        };
        const bool complete =
            bindSymbol(library, "wl_display_connect", w.connect) &&
            bindSymbol(library, "wl_display_disconnect", w.disconnect) &&
            bindSymbol(library, "wl_display_get_fd", w.fd) &&
            bindSymbol(library, "wl_display_dispatch_pending", w.dispatchPending) &&
            bindSymbol(library, "wl_display_flush", w.flush) &&
            bindSymbol(library, "wl_display_prepare_read", w.prepareRead) &&
            bindSymbol(library, "wl_display_read_events", w.readEvents) &&
            bindSymbol(library, "wl_display_cancel_read", w.cancelRead) &&
            bindSymbol(library, "wl_display_get_error", w.error) &&
            bindSymbol(library, "wl_proxy_marshal_flags", w.marshalFlags) &&
            bindSymbol(library, "wl_proxy_add_listener", w.addListener) &&
            bindSymbol(library, "wl_proxy_destroy", w.destroy) &&
            bindSymbol(library, "wl_proxy_get_version", w.version) &&
            data("wl_registry_interface", w.registryInterface) &&
            data("wl_output_interface", w.outputInterface) &&
            data("wl_callback_interface", w.callbackInterface);
        return complete ? &w : nullptr;
    }();
    return api;
}

wl_proxy* asProxy(wl_display* display) {
    return reinterpret_cast<wl_proxy*>(display);
}

int millisecondsUntil(WaylandGammaOutputs::Deadline deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

// Ramps of `size` entries in a sealed-size memory file, red, green, blue.
int rampFile(std::uint32_t size, bool enabled, double strength) {
    const WarmTint::GammaRamp ramp = WarmTint::ramp(size, enabled, strength);
    const int fd = memfd_create("vesperine-gamma", MFD_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    const std::size_t channelBytes = size * sizeof(std::uint16_t);
    bool written = true;
    for (const auto* channel : {&ramp.red, &ramp.green, &ramp.blue}) {
        written = written &&
                  write(fd, channel->data(), channelBytes) == static_cast<ssize_t>(channelBytes);
    }
    if (!written) {
        close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

// The listeners' callbacks, with access to the connection's insides.
struct WaylandCallbacks {
    static void global(void* data, wl_registry*, std::uint32_t name, const char* interface,
                       std::uint32_t) {
        auto* self = static_cast<WaylandGammaOutputs*>(data);
        const WaylandApi& w = *waylandApi();
        if (std::strcmp(interface, zwlr_gamma_control_manager_v1_interface.name) == 0 &&
            self->manager_ == nullptr) {
            self->manager_ = w.marshalFlags(
                self->registry_, kRegistryBind, &zwlr_gamma_control_manager_v1_interface, 1, 0,
                name, zwlr_gamma_control_manager_v1_interface.name, 1u, nullptr);
            // Outputs announced before the manager get their controls now.
            for (auto& output : self->outputs_) {
                if (self->holding_) {
                    self->requestControl(output);
                }
            }
        } else if (std::strcmp(interface, "wl_output") == 0) {
            WaylandGammaOutputs::Output& output = self->outputs_.emplace_back();
            output.owner = self;
            output.globalName = name;
            // Version 1 and no listener: none of the output's events is needed.
            output.output = w.marshalFlags(self->registry_, kRegistryBind, w.outputInterface, 1, 0,
                                           name, w.outputInterface->name, 1u, nullptr);
            if (self->holding_) {
                self->requestControl(output);
            }
        }
    }

    static void globalRemove(void* data, wl_registry*, std::uint32_t name) {
        auto* self = static_cast<WaylandGammaOutputs*>(data);
        for (auto it = self->outputs_.begin(); it != self->outputs_.end(); ++it) {
            if (it->globalName == name) {
                self->dropControl(*it);
                waylandApi()->destroy(it->output);
                self->outputs_.erase(it);
                return;
            }
        }
    }

    static void gammaSize(void* data, zwlr_gamma_control_v1*, std::uint32_t size) {
        auto& output = *static_cast<WaylandGammaOutputs::Output*>(data);
        output.gammaSize = size;
        if (size == 0) {
            output.refused = true;
            output.owner->dropControl(output);
            return;
        }
        output.owner->setRamps(output);
    }

    static void failed(void* data, zwlr_gamma_control_v1*) {
        auto& output = *static_cast<WaylandGammaOutputs::Output*>(data);
        output.refused = true;
        output.owner->dropControl(output);
    }

    static void syncDone(void* data, wl_callback*, std::uint32_t) {
        *static_cast<bool*>(data) = true;
    }
};

namespace {

const wl_registry_listener kRegistryListener = {WaylandCallbacks::global,
                                                WaylandCallbacks::globalRemove};
const zwlr_gamma_control_v1_listener kControlListener = {WaylandCallbacks::gammaSize,
                                                         WaylandCallbacks::failed};
const wl_callback_listener kSyncListener = {WaylandCallbacks::syncDone};

// Sends what is queued and handles what arrives until `done` holds. False
// when the connection failed or the deadline passed first.
bool pumpUntil(wl_display* display, const std::function<bool()>& done,
               WaylandGammaOutputs::Deadline deadline, bool& timedOut) {
    const WaylandApi& w = *waylandApi();
    const int fd = w.fd(display);
    for (;;) {
        if (w.dispatchPending(display) < 0) {
            return false;
        }
        // Sent before returning too: an event just handled (an output that
        // came) may have asked for something a caller's next wait depends on.
        while (w.flush(display) < 0) {
            pollfd writable{fd, POLLOUT, 0};
            if (errno != EAGAIN || poll(&writable, 1, millisecondsUntil(deadline)) <= 0) {
                timedOut = errno == EAGAIN;
                return false;
            }
        }
        if (done()) {
            return true;
        }
        if (w.prepareRead(display) != 0) {
            continue;  // events already queued: dispatch them first
        }
        pollfd readable{fd, POLLIN, 0};
        const int ready = poll(&readable, 1, millisecondsUntil(deadline));
        if (ready <= 0) {
            w.cancelRead(display);
            timedOut = ready == 0;
            return false;
        }
        if (w.readEvents(display) < 0) {
            return false;
        }
    }
}

}  // namespace

std::unique_ptr<WaylandGammaOutputs> WaylandGammaOutputs::connect(const std::string& display,
                                                                  Deadline deadline,
                                                                  std::string& failure) {
    const WaylandApi* w = waylandApi();
    if (w == nullptr) {
        failure = "cannot load the Wayland client library";
        return nullptr;
    }
    std::unique_ptr<WaylandGammaOutputs> self(new WaylandGammaOutputs);
    self->display_ = w->connect(display.c_str());
    if (self->display_ == nullptr) {
        failure = "cannot connect to the Wayland compositor " + display;
        return nullptr;
    }
    self->registry_ =
        w->marshalFlags(asProxy(self->display_), kDisplayGetRegistry, w->registryInterface,
                        w->version(asProxy(self->display_)), 0, nullptr);
    w->addListener(
        self->registry_,
        reinterpret_cast<void (**)(void)>(const_cast<wl_registry_listener*>(&kRegistryListener)),
        self.get());
    if (!self->roundTrip(deadline)) {
        failure = self->connectionFailure();
        return nullptr;
    }
    return self;
}

WaylandGammaOutputs::~WaylandGammaOutputs() {
    if (display_ == nullptr) {
        return;
    }
    const WaylandApi& w = *waylandApi();
    for (auto& output : outputs_) {
        dropControl(output);
        w.destroy(output.output);
    }
    if (manager_ != nullptr) {
        w.marshalFlags(manager_, ZWLR_GAMMA_CONTROL_MANAGER_V1_DESTROY, nullptr, 1,
                       WL_MARSHAL_FLAG_DESTROY);
    }
    if (registry_ != nullptr) {
        w.destroy(registry_);
    }
    w.disconnect(display_);  // flushes: the compositor restores what was still held
}

int WaylandGammaOutputs::descriptor() const {
    return waylandApi()->fd(display_);
}

bool WaylandGammaOutputs::dispatch() {
    const WaylandApi& w = *waylandApi();
    if (w.prepareRead(display_) == 0) {
        if (w.readEvents(display_) < 0) {
            return false;
        }
    }
    return w.dispatchPending(display_) >= 0 && (w.flush(display_) >= 0 || errno == EAGAIN);
}

bool WaylandGammaOutputs::roundTrip(Deadline deadline) {
    const WaylandApi& w = *waylandApi();
    bool done = false;
    wl_proxy* callback = w.marshalFlags(asProxy(display_), kDisplaySync, w.callbackInterface,
                                        w.version(asProxy(display_)), 0, nullptr);
    if (callback == nullptr) {
        return false;
    }
    w.addListener(
        callback,
        reinterpret_cast<void (**)(void)>(const_cast<wl_callback_listener*>(&kSyncListener)),
        &done);
    const bool answered = pumpUntil(
        display_, [&] { return done; }, deadline, timedOut_);
    w.destroy(callback);
    return answered;
}

std::string WaylandGammaOutputs::connectionFailure() const {
    if (waylandApi()->error(display_) != 0) {
        return "the Wayland compositor went away";
    }
    return timedOut_ ? "the Wayland compositor does not answer"
                     : "the Wayland compositor went away";
}

void WaylandGammaOutputs::requestControl(Output& output) {
    if (manager_ == nullptr || output.control != nullptr || output.refused) {
        return;
    }
    const WaylandApi& w = *waylandApi();
    output.gammaSize = 0;
    output.control = w.marshalFlags(manager_, ZWLR_GAMMA_CONTROL_MANAGER_V1_GET_GAMMA_CONTROL,
                                    &zwlr_gamma_control_v1_interface, 1, 0, nullptr, output.output);
    if (output.control != nullptr) {
        w.addListener(output.control,
                      reinterpret_cast<void (**)(void)>(
                          const_cast<zwlr_gamma_control_v1_listener*>(&kControlListener)),
                      &output);
    }
}

void WaylandGammaOutputs::setRamps(Output& output) {
    if (output.control == nullptr || output.gammaSize == 0) {
        return;
    }
    const int fd = rampFile(output.gammaSize, wantEnabled_, wantStrength_);
    if (fd < 0) {
        return;
    }
    // The library sends a duplicate of the descriptor.
    waylandApi()->marshalFlags(output.control, ZWLR_GAMMA_CONTROL_V1_SET_GAMMA, nullptr, 1, 0, fd);
    close(fd);
}

void WaylandGammaOutputs::dropControl(Output& output) {
    if (output.control != nullptr) {
        waylandApi()->marshalFlags(output.control, ZWLR_GAMMA_CONTROL_V1_DESTROY, nullptr, 1,
                                   WL_MARSHAL_FLAG_DESTROY);
        output.control = nullptr;
    }
}

std::string WaylandGammaOutputs::apply(bool enabled, double strength, Deadline deadline) {
    if (manager_ == nullptr) {
        return "the Wayland compositor offers no gamma control";
    }
    const bool changed = !holding_ || enabled != wantEnabled_ || strength != wantStrength_;
    wantEnabled_ = enabled;
    wantStrength_ = strength;
    holding_ = true;
    for (auto& output : outputs_) {
        if (output.control == nullptr) {
            requestControl(output);  // its ramps follow its size
        } else if (changed) {
            setRamps(output);  // a control's ramps stay until it fails
        }
    }
    // The first round trip brings the sizes of new controls, whose ramps are
    // then sent; the second confirms that everything sent was handled.
    if (!roundTrip(deadline)) {
        return connectionFailure();
    }
    for (auto& output : outputs_) {
        output.answerDue = output.control != nullptr;
    }
    if (!roundTrip(deadline)) {
        return connectionFailure();
    }
    std::size_t refused = 0;
    for (auto& output : outputs_) {
        // An output that came during the last round trip may have its size
        // still on the way: it gets its ramps when the size arrives.
        if (output.control != nullptr && output.gammaSize == 0 && output.answerDue) {
            // No size after a round trip: a compositor that gives a busy
            // output to nobody (wlroots 0.15) answers nothing else.
            output.refused = true;
            dropControl(output);
        }
        refused += output.refused ? 1 : 0;
    }
    if (refused > 0) {
        return "the Wayland compositor refused the colour ramps of " + std::to_string(refused) +
               " of " + std::to_string(outputs_.size()) +
               (outputs_.size() == 1 ? " output" : " outputs") +
               " (another program holds them, or they have no gamma)";
    }
    return {};
}

std::string WaylandGammaOutputs::release(Deadline deadline) {
    holding_ = false;
    for (auto& output : outputs_) {
        dropControl(output);
    }
    return roundTrip(deadline) ? std::string() : connectionFailure();
}

bool WaylandGammaOutputs::connected() const {
    return waylandApi()->error(display_) == 0;
}

void WaylandGammaOutputs::abandon() {
    // wl_proxy_destroy sends nothing; disconnecting sends nothing either.
    const WaylandApi& w = *waylandApi();
    for (auto& output : outputs_) {
        if (output.control != nullptr) {
            w.destroy(output.control);
        }
        w.destroy(output.output);
    }
    outputs_.clear();
    for (wl_proxy* proxy : {manager_, registry_}) {
        if (proxy != nullptr) {
            w.destroy(proxy);
        }
    }
    w.disconnect(display_);
    display_ = nullptr;
}

bool WaylandGammaOutputs::holdsAnyOutput() const {
    for (const auto& output : outputs_) {
        if (output.control != nullptr) {
            return true;
        }
    }
    return false;
}

bool WaylandGammaOutputs::refusedEveryOutput() const {
    for (const auto& output : outputs_) {
        if (!output.refused) {
            return false;
        }
    }
    return !outputs_.empty();
}

}  // namespace vesperine
