// A Wayland compositor for the tests and benchmarks: outputs with a wlroots
// gamma control manager and nothing else. Usage:
//   vesperine-test-compositor <socket name in $XDG_RUNTIME_DIR> <gamma size>...
// one output per size (0: an output without gamma); "no-manager" instead of
// the sizes: one output and no gamma control manager. It prints "ready" once
// clients can connect, then answers commands on standard input, one line each:
//   add <size>   another output          -> "ok"
//   busy <i>     output i is held by another program from now on -> "ok"
//   state        per output "<size> <held: 0|1> <ramps received> <ramp...>",
//                the ramp none (identity) or its 3 x size entries; then "end"
//   count        -> the number of ramps received in all so far
//   wait <n>     -> "ok" once that number is <n>
//   quit         the compositor goes away
// A control's ramps are undone when it is destroyed or its client leaves.
#include <unistd.h>
#include <wayland-server.h>

#include <sys/mman.h>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <list>
#include <string>
#include <vector>

#include "wlr-gamma-control-unstable-v1-server-protocol.h"

namespace {

struct Output {
    std::uint32_t gammaSize = 0;
    bool busy = false;
    wl_resource* control = nullptr;
    int rampsReceived = 0;
    std::vector<std::uint16_t> ramp;  // empty: the output's own (identity) ramps
};

wl_display* display = nullptr;
std::list<Output> outputs;
long rampsReceived = 0;
long rampsAwaited = -1;  // a "wait" not answered yet

void reply(const std::string& line) {
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

void controlDestroyed(wl_resource* control) {
    auto* output = static_cast<Output*>(wl_resource_get_user_data(control));
    if (output != nullptr && output->control == control) {
        output->control = nullptr;
        output->ramp.clear();  // restored
    }
}

void setGamma(wl_client*, wl_resource* control, int32_t fd) {
    auto* output = static_cast<Output*>(wl_resource_get_user_data(control));
    const std::size_t entries = output ? 3 * output->gammaSize : 0;
    std::vector<std::uint16_t> ramp(entries);
    const ssize_t wanted = static_cast<ssize_t>(entries * sizeof(std::uint16_t));
    const bool whole = output != nullptr && pread(fd, ramp.data(), wanted, 0) == wanted;
    close(fd);
    if (!whole) {
        wl_resource_post_error(control, ZWLR_GAMMA_CONTROL_V1_ERROR_INVALID_GAMMA, "bad table");
        return;
    }
    output->ramp = std::move(ramp);
    ++output->rampsReceived;
    if (++rampsReceived == rampsAwaited) {
        rampsAwaited = -1;
        reply("ok");
    }
}

void destroyResource(wl_client*, wl_resource* resource) {
    wl_resource_destroy(resource);
}

const struct zwlr_gamma_control_v1_interface controlImplementation = {setGamma, destroyResource};

void getGammaControl(wl_client* client, wl_resource* manager, uint32_t id,
                     wl_resource* outputResource) {
    wl_resource* control = wl_resource_create(client, &zwlr_gamma_control_v1_interface,
                                              wl_resource_get_version(manager), id);
    auto* output = static_cast<Output*>(wl_resource_get_user_data(outputResource));
    if (output == nullptr || output->gammaSize == 0 || output->busy || output->control != nullptr) {
        wl_resource_set_implementation(control, &controlImplementation, nullptr, nullptr);
        zwlr_gamma_control_v1_send_failed(control);
        return;
    }
    wl_resource_set_implementation(control, &controlImplementation, output, controlDestroyed);
    output->control = control;
    zwlr_gamma_control_v1_send_gamma_size(control, output->gammaSize);
}

const struct zwlr_gamma_control_manager_v1_interface managerImplementation = {getGammaControl,
                                                                              destroyResource};

void bindManager(wl_client* client, void*, uint32_t version, uint32_t id) {
    wl_resource* manager =
        wl_resource_create(client, &zwlr_gamma_control_manager_v1_interface, version, id);
    wl_resource_set_implementation(manager, &managerImplementation, nullptr, nullptr);
}

const struct wl_output_interface outputImplementation = {destroyResource};

void bindOutput(wl_client* client, void* data, uint32_t version, uint32_t id) {
    wl_resource* resource = wl_resource_create(client, &wl_output_interface, version, id);
    wl_resource_set_implementation(resource, &outputImplementation, data, nullptr);
    wl_output_send_geometry(resource, 0, 0, 300, 200, WL_OUTPUT_SUBPIXEL_UNKNOWN, "test", "test",
                            WL_OUTPUT_TRANSFORM_NORMAL);
    wl_output_send_mode(resource, WL_OUTPUT_MODE_CURRENT, 1280, 800, 60000);
    if (version >= 2) {
        wl_output_send_done(resource);
    }
}

void addOutput(std::uint32_t gammaSize) {
    Output& output = outputs.emplace_back();
    output.gammaSize = gammaSize;
    wl_global_create(display, &wl_output_interface, 3, &output, bindOutput);
}

int command(int fd, uint32_t, void*) {
    static std::string pending;
    char buffer[256];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) {
        wl_display_terminate(display);
        return 0;
    }
    pending.append(buffer, static_cast<std::size_t>(n));
    for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
        const std::string line = pending.substr(0, end);
        pending.erase(0, end + 1);
        unsigned value = 0;
        if (std::sscanf(line.c_str(), "add %u", &value) == 1) {
            addOutput(value);
            reply("ok");
        } else if (std::sscanf(line.c_str(), "busy %u", &value) == 1 && value < outputs.size()) {
            std::next(outputs.begin(), value)->busy = true;
            reply("ok");
        } else if (std::sscanf(line.c_str(), "wait %u", &value) == 1) {
            if (rampsReceived >= value) {
                reply("ok");
            } else {
                rampsAwaited = value;
            }
        } else if (line == "count") {
            reply(std::to_string(rampsReceived));
        } else if (line == "state") {
            for (const Output& output : outputs) {
                std::string text = std::to_string(output.gammaSize) +
                                   (output.control ? " 1 " : " 0 ") +
                                   std::to_string(output.rampsReceived);
                for (const std::uint16_t entry : output.ramp) {
                    text += " " + std::to_string(entry);
                }
                reply(text);
            }
            reply("end");
        } else if (line == "quit") {
            wl_display_terminate(display);
        } else {
            reply("unknown command");
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("usage: vesperine-test-compositor <socket> <gamma size>...\n", stderr);
        return 2;
    }
    display = wl_display_create();
    if (wl_display_add_socket(display, argv[1]) != 0) {
        std::perror("wl_display_add_socket");
        return 1;
    }
    const bool manager = argc < 3 || std::strcmp(argv[2], "no-manager") != 0;
    for (int i = 2; i < argc; ++i) {
        addOutput(manager ? static_cast<std::uint32_t>(std::stoul(argv[i])) : 256);
    }
    if (manager) {
        wl_global_create(display, &zwlr_gamma_control_manager_v1_interface, 1, nullptr,
                         bindManager);
    }
    wl_event_loop_add_fd(wl_display_get_event_loop(display), STDIN_FILENO, WL_EVENT_READABLE,
                         command, nullptr);
    reply("ready");
    wl_display_run(display);
    wl_display_destroy_clients(display);
    wl_display_destroy(display);
    return 0;
}
