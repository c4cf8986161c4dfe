#include "engine/WaylandGammaHolder.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/ColorFilterState.h"
#include "engine/KeyFileStore.h"
#include "engine/NumberText.h"
#include "engine/StorePaths.h"
#include "engine/WaylandGammaOutputs.h"

namespace vesperine::WaylandGammaHolder {
namespace {

// For the compositor to answer the round trips of one apply.
constexpr auto kApplyPatience = std::chrono::seconds(2);
// For a client that connected to send its one request.
constexpr int kRequestPatienceMs = 200;
// The client's end of the report pipe.
constexpr int kReportDescriptor = 3;

WaylandGammaOutputs::Deadline applyDeadline() {
    return std::chrono::steady_clock::now() + kApplyPatience;
}

// A display name as one file name: WAYLAND_DISPLAY may be a path.
std::string fileNamePart(const std::string& display) {
    std::string part = display;
    for (char& c : part) {
        if (c == '/') {
            c = '_';
        }
    }
    return part;
}

void sendLine(int fd, const std::string& text) {
    const std::string line = text + "\n";
    (void)!send(fd, line.data(), line.size(), MSG_NOSIGNAL);
}

// Reports the first apply to the client that started this holder, whose pipe
// it is; a descriptor 3 of anything else is left alone.
void report(const std::string& text) {
    struct stat pipe {};
    if (fstat(kReportDescriptor, &pipe) != 0 || !S_ISFIFO(pipe.st_mode)) {
        return;
    }
    const std::string line = text + "\n";
    (void)!write(kReportDescriptor, line.data(), line.size());
    close(kReportDescriptor);
}

std::string folderOf(const std::string& path) {
    return path.substr(0, path.rfind('/'));
}

std::string nameIn(const std::string& path) {
    return path.substr(path.rfind('/') + 1);
}

// `enabled` and `strength` on every output; off gives them back. Why it
// failed, or "". `finished` when the holder has nothing left to hold.
std::string applyState(WaylandGammaOutputs& outputs, bool enabled, double strength,
                       bool& finished) {
    if (!enabled) {
        finished = true;
        return outputs.release(applyDeadline());
    }
    std::string failure = outputs.apply(true, strength, applyDeadline());
    finished = outputs.refusedEveryOutput() || !outputs.connected();
    return failure;
}

class Holder {
  public:
    Holder(std::unique_ptr<WaylandGammaOutputs> outputs, int listener)
        : outputs_(std::move(outputs)),
          listener_(listener),
          store_(StorePaths::filterStateFile(), "ColorFilter"),
          state_(store_, noScreen_) {}

    // The stored state on every output; why it failed, or "".
    std::string applyStored() {
        const bool enabled = state_.enabled();
        return applyState(*outputs_, enabled, enabled ? state_.strength() : 0.0, finished_);
    }
    bool finished() const { return finished_; }

    // Until the filter goes off or the outputs are gone.
    void serve(const Paths& where) {
        const int watch = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
        const std::string stateFile = StorePaths::filterStateFile();
        if (watch >= 0) {
            inotify_add_watch(watch, folderOf(stateFile).c_str(),
                              IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE);
        }
        while (!finished_) {
            pollfd fds[3] = {
                {outputs_->descriptor(), POLLIN, 0}, {listener_, POLLIN, 0}, {watch, POLLIN, 0}};
            if (poll(fds, watch >= 0 ? 3 : 2, -1) < 0) {
                continue;  // a signal
            }
            if (fds[0].revents != 0 && !outputs_->dispatch()) {
                break;  // the compositor went away, and with it the ramps
            }
            if (fds[2].revents != 0 && stateFileChanged(watch, nameIn(stateFile))) {
                applyStored();
            }
            if (fds[1].revents != 0) {
                answerClient(where);
            }
        }
    }

  private:
    bool stateFileChanged(int watch, const std::string& name) {
        alignas(inotify_event) char buffer[4096];
        bool changed = false;
        for (ssize_t n; (n = read(watch, buffer, sizeof buffer)) > 0;) {
            for (char* at = buffer; at < buffer + n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(at);
                changed = changed || (event->len > 0 && name == event->name);
                at += sizeof(inotify_event) + event->len;
            }
        }
        return changed;
    }

    // One request, "apply" (the stored state) or "preview <strength>" (that
    // strength, the filter on), answered with "ok" or the reason it failed.
    void answerClient(const Paths& where) {
        const int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            return;
        }
        pollfd readable{client, POLLIN, 0};
        char request[64] = {};
        const bool received = poll(&readable, 1, kRequestPatienceMs) == 1 &&
                              recv(client, request, sizeof request - 1, 0) > 0;
        const std::string line = request;
        const auto previewed = line.starts_with("preview ") && line.ends_with('\n')
                                   ? NumberText::parse(line.substr(8, line.size() - 9))
                                   : std::nullopt;
        if (received && (line == "apply\n" || previewed)) {
            const std::string failure =
                previewed ? applyState(*outputs_, true, clampStrength(*previewed), finished_)
                          : applyStored();
            if (finished_) {
                // Gone from the folder before the answer, so a client that
                // gets it and starts another holder finds no stale socket.
                unlink(where.socket.c_str());
            }
            sendLine(client, failure.empty() ? "ok" : failure);
        }
        close(client);
    }

    std::unique_ptr<WaylandGammaOutputs> outputs_;
    int listener_;
    KeyFileStore store_;
    NullDisplay noScreen_;
    ColorFilterState state_;
    bool finished_ = false;
};

int listenAt(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        return -1;
    }
    path.copy(address.sun_path, path.size());
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    unlink(path.c_str());  // left by a holder that was killed
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(fd, 16) != 0) {
        if (fd >= 0) {
            close(fd);
        }
        return -1;
    }
    return fd;
}

}  // namespace

std::variant<Paths, std::string> paths(const std::string& display) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr || runtime[0] != '/') {
        return std::string("XDG_RUNTIME_DIR is not set, so the Wayland outputs cannot be held");
    }
    struct stat folder {};
    if (stat(runtime, &folder) != 0 || !S_ISDIR(folder.st_mode) || folder.st_uid != getuid() ||
        (folder.st_mode & 077) != 0) {
        return std::string(runtime) + " is not a folder of this user's that only they can enter";
    }
    // The compositor named by its socket's path in this folder is the same session.
    std::string folderPrefix = runtime;
    while (folderPrefix.size() > 1 && folderPrefix.back() == '/') {
        folderPrefix.pop_back();
    }
    folderPrefix += '/';
    std::string name = display;
    if (name.rfind(folderPrefix, 0) == 0 &&
        name.find('/', folderPrefix.size()) == std::string::npos) {
        name.erase(0, folderPrefix.size());
    }
    const std::string stem = std::string(runtime) + "/vesperine-" + fileNamePart(name);
    return Paths{stem + ".lock", stem + ".socket"};
}

int takeSession(const Paths& files) {
    const int lock = open(files.lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lock >= 0 && flock(lock, LOCK_EX | LOCK_NB) == 0) {
        // The process id is for people looking: the lock works without it.
        const std::string pid = std::to_string(getpid()) + "\n";
        if (ftruncate(lock, 0) != 0 || pwrite(lock, pid.data(), pid.size(), 0) < 0) {
        }
        return lock;
    }
    if (lock >= 0) {
        close(lock);
    }
    return -1;
}

int listenForClients(const Paths& files) {
    return listenAt(files.socket);
}

int serve(const Paths& files, int listener, std::unique_ptr<WaylandGammaOutputs> outputs) {
    std::signal(SIGPIPE, SIG_IGN);
    if (chdir("/") != 0) {
        // Only so as not to keep the starting folder busy.
    }
    Holder holder(std::move(outputs), listener);
    holder.applyStored();  // a change stored meanwhile
    holder.serve(files);
    // Gone before the lock is let go, so that no client finds a stale socket
    // of a live holder.
    unlink(files.socket.c_str());
    close(listener);
    return 0;
}

int run(const std::string& display, bool enabled, double strength) {
    const auto where = paths(display);
    if (const auto* failure = std::get_if<std::string>(&where)) {
        report(*failure);
        return 1;
    }
    const Paths& files = std::get<Paths>(where);
    if (takeSession(files) < 0) {
        return 0;  // another holder has the session: the client asks it instead
    }
    const int listener = listenForClients(files);
    if (listener < 0) {
        report("cannot make the socket " + files.socket);
        return 1;
    }
    std::string failure;
    auto outputs = WaylandGammaOutputs::connect(display, applyDeadline(), failure);
    bool finished = true;
    if (outputs) {
        failure = applyState(*outputs, enabled, strength, finished);
    }
    if (finished) {
        unlink(files.socket.c_str());
    }
    report(failure.empty() ? "ok" : failure);
    return finished ? (outputs ? 0 : 1) : serve(files, listener, std::move(outputs));
}

}  // namespace vesperine::WaylandGammaHolder
