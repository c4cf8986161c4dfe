#include "support/Subprocess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

extern char** environ;

namespace vesperine::testing {

pid_t spawn(const std::vector<std::string>& argv, const ProcessOptions& options, int in, int out,
            int err, bool ownGroup) {
    // Everything is prepared before fork(): the parent may have threads.
    std::vector<std::string> envText;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text(*entry);
        if (options.environment.count(text.substr(0, text.find('='))) == 0) {
            envText.push_back(text);
        }
    }
    for (const auto& [name, value] : options.environment) {
        if (value) {
            envText.push_back(name + "=" + *value);
        }
    }
    const auto pointers = [](const std::vector<std::string>& texts) {
        std::vector<char*> list;
        for (const auto& text : texts) {
            list.push_back(const_cast<char*>(text.c_str()));
        }
        list.push_back(nullptr);
        return list;
    };
    const std::vector<char*> args = pointers(argv), envp = pointers(envText);

    const pid_t pid = fork();
    if (pid == 0) {
        if (ownGroup) {
            setpgid(0, 0);
        }
        dup2(in, STDIN_FILENO);
        dup2(out, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        if (!options.workingDirectory.empty() && chdir(options.workingDirectory.c_str()) != 0) {
            _exit(127);
        }
        execvpe(args[0], args.data(), envp.data());
        _exit(127);
    }
    return pid;
}

int exitCodeOf(int waitStatus) {
    if (WIFEXITED(waitStatus)) {
        return WEXITSTATUS(waitStatus);
    }
    return WIFSIGNALED(waitStatus) ? 128 + WTERMSIG(waitStatus) : -1;
}

ProcessResult runProcess(const std::vector<std::string>& argv, const ProcessOptions& options) {
    ProcessResult result;
    int outPipe[2];
    int errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) {
        return result;
    }
    const int devNull = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const pid_t pid = spawn(argv, options, devNull, outPipe[1], errPipe[1]);
    for (const int fd : {devNull, outPipe[1], errPipe[1]}) {
        close(fd);
    }

    // Read until every holder of the write ends has closed them: a process
    // the child left behind on its streams holds the result up too.
    const auto deadline =
        std::chrono::steady_clock::now() +
        std::chrono::milliseconds(static_cast<long>(options.timeoutSeconds * 1000));
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    while (pid > 0 && (fds[0].fd >= 0 || fds[1].fd >= 0)) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            kill(pid, SIGKILL);
            result.err += "\n[killed after timeout]";
            break;
        }
        if (poll(fds, 2, static_cast<int>(left.count())) <= 0) {
            continue;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].revents == 0) {  // also a closed stream (fd -1)
                continue;
            }
            char buffer[4096];
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
            }
        }
    }
    for (const auto& fd : fds) {
        close(fd.fd);  // -1 for those already closed: nothing
    }
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid) {
        result.exitStatus = exitCodeOf(status);
    }
    return result;
}

std::string runConflictingCommands(
    const std::function<ProcessResult(const std::vector<std::string>&)>& run) {
    std::string failures[2];
    const auto alternate = [&](int which, const char* command, const char* first,
                               const char* second) {
        for (int i = 0; i < 10; ++i) {
            const ProcessResult result = run({command, i % 2 ? second : first});
            failures[which] += result.exitStatus == 0 ? "" : command + (": " + result.err);
        }
    };
    std::thread enabling(alternate, 0, "--set-enabled", "0", "1");
    alternate(1, "--set-intensity", "0.3", "0.8");
    enabling.join();
    return failures[0] + failures[1];
}

}  // namespace vesperine::testing
