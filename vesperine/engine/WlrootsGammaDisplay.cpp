// The filter on a wlroots compositor. The outputs are held by a holder
// process of the session (WaylandGammaHolder), which this backend asks to apply
// what the filter-state file holds, starting it when the filter is on and none
// runs. Every wait is bounded.

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/DisplayBackends.h"
#include "engine/NumberText.h"
#include "engine/WaylandGammaHolder.h"
#include "engine/WaylandGammaOutputs.h"

extern char** environ;

namespace vesperine {
namespace {

using Clock = std::chrono::steady_clock;

// For the registry of a compositor that is slow to answer.
constexpr auto kProbePatience = std::chrono::milliseconds(500);
// For a holder to start, connect and confirm an apply; its own round trips
// are bounded by less than this.
constexpr auto kApplyPatience = std::chrono::seconds(3);
// Between attempts while a holder that is ending lets go of the session.
constexpr auto kRetryPause = std::chrono::milliseconds(5);

std::string waylandDisplayName() {
    const char* name = std::getenv("WAYLAND_DISPLAY");
    return name != nullptr && name[0] != '\0' ? name : "wayland-0";
}

int millisecondsUntil(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

enum class LineEnd { line, closed, timedOut };

// One line from `fd`, without its newline.
LineEnd readLine(int fd, Clock::time_point deadline, std::string& line) {
    line.clear();
    for (;;) {
        pollfd readable{fd, POLLIN, 0};
        const int ready = poll(&readable, 1, millisecondsUntil(deadline));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            return LineEnd::timedOut;
        }
        char c = 0;
        const ssize_t n = read(fd, &c, 1);
        if (n <= 0) {
            return LineEnd::closed;
        }
        if (c == '\n') {
            return LineEnd::line;
        }
        line += c;
    }
}

// Connected to the holder's socket, or -1 when no holder listens there.
int connectToHolder(const std::string& socketPath) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath.size() >= sizeof address.sun_path) {
        return -1;
    }
    socketPath.copy(address.sun_path, socketPath.size());
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        return fd;
    }
    if (fd >= 0) {
        close(fd);
    }
    return -1;
}

// Starts a holder of `display` showing `strength` (on): this executable
// again, in a session of its own, on /dev/null, with the write end of a pipe
// as descriptor 3 on which it reports its first apply. The read end, or -1.
int startHolder(const std::string& program, const std::string& display, double strength,
                pid_t& pid) {
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        return -1;
    }
    posix_spawn_file_actions_t files;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&files);
    posix_spawnattr_init(&attributes);
    for (const int standard : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        posix_spawn_file_actions_addopen(&files, standard, "/dev/null", O_RDWR, 0);
    }
    posix_spawn_file_actions_adddup2(&files, report[1], 3);
    posix_spawn_file_actions_addclosefrom_np(&files, 4);
    sigset_t none;
    sigset_t defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGCHLD);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    std::string programName = "vesperine";
    std::string command = WaylandGammaHolder::command;
    std::string name = display;
    std::string enabled = "1";
    std::string strengthText = NumberText::formatRoundTrip(strength);
    char* argv[] = {programName.data(), command.data(),      name.data(),
                    enabled.data(),     strengthText.data(), nullptr};
    const int spawned = posix_spawn(&pid, program.c_str(), &files, &attributes, argv, environ);
    posix_spawn_file_actions_destroy(&files);
    posix_spawnattr_destroy(&attributes);
    close(report[1]);
    if (spawned != 0) {
        close(report[0]);
        return -1;
    }
    return report[0];
}

// Some process holds the session's lock.
bool sessionHeld(const WaylandGammaHolder::Paths& files) {
    const int lock = open(files.lock.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    const bool held = lock >= 0 && flock(lock, LOCK_SH | LOCK_NB) != 0;
    if (lock >= 0) {
        close(lock);
    }
    return held;
}

// Only a process with one thread may go on after fork() without exec: the
// command line; the tray application starts a holder instead.
bool singleThreaded() {
    struct stat tasks {};
    return stat("/proc/self/task", &tasks) == 0 && tasks.st_nlink == 3;  // ".", "..", one task
}

// Closes every descriptor but `keep` (sorted) and those below 3.
void closeAllBut(std::vector<int> keep) {
    int from = 3;
    for (const int fd : keep) {
        if (fd > from) {
            close_range(static_cast<unsigned>(from), static_cast<unsigned>(fd - 1), 0);
        }
        from = fd + 1;
    }
    close_range(static_cast<unsigned>(from), ~0U, 0);
}

// The command line holds the session itself: it takes the lock, sets the
// ramps on its own connection and, once the compositor confirmed them, leaves
// the connection to a child of its own that becomes the holder. No process
// is started and nothing is waited for twice. Nothing when another process
// has the session.
std::optional<DisplayOutcome> holdHere(const std::string& display,
                                       const WaylandGammaHolder::Paths& files, double strength,
                                       std::unique_ptr<WaylandGammaOutputs> outputs) {
    const int lock = WaylandGammaHolder::takeSession(files);
    if (lock < 0) {
        return std::nullopt;
    }
    const int listener = WaylandGammaHolder::listenForClients(files);
    if (listener < 0) {
        close(lock);
        return DisplayOutcome::failed("cannot make the socket " + files.socket);
    }
    std::string failure;
    if (!outputs) {
        outputs = WaylandGammaOutputs::connect(display, Clock::now() + kApplyPatience, failure);
    }
    if (outputs) {
        failure = outputs->apply(true, strength, Clock::now() + kApplyPatience);
    }
    if (!outputs || outputs->refusedEveryOutput() || !outputs->connected()) {
        unlink(files.socket.c_str());
        close(listener);
        close(lock);
        return DisplayOutcome::failed(failure);  // the connection closes: nothing is held
    }
    std::fflush(nullptr);
    // The child inherits the store's lock, among others: this command returns
    // only once it has let go of them, so that a holder stopped or slow to
    // start never keeps the user's stores locked.
    int letGo[2] = {-1, -1};
    if (pipe2(letGo, O_CLOEXEC) != 0) {
        letGo[0] = letGo[1] = -1;
    }
    const pid_t holder = fork();
    if (holder == 0) {
        setsid();
        std::vector<int> keep = {lock, listener, outputs->descriptor()};
        if (letGo[1] >= 0) {
            keep.push_back(letGo[1]);
        }
        std::sort(keep.begin(), keep.end());
        closeAllBut(keep);
        close(letGo[1]);
        const int null = open("/dev/null", O_RDWR);
        for (const int standard : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
            dup2(null, standard);
        }
        _exit(WaylandGammaHolder::serve(files, listener, std::move(outputs)));
    }
    close(letGo[1]);
    char ignored = 0;
    while (letGo[0] >= 0 && read(letGo[0], &ignored, 1) < 0 && errno == EINTR) {
    }
    close(letGo[0]);
    if (holder < 0) {
        close(lock);
        close(listener);
        return DisplayOutcome::failed("cannot start the holder of the Wayland outputs");
    }
    // The lock file names the holder before this command returns.
    const std::string pid = std::to_string(holder) + "\n";
    if (ftruncate(lock, 0) != 0 || pwrite(lock, pid.data(), pid.size(), 0) < 0) {
    }
    close(lock);
    close(listener);
    outputs->abandon();
    return failure.empty() ? DisplayOutcome::reachedScreen() : DisplayOutcome::failed(failure);
}

DisplayOutcome outcomeOf(const std::string& answer) {
    return answer == "ok" ? DisplayOutcome::reachedScreen() : DisplayOutcome::failed(answer);
}

class WlrootsGammaDisplay final : public DisplayBackend {
  public:
    WlrootsGammaDisplay(std::string display, std::string holderProgram)
        : display_(std::move(display)), holderProgram_(std::move(holderProgram)) {}

    std::string_view name() const override { return kWlrootsGammaName; }

    ~WlrootsGammaDisplay() override { reapHolders(); }

    // The connection that found the gamma control, to hold the outputs with.
    void keepForHolding(std::unique_ptr<WaylandGammaOutputs> connection) {
        connection_ = std::move(connection);
    }

    // A running holder applies what the filter-state file holds, which the
    // caller has just written: so the last of several concurrent writers wins
    // on screen as in the file. Without one, this process holds the outputs
    // (one thread) or starts a holder (several threads).
    DisplayOutcome apply(bool enabled, double strength) override {
        reapHolders();
        const auto where = WaylandGammaHolder::paths(display_);
        if (const auto* failure = std::get_if<std::string>(&where)) {
            return DisplayOutcome::failed(*failure);
        }
        const auto& files = std::get<WaylandGammaHolder::Paths>(where);
        const std::string& socketPath = files.socket;
        const auto deadline = Clock::now() + kApplyPatience;
        std::string answer;
        while (Clock::now() < deadline) {
            int fd = connectToHolder(socketPath);
            if (fd >= 0) {
                static constexpr char request[] = "apply\n";
                if (send(fd, request, sizeof request - 1, MSG_NOSIGNAL) < 0) {
                    close(fd);
                    fd = -1;
                }
            } else if (!enabled && !sessionHeld(files)) {
                return DisplayOutcome::reachedScreen();  // no holder: the colours are normal
            } else if (!enabled) {
                // A holder starting up or ending: ask again.
            } else if (singleThreaded()) {
                if (auto outcome = holdHere(display_, files, strength, std::move(connection_))) {
                    return *outcome;
                }
            } else {
                pid_t holder = -1;
                fd = startHolder(holderProgram_, display_, strength, holder);
                if (holder > 0) {
                    started_.push_back(holder);
                }
                if (fd < 0) {
                    return DisplayOutcome::failed("cannot start the holder of the Wayland outputs");
                }
            }
            const LineEnd end = fd >= 0 ? readLine(fd, deadline, answer) : LineEnd::closed;
            if (fd >= 0) {
                close(fd);
            }
            if (end == LineEnd::line) {
                return outcomeOf(answer);
            }
            if (end == LineEnd::timedOut) {
                break;
            }
            // Closed without an answer: a holder was ending, or another one
            // has the session. Ask again.
            std::this_thread::sleep_for(kRetryPause);
        }
        return DisplayOutcome::failed("the holder of the Wayland outputs does not answer");
    }

    // A drag's strength goes to the running holder as it is: the store, which
    // an apply has the holder read, lags behind the thumb by up to a store
    // interval. Without a holder it is an apply.
    DisplayOutcome preview(double strength) override {
        const auto where = WaylandGammaHolder::paths(display_);
        const auto* files = std::get_if<WaylandGammaHolder::Paths>(&where);
        const int fd = files != nullptr ? connectToHolder(files->socket) : -1;
        if (fd >= 0) {
            const std::string request = "preview " + NumberText::formatRoundTrip(strength) + "\n";
            std::string answer;
            const bool sent = send(fd, request.data(), request.size(), MSG_NOSIGNAL) >= 0;
            const bool answered =
                sent && readLine(fd, Clock::now() + kApplyPatience, answer) == LineEnd::line;
            close(fd);
            if (answered) {
                return outcomeOf(answer);
            }
        }
        return apply(true, strength);
    }

  private:
    // Holders started here that have ended: a long-running process (the tray
    // application) must not collect them as zombies.
    void reapHolders() {
        std::erase_if(started_, [](pid_t pid) { return waitpid(pid, nullptr, WNOHANG) != 0; });
    }

    std::string display_;
    std::string holderProgram_;
    std::unique_ptr<WaylandGammaOutputs> connection_;  // made when the compositor was asked
    std::vector<pid_t> started_;
};

// Says why the compositor could not be reached, on every apply.
class UnreachableDisplay final : public DisplayBackend {
  public:
    explicit UnreachableDisplay(std::string reason) : reason_(std::move(reason)) {}
    std::string_view name() const override { return kWaylandUnreachableName; }
    DisplayOutcome apply(bool, double) override { return DisplayOutcome::failed(reason_); }

  private:
    std::string reason_;
};

}  // namespace

std::unique_ptr<DisplayBackend> WaylandGammaHolder::makeClient(const std::string& display,
                                                               const std::string& program) {
    return std::make_unique<WlrootsGammaDisplay>(display, program);
}

std::unique_ptr<DisplayBackend> makeWlrootsGammaDisplay() {
    const std::string display = waylandDisplayName();
    std::string failure;
    auto connection = WaylandGammaOutputs::connect(display, Clock::now() + kProbePatience, failure);
    if (!connection) {
        return std::make_unique<UnreachableDisplay>(failure);
    }
    if (!connection->offersGammaControl()) {
        return nullptr;
    }
    auto client = std::make_unique<WlrootsGammaDisplay>(display, "/proc/self/exe");
    if (singleThreaded()) {
        client->keepForHolding(std::move(connection));  // saves connecting again
    }
    return client;
}

}  // namespace vesperine
