#pragma once

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/Clock.h"
#include "engine/ColorFilterState.h"
#include "engine/Settings.h"

namespace vesperine::CLI {

// The two development commands that need the interface module.
class InterfaceCommands {
  public:
    virtual ~InterfaceCommands() = default;
    virtual int runSelfTest() = 0;
    virtual int renderPanel(const std::string& directory) = 0;
};

// What a headless command may touch. The stores are reached through
// functions so that a command that needs neither never opens them.
struct CommandContext {
    std::FILE* out = stdout;
    std::FILE* err = stderr;
    const Clock& clock;
    std::function<ColorFilterState&()> filterState;
    std::function<Settings&()> settings;
    InterfaceCommands& interface;
};

inline constexpr const char* defaultEvidenceDirectory = "docs/evidence/vesperine-ui";

// The dispatcher. `arguments` is the whole argument list, element 0 the
// program path. Returns the exit status of the command it ran, or nothing
// when the menu-bar application should start instead.
std::optional<int> run(const std::vector<std::string>& arguments, CommandContext& context);

// The help text, without its final newline.
extern const char* const helpText;

}  // namespace vesperine::CLI
