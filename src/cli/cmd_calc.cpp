#include "commands.h"

namespace kovra::cli {

void AddCalcCommand(CLI::App& app)
{
    auto* cmd = app.add_subcommand("calc", "not built yet");
    cmd->callback([] { ExitWith(2); });
}

}  // namespace kovra::cli
