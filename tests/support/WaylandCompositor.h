#pragma once

#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace vesperine::testing {

// The test compositor (vesperine-test-compositor) in a process of its own,
// listening at <runtimeFolder>/<socketName>; stopped when the object goes away.
class WaylandCompositor {
  public:
    struct OutputState {
        unsigned gammaSize = 0;
        bool held = false;  // some client has its gamma control
        int rampsReceived = 0;
        std::vector<std::uint16_t> ramp;  // red, green, blue; empty: its own ramps
    };

    // No sizes: one output, and no gamma control manager.
    WaylandCompositor(const std::string& runtimeFolder, const std::string& socketName,
                      const std::vector<unsigned>& gammaSizes);
    ~WaylandCompositor() { stop(); }
    WaylandCompositor(const WaylandCompositor&) = delete;
    WaylandCompositor& operator=(const WaylandCompositor&) = delete;

    bool started() const { return started_; }
    std::vector<OutputState> outputs();
    void addOutput(unsigned gammaSize);
    void makeBusy(unsigned output);  // as if another program held it
    void stop();                     // the compositor goes away

  private:
    std::string ask(const std::string& command);
    std::string nextAnswer();

    pid_t pid_ = -1;
    std::FILE* commands_ = nullptr;
    std::FILE* answers_ = nullptr;
    bool started_ = false;
};

}  // namespace vesperine::testing
