#pragma once

#include <sys/types.h>

#include <functional>
#include <iomanip>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace vesperine::testing {

// Variables to set (a value) or remove (nullopt) on top of this process's.
using Environment = std::map<std::string, std::optional<std::string>>;

struct ProcessResult {
    std::string out;
    std::string err;
    int exitStatus = -1;  // the exit code, or 128 + signal number
    bool operator==(const ProcessResult&) const = default;
};

inline void PrintTo(const ProcessResult& result, std::ostream* os) {
    *os << "status " << result.exitStatus << ", out " << std::quoted(result.out) << ", err "
        << std::quoted(result.err);
}

struct ProcessOptions {
    Environment environment;
    std::string workingDirectory;  // empty: this process's
    double timeoutSeconds = 60.0;  // then the child is killed
};

// Starts `argv` (argv[0] a path or a name found on PATH) with its standard
// streams on `in`, `out` and `err`, in a process group of its own when
// `ownGroup`. The pid, or -1.
pid_t spawn(const std::vector<std::string>& argv, const ProcessOptions& options, int in, int out,
            int err, bool ownGroup = false);

// A wait status as an exit code, or 128 + the signal number.
int exitCodeOf(int waitStatus);

// Runs `argv` to completion on no standard input; both output streams.
ProcessResult runProcess(const std::vector<std::string>& argv, const ProcessOptions& options = {});

#ifdef VESPERINE_EXECUTABLE
// The program under test with `arguments`.
inline ProcessResult runVesperine(std::vector<std::string> arguments,
                                  const ProcessOptions& options = {}) {
    arguments.insert(arguments.begin(), VESPERINE_EXECUTABLE);
    return runProcess(arguments, options);
}
#endif

// Two processes at once through `run`, ten commands each: one switching the
// filter off and on, one changing its strength. What the failing ones said.
std::string runConflictingCommands(
    const std::function<ProcessResult(const std::vector<std::string>&)>& run);

}  // namespace vesperine::testing
