#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

namespace vesperine {

// What one apply came to.
struct DisplayOutcome {
    enum class Kind {
        reached,      // the screen shows the requested state
        noScreen,     // the session has no display at all (SSH, CI): nothing to do
        unreachable,  // there is a screen, but this apply could not change it
    };
    Kind kind = Kind::noScreen;
    std::string reason;  // for `unreachable`: one line saying why, no trailing newline

    static DisplayOutcome reachedScreen() { return {Kind::reached, {}}; }
    static DisplayOutcome noDisplay() { return {Kind::noScreen, {}}; }
    static DisplayOutcome failed(std::string why) { return {Kind::unreachable, std::move(why)}; }
    bool failedToReach() const { return kind == Kind::unreachable; }
};

// Puts the filter on the screen of the session, one implementation per way of
// reaching it. A backend never ends the process and never throws: a failure is
// an `unreachable` outcome with its reason.
class DisplayBackend {
  public:
    virtual ~DisplayBackend() = default;

    // Off: the screen's normal colours. On: the warm tint of `strength`
    // (0 to 1). Always computed from scratch, so repeated applies never stack.
    virtual DisplayOutcome apply(bool enabled, double strength) = 0;

    // A strength passing by while the user drags the slider, the filter on:
    // handed to the screen without waiting to see it taken, so that a drag
    // never stalls on a slow desktop. An apply() follows when the drag ends.
    virtual DisplayOutcome preview(double strength) { return apply(true, strength); }

    // How often a preview is worth making: every frame where the ramps are
    // set directly; less often where the desktop fades to each temperature
    // over seconds and every preview rewrites its settings.
    virtual std::chrono::milliseconds previewInterval() const {
        return std::chrono::milliseconds(16);
    }

    // A short name for the way the screen is reached, for messages and the
    // man page: "x11-randr", "none".
    virtual std::string_view name() const = 0;
};

// A backend that never draws: for commands run with no screen to change.
class NullDisplay final : public DisplayBackend {
  public:
    DisplayOutcome apply(bool, double) override { return DisplayOutcome::noDisplay(); }
    std::string_view name() const override { return "none"; }
};

// The backend of this session, chosen at run time from what the session offers;
// its client libraries are loaded on the first apply.
std::unique_ptr<DisplayBackend> makeSessionDisplay();

}  // namespace vesperine
