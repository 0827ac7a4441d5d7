#include "commands.h"

namespace kovra::cli {

void AddRecordCommand(CLI::App& app)
{
    auto* cmd = app.add_subcommand("record", "not built yet");
    cmd->callback([] { ExitWith(2); });
}

}  // namespace kovra::cli
