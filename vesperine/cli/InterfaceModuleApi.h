#pragma once

// The boundary between the headless executable and the interface module
// (Qt tray application, self-test, panel rendering). The module is a shared
// object loaded at run time with its own copy of the core and its own C++
// runtime; only plain C values cross this boundary, and the two copies share
// state only through the stores' files, which every read parses afresh.

#define VESPERINE_INTERFACE_MODULE_FILE "libvesperine-interface.so"
#define VESPERINE_INTERFACE_ENTRY_SYMBOL "vesperine_interface_api"
#define VESPERINE_INTERFACE_ABI_VERSION 2

extern "C" {

struct VesperineInterfaceApi {
    int abiVersion;
    // The tray application; returns the process's exit status.
    int (*runApplication)(int argc, char** argv);
    // The panel-presentation self-test; 0 when every check passed, else 1.
    int (*runSelfTest)(int argc, char** argv);
    // Renders the panel pictures into `directory`; always 0.
    int (*renderPanel)(int argc, char** argv, const char* directory);
};

using VesperineInterfaceEntry = const VesperineInterfaceApi* (*)();
}
