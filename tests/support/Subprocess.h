#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vesperine::testing {

struct ProcessResult {
    std::string out;
    std::string err;
    int exitStatus = -1;  // the exit code, or 128 + signal number
};

struct ProcessOptions {
    // Variables to set (a value) or remove (nullopt) on top of this process's
    // environment.
    std::map<std::string, std::optional<std::string>> environment;
    std::string workingDirectory;  // empty: this process's
    double timeoutSeconds = 60.0;  // then the child is killed
};

// Runs `argv` (argv[0] a path or a name found on PATH) to completion with no
// standard input and captures both output streams.
ProcessResult runProcess(const std::vector<std::string>& argv, const ProcessOptions& options = {});

}  // namespace vesperine::testing
