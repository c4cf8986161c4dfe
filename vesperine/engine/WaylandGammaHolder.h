#pragma once

#include <memory>
#include <string>
#include <variant>

namespace vesperine {
class DisplayBackend;
class WaylandGammaOutputs;
}  // namespace vesperine

// The process that holds a Wayland session's outputs while the filter is on: a
// compositor gives an output its own ramps back when the client that set them
// disconnects, so the connection must outlive the command that asked.
namespace vesperine::WaylandGammaHolder {

// The hidden command that starts one:
// "--hold-wayland-outputs <display> <enabled 0|1> <strength>", the state its
// client has just stored, for its first apply.
inline constexpr const char* command = "--hold-wayland-outputs";

struct Paths {
    std::string lock;    // flock'd by the holder; holds its process id
    std::string socket;  // where it answers "apply"
};

// The files of the holder of `display` in $XDG_RUNTIME_DIR, which must be a
// folder of this user's that nobody else may enter; else why not.
std::variant<Paths, std::string> paths(const std::string& display);

// The session's lock, taken by the process that is to hold the outputs and
// kept open for its life; -1 when another process holds them.
int takeSession(const Paths& files);

// The socket of the session, listening; -1 when it cannot be made. Made
// before the outputs are set, so that a client never finds the session held
// and nobody to ask.
int listenForClients(const Paths& files);

// Holds `outputs`, which already show what the client asked for, until the
// filter goes off or they are gone: answers "apply" on `listener` and follows
// the filter-state file. The session's lock must be held. The exit status.
int serve(const Paths& files, int listener, std::unique_ptr<WaylandGammaOutputs> outputs);

// The holder's whole life: started by a client with a pipe on descriptor 3, on
// which it reports its first apply in one line ("ok" or why not). Later
// applies show what the filter-state file holds. Ends when the filter goes
// off, the compositor goes away, every output refused it, or another holder
// has the session. Returns the exit status.
int run(const std::string& display, bool enabled, double strength);

// The client of the holder of `display`, as makeWlrootsGammaDisplay() makes it
// without asking the compositor, with `program` (this executable) to start as
// the holder from a process of several threads.
std::unique_ptr<DisplayBackend> makeClient(const std::string& display, const std::string& program);

}  // namespace vesperine::WaylandGammaHolder
