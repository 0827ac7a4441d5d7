#include "commands.h"

namespace kovra::cli {

void AddSettingsCommand(CLI::App& app)
{
    auto* cmd = app.add_subcommand("settings", "not built yet");
    cmd->callback([] { ExitWith(2); });
}

}  // namespace kovra::cli
