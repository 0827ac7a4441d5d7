// The sums file "log.sv" in the program folder: the running totals of the
// accumulating formulas, carried from one run to the next. Section
// "Сохр_Формулы", one key per accumulating formula (its Name), the value as a
// real with the locale's decimal separator.
//
// Both calls answer with the error message to show (CP1251), or nullopt.
#pragma once

#include "config/model.h"
#include "config/run_state.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kovra {

class TReplaceStorage;

inline constexpr char kSumsFileName[] = "log.sv";

// Sets the value (in state) of every accumulating formula of data, in formula
// order, from its entry (a missing entry or file reads as 0). Stops at the
// first entry that is not a number with "'<text>' is not a valid floating
// point value"; that formula and the accumulating formulas after it keep the
// value they had. A state sized for another model is resized to data's first.
std::optional<std::string> RestoreSums(const std::filesystem::path& programFolder, const TAllData& data,
                                       TRunState& state);
std::optional<std::string> RestoreSumsFromBytes(std::string_view bytes, const TAllData& data, TRunState& state);

// Writes the value (in state) of every accumulating formula, in formula
// order, keeping every other entry and byte of the file. The file is replaced
// in one step, so a failure ("Unable to write to <full path>") leaves it as it
// was.
std::optional<std::string> SaveSums(const std::filesystem::path& programFolder, const TAllData& data,
                                    const TRunState& state);
// The same through storage (tests pass one that fails).
std::optional<std::string> SaveSums(const std::filesystem::path& programFolder, const TAllData& data,
                                    const TRunState& state, std::shared_ptr<TReplaceStorage> storage);

// The text a sum is written as: seven significant digits or two decimals,
// whichever keeps fewer, always two decimals ("1234.50", "1.234568E7").
std::string FormatSum(double value, char sep);

}  // namespace kovra
