#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/CommandLine.h"
#include "cli/InterfaceModule.h"
#include "engine/Clock.h"

int main(int argc, char** argv) {
    using namespace vesperine;

    const std::vector<std::string> arguments(argv, argv + argc);
    SystemClock clock;
    InterfaceModule interface(argc, argv);
    CLI::CommandContext context{stdout,
                                stderr,
                                clock,
                                []() -> ColorFilterState& { return ColorFilterState::shared(); },
                                []() -> Settings& { return Settings::shared(); },
                                interface};

    if (const auto status = CLI::run(arguments, context)) {
        std::exit(*status);
    }
    std::exit(interface.runApplication());
}
