#pragma once

#include <memory>

namespace vesperine {

// Puts the filter on the screen of the session. A backend never fails loudly:
// with no display reachable an apply does nothing.
class DisplayBackend {
  public:
    virtual ~DisplayBackend() = default;

    // Off: the screen's normal colours. On: the warm tint of `strength`
    // (0 to 1). Always computed from scratch, so repeated applies never stack.
    virtual void apply(bool enabled, double strength) = 0;
};

// A backend that never draws: for commands run with no screen to change.
class NullDisplay final : public DisplayBackend {
  public:
    void apply(bool, double) override {}
};

// The real backend of this session: X11 RandR gamma ramps on every CRTC,
// with libX11/libXrandr loaded on first apply.
std::unique_ptr<DisplayBackend> makeSessionDisplay();

}  // namespace vesperine
