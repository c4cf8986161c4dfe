#pragma once

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "support/Subprocess.h"

namespace vesperine::testing {

// A process that runs beside the test: X server, window manager, bus, the
// application. Its output goes to files; it is stopped (TERM, then KILL) when
// the object goes away.
class BackgroundProcess {
  public:
    BackgroundProcess(const std::vector<std::string>& argv, const Environment& environment,
                      const std::string& stdoutPath, const std::string& stderrPath);
    ~BackgroundProcess() { stop(); }
    BackgroundProcess(const BackgroundProcess&) = delete;
    BackgroundProcess& operator=(const BackgroundProcess&) = delete;

    bool running();
    // Exit status once it ended by itself, or 128 + signal.
    std::optional<int> exitStatus();
    // Waits up to `seconds` for it to end by itself.
    std::optional<int> waitForExit(double seconds);
    void stop();

  private:
    pid_t pid_ = -1;
    std::optional<int> status_;
};

// Polls `condition` every 20 ms until it holds or `seconds` pass.
bool waitUntil(const std::function<bool()>& condition, double seconds);

// A private bus at "unix:path=<folder>/bus" where anyone may own any name and
// send anything. Given an environment, it runs in it and starts the installed
// session services (dconf) on demand, which inherit it.
class TestBus {
  public:
    explicit TestBus(const std::string& folder, const Environment& environment = {});
    const std::string& address() const { return address_; }
    bool started() const { return started_; }

  private:
    std::string address_;
    std::optional<BackgroundProcess> daemon_;
    bool started_ = false;
};

bool programInstalled(const std::string& name);

}  // namespace vesperine::testing
