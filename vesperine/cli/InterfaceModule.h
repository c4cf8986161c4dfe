#pragma once

#include <string>

#include "cli/CommandLine.h"
#include "cli/InterfaceModuleApi.h"

namespace vesperine {

// Finds and loads the interface module beside the executable (build tree) or
// in ../lib/vesperine (installed, also when the prefix has been moved).
// When it cannot, each entry writes one line to standard error and returns 1.
class InterfaceModule final : public CLI::InterfaceCommands {
  public:
    InterfaceModule(int argc, char** argv) : argc_(argc), argv_(argv) {}

    int runApplication();
    int runSelfTest() override;
    int renderPanel(const std::string& directory) override;

  private:
    const VesperineInterfaceApi* load();

    int argc_;
    char** argv_;
    const VesperineInterfaceApi* api_ = nullptr;
};

}  // namespace vesperine
