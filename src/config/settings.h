// Reading set.ini into the configured model. Reading never fails: a missing
// file, key or unreadable value takes its default. Values that would take the
// model outside its limits (see model.h) are made inert, and each is listed in
// TSettings::Problems together with every unreadable value, for the check
// command; the window ignores that list.
#pragma once

#include "config/model.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace kovra {

inline constexpr char kSettingsFileName[] = "set.ini";

// Reads programFolder / "set.ini".
TSettings LoadSettings(const std::filesystem::path& programFolder);

// The same from the bytes of a settings file (FileFound is true).
TSettings LoadSettingsFromBytes(std::string_view bytes);

// What makes these bytes unlike any settings file a user meant to write:
// binary bytes, or none of the sections the settings are read from. Empty for
// a plausible settings file (an empty file included: it means all defaults).
std::string ForeignFileReason(std::string_view bytes);

// What the formula compiler is given for formula p: the variables' names in
// order, empty ones included.
std::vector<std::string> VariableNames(const TProc& p);

}  // namespace kovra
