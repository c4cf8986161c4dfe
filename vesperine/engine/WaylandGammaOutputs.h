#pragma once

#include <chrono>
#include <cstdint>
#include <list>
#include <memory>
#include <string>

struct wl_display;
struct wl_proxy;

namespace vesperine {

// One connection to a Wayland compositor that holds a wlroots gamma control on
// each of its outputs, outputs announced later included. libwayland-client is
// loaded with dlopen on the first connection. Every wait is bounded by a
// deadline; nothing here ends the process or throws.
class WaylandGammaOutputs {
  public:
    using Deadline = std::chrono::steady_clock::time_point;

    // Connected, with the outputs and the manager bound; null with `failure`
    // set otherwise.
    static std::unique_ptr<WaylandGammaOutputs> connect(const std::string& display,
                                                        Deadline deadline, std::string& failure);
    ~WaylandGammaOutputs();
    WaylandGammaOutputs(const WaylandGammaOutputs&) = delete;
    WaylandGammaOutputs& operator=(const WaylandGammaOutputs&) = delete;

    // The compositor announces the gamma control manager.
    bool offersGammaControl() const { return manager_ != nullptr; }

    // The connection's descriptor, to poll for what the compositor sends.
    int descriptor() const;
    // Handles what the compositor sent (new outputs get the wanted ramps);
    // false once the connection is gone.
    bool dispatch();

    // The tint on every output, confirmed by the compositor. Why it failed,
    // or an empty text.
    std::string apply(bool enabled, double strength, Deadline deadline);
    // Gives every output back: the compositor restores its own ramps.
    std::string release(Deadline deadline);

    // The compositor has not closed the connection.
    bool connected() const;
    // For a process that handed the connection to a child: frees this
    // process's copy of it without a word to the compositor.
    void abandon();

    // Some output shows the ramps set here.
    bool holdsAnyOutput() const;
    // Every output refused its control.
    bool refusedEveryOutput() const;

    struct Output {
        WaylandGammaOutputs* owner = nullptr;
        std::uint32_t globalName = 0;
        wl_proxy* output = nullptr;
        wl_proxy* control = nullptr;
        std::uint32_t gammaSize = 0;
        bool refused = false;  // `failed`, size 0, or no size at all
        // Its control was asked for before the last round trip began, so the
        // compositor has answered it by that trip's end.
        bool answerDue = false;
    };

  private:
    WaylandGammaOutputs() = default;
    bool roundTrip(Deadline deadline);
    void requestControl(Output& output);
    void setRamps(Output& output);
    void dropControl(Output& output);
    std::string connectionFailure() const;

    friend struct WaylandCallbacks;

    wl_display* display_ = nullptr;
    wl_proxy* registry_ = nullptr;
    wl_proxy* manager_ = nullptr;
    std::list<Output> outputs_;  // a list: listeners keep pointers to its elements
    bool wantEnabled_ = false;
    double wantStrength_ = 0.0;
    bool holding_ = false;  // an apply asked for controls; announced outputs get one too
    bool timedOut_ = false;
};

}  // namespace vesperine
