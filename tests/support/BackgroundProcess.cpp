#include "support/BackgroundProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace vesperine::testing {

BackgroundProcess::BackgroundProcess(const std::vector<std::string>& argv,
                                     const Environment& environment, const std::string& stdoutPath,
                                     const std::string& stderrPath, double graceSeconds)
    : graceSeconds_(graceSeconds) {
    const int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int out = open(stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int err = open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    pid_ = spawn(argv, {environment, "", 0}, in, out, err, true);
    for (const int fd : {in, out, err}) {
        close(fd);
    }
}

bool BackgroundProcess::running() {
    int raw = 0;
    if (pid_ > 0 && !status_ && waitpid(pid_, &raw, WNOHANG) == pid_) {
        status_ = exitCodeOf(raw);
    }
    return pid_ > 0 && !status_;
}

std::optional<int> BackgroundProcess::waitForExit(double seconds) {
    waitUntil([this] { return !running(); }, seconds);
    return status_;
}

void BackgroundProcess::stop() {
    if (running()) {
        kill(pid_, SIGTERM);
        if (!waitForExit(graceSeconds_)) {
            kill(-pid_, SIGKILL);
            waitForExit(10.0);
        }
    }
}

bool waitUntil(const std::function<bool()>& condition, double seconds) {
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(static_cast<long>(seconds * 1000));
    for (; !condition(); std::this_thread::sleep_for(std::chrono::milliseconds(20))) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
    }
    return true;
}

bool programInstalled(const std::string& name) {
    return runProcess({"sh", "-c", "command -v \"$0\" >/dev/null", name}).exitStatus == 0;
}

}  // namespace vesperine::testing
