// Sub-commands of the kovra tool; each lives in its own cmd_*.cpp.
// A command's callback ends with ExitWith(code) for a non-zero exit status.
#pragma once

#include <CLI/CLI.hpp>

namespace kovra::cli {

void AddSettingsCommand(CLI::App& app);
void AddCalcCommand(CLI::App& app);
void AddPollCommand(CLI::App& app);
void AddEcuSimCommand(CLI::App& app);
void AddRecordCommand(CLI::App& app);
void AddExportCommand(CLI::App& app);
void AddPortsCommand(CLI::App& app);

[[noreturn]] inline void ExitWith(int code) { throw CLI::RuntimeError(code); }

}  // namespace kovra::cli
