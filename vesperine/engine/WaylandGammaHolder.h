#pragma once

#include <string>
#include <variant>

// The process that holds a Wayland session's outputs while the filter is on: a
// compositor gives an output its own ramps back when the client that set them
// disconnects, so the connection must outlive the command that asked.
namespace vesperine::WaylandGammaHolder {

// The hidden command that starts one: "--hold-wayland-outputs <display>".
inline constexpr const char* command = "--hold-wayland-outputs";

struct Paths {
    std::string lock;    // flock'd by the holder; holds its process id
    std::string socket;  // where it answers "apply"
};

// The files of the holder of `display` in $XDG_RUNTIME_DIR, which must be a
// folder of this user's that nobody else may enter; else why not.
std::variant<Paths, std::string> paths(const std::string& display);

// The holder's whole life: started by a client with a pipe on descriptor 3, on
// which it reports its first apply in one line ("ok" or why not). Ends when
// the filter goes off, the compositor goes away, every output refused it, or
// another holder has the session. Returns the exit status.
int run(const std::string& display);

}  // namespace vesperine::WaylandGammaHolder
