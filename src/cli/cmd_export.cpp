#include "commands.h"

namespace kovra::cli {

void AddExportCommand(CLI::App& app)
{
    auto* cmd = app.add_subcommand("export", "not built yet");
    cmd->callback([] { ExitWith(2); });
}

}  // namespace kovra::cli
