#pragma once

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "support/Subprocess.h"

namespace vesperine::testing {

// A process that runs beside the test: a part of a desktop session, the
// application. Its output goes to files; it is stopped when the object goes
// away: TERM, then after `graceSeconds` KILL to its process group.
class BackgroundProcess {
  public:
    BackgroundProcess(const std::vector<std::string>& argv, const Environment& environment,
                      const std::string& stdoutPath, const std::string& stderrPath,
                      double graceSeconds = 3.0);
    ~BackgroundProcess() { stop(); }
    BackgroundProcess(const BackgroundProcess&) = delete;
    BackgroundProcess& operator=(const BackgroundProcess&) = delete;

    bool running();
    // Waits up to `seconds` for it to end by itself; its exit status then, or 128 + signal.
    std::optional<int> waitForExit(double seconds);
    void stop();

  private:
    pid_t pid_ = -1;
    std::optional<int> status_;
    double graceSeconds_;
};

// Polls `condition` every 20 ms until it holds or `seconds` pass.
bool waitUntil(const std::function<bool()>& condition, double seconds);

bool programInstalled(const std::string& name);

}  // namespace vesperine::testing
