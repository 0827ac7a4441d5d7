#include "commands.h"

namespace kovra::cli {

void AddEcuSimCommand(CLI::App& app)
{
    auto* cmd = app.add_subcommand("ecu-sim", "not built yet");
    cmd->callback([] { ExitWith(2); });
}

}  // namespace kovra::cli
