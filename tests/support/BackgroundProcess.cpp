#include "support/BackgroundProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "support/TempDir.h"

extern char** environ;

namespace vesperine::testing {
namespace {

int decodeStatus(int raw) {
    if (WIFEXITED(raw)) {
        return WEXITSTATUS(raw);
    }
    return WIFSIGNALED(raw) ? 128 + WTERMSIG(raw) : -1;
}

}  // namespace

BackgroundProcess::BackgroundProcess(
    const std::vector<std::string>& argv,
    const std::map<std::string, std::optional<std::string>>& environment,
    const std::string& stdoutPath, const std::string& stderrPath) {
    std::map<std::string, std::string> variables;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text(*entry);
        const auto equals = text.find('=');
        if (equals != std::string::npos) {
            variables[text.substr(0, equals)] = text.substr(equals + 1);
        }
    }
    for (const auto& [name, value] : environment) {
        if (value) {
            variables[name] = *value;
        } else {
            variables.erase(name);
        }
    }
    std::vector<std::string> envText;
    for (const auto& [name, value] : variables) {
        envText.push_back(name + "=" + value);
    }
    std::vector<char*> envp;
    for (auto& text : envText) {
        envp.push_back(text.data());
    }
    envp.push_back(nullptr);
    std::vector<std::string> args = argv;
    std::vector<char*> argp;
    for (auto& text : args) {
        argp.push_back(text.data());
    }
    argp.push_back(nullptr);

    pid_ = fork();
    if (pid_ == 0) {
        setpgid(0, 0);
        const int in = open("/dev/null", O_RDONLY);
        const int out = open(stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        execvpe(argp[0], argp.data(), envp.data());
        _exit(127);
    }
}

std::optional<int> BackgroundProcess::exitStatus() {
    if (status_ || pid_ <= 0) {
        return status_;
    }
    int raw = 0;
    if (waitpid(pid_, &raw, WNOHANG) == pid_) {
        status_ = decodeStatus(raw);
    }
    return status_;
}

bool BackgroundProcess::running() {
    return pid_ > 0 && !exitStatus();
}

std::optional<int> BackgroundProcess::waitForExit(double seconds) {
    waitUntil([this] { return !running(); }, seconds);
    return exitStatus();
}

void BackgroundProcess::stop() {
    if (!running()) {
        return;
    }
    kill(pid_, SIGTERM);
    if (!waitUntil([this] { return !running(); }, 3.0)) {
        kill(pid_, SIGKILL);
        int raw = 0;
        if (waitpid(pid_, &raw, 0) == pid_) {
            status_ = decodeStatus(raw);
        }
    }
}

bool waitUntil(const std::function<bool()>& condition, double seconds) {
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(static_cast<long>(seconds * 1000));
    while (true) {
        if (condition()) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

TestBus::TestBus(const std::string& folder,
                 const std::map<std::string, std::optional<std::string>>& environment) {
    const std::string socket = folder + "/bus";
    address_ = "unix:path=" + socket;
    const std::string config = folder + "/bus.conf";
    writeFile(config,
              "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
              " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
              "<busconfig>\n"
              "  <listen>unix:path=" +
                  socket +
                  "</listen>\n"
                  "  <auth>EXTERNAL</auth>\n" +
                  std::string(environment.empty() ? "" : "  <standard_session_servicedirs/>\n") +
                  "  <policy context=\"default\">\n"
                  "    <allow own=\"*\"/>\n"
                  "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                  "    <allow eavesdrop=\"true\"/>\n"
                  "    <allow send_type=\"signal\"/>\n"
                  "  </policy>\n"
                  "</busconfig>\n");
    daemon_.emplace(std::vector<std::string>{"dbus-daemon", "--nofork", "--config-file=" + config},
                    environment, folder + "/bus.out", folder + "/bus.err");
    started_ = waitUntil([&] { return fileExists(socket); }, 10.0);
}

bool programInstalled(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string list = path ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= list.size()) {
        const auto colon = list.find(':', start);
        const std::string folder =
            list.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
        if (!folder.empty() && access((folder + "/" + name).c_str(), X_OK) == 0) {
            return true;
        }
        if (colon == std::string::npos) {
            break;
        }
        start = colon + 1;
    }
    return false;
}

}  // namespace vesperine::testing
