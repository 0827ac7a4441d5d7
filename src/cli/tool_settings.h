// The settings folder of the tools that poll, record or export: FOLDER/set.ini
// read with every problem told in one line of its own on standard error.
#pragma once

#include "config/model.h"

#include <optional>
#include <string>

namespace kovra::cli {

// tool: "kovra poll", ...; doing: what goes on without a set.ini
// ("polling"). A folder that does not exist or is not a folder, and a set.ini
// that is a folder or cannot be read, are refused (nullopt, after the
// message). A folder without set.ini gives the defaults, with a warning:
// that is how a new installation starts.
std::optional<TSettings> LoadToolSettings(const char* tool, const std::string& folder, const char* doing);

}  // namespace kovra::cli
