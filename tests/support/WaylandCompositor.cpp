#include "support/WaylandCompositor.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>

#include "support/BackgroundProcess.h"

namespace vesperine::testing {

WaylandCompositor::WaylandCompositor(const std::string& runtimeFolder,
                                     const std::string& socketName,
                                     const std::vector<unsigned>& gammaSizes) {
    int toChild[2];
    int fromChild[2];
    if (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0) {
        return;
    }
    std::vector<std::string> argv = {VESPERINE_TEST_COMPOSITOR, socketName};
    for (const unsigned size : gammaSizes) {
        argv.push_back(std::to_string(size));
    }
    if (gammaSizes.empty()) {
        argv.push_back("no-manager");
    }
    pid_ = spawn(argv, {{{"XDG_RUNTIME_DIR", runtimeFolder}}, "", 60}, toChild[0], fromChild[1],
                 STDERR_FILENO);
    close(toChild[0]);
    close(fromChild[1]);
    commands_ = fdopen(toChild[1], "w");
    answers_ = fdopen(fromChild[0], "r");
    started_ = nextAnswer() == "ready";
}

std::string WaylandCompositor::ask(const std::string& command) {
    std::fputs((command + "\n").c_str(), commands_);
    std::fflush(commands_);
    return nextAnswer();
}

std::string WaylandCompositor::nextAnswer() {
    std::string answer;
    for (int c; (c = std::fgetc(answers_)) != EOF && c != '\n';) {
        answer += static_cast<char>(c);
    }
    return answer;
}

std::vector<WaylandCompositor::OutputState> WaylandCompositor::outputs() {
    std::vector<OutputState> outputs;
    if (!started_) {
        return outputs;
    }
    for (std::string line = ask("state"); !line.empty() && line != "end"; line = nextAnswer()) {
        std::istringstream fields(line);
        OutputState& output = outputs.emplace_back();
        fields >> output.gammaSize >> output.held >> output.rampsReceived;
        for (unsigned entry = 0; fields >> entry;) {
            output.ramp.push_back(static_cast<std::uint16_t>(entry));
        }
    }
    return outputs;
}

void WaylandCompositor::addOutput(unsigned gammaSize) {
    ask("add " + std::to_string(gammaSize));
}

void WaylandCompositor::makeBusy(unsigned output) {
    ask("busy " + std::to_string(output));
}

void WaylandCompositor::stop() {
    if (pid_ <= 0) {
        return;
    }
    std::fputs("quit\n", commands_);
    std::fclose(commands_);
    std::fclose(answers_);
    if (!waitUntil([&] { return waitpid(pid_, nullptr, WNOHANG) != 0; }, 2.0)) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
}

}  // namespace vesperine::testing
