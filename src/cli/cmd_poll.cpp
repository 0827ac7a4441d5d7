#include "commands.h"

namespace kovra::cli {

void AddPollCommand(CLI::App& app)
{
    auto* cmd = app.add_subcommand("poll", "not built yet");
    cmd->callback([] { ExitWith(2); });
}

}  // namespace kovra::cli
