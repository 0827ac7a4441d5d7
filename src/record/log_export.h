// Replays a log through the cycle processing and writes the formulas' values
// as CSV: a header "time" and each formula's name (UTF-8), then one row per
// record: its time stamp as HH:MM:SS.mmm and each formula's value written
// with a point and as many digits as it takes to read back the same double.
//
// Values start from zero (no sums file) and every formula, accumulating ones
// included, runs as it would live; the elapsed time of a kind-2 variable is
// measured between the records' own time stamps (0 for the first record).
// A row whose cycle fails at a formula holds the earlier formulas' values of
// that row, the failure's text in the failing formula's cell and nothing in
// the cells after it (those formulas were not evaluated for that row; the
// next row goes on from the values they kept; as live, a failed row does not
// move the previous cycle's time on, so the next kind-2 value spans both).
#pragma once

#include "config/model.h"

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <span>
#include <string>

namespace kovra {

struct TExportReport {
    bool Ok = false;
    std::string Error;             // why nothing was exported, when !Ok
    std::size_t Records = 0;       // rows written
    std::size_t DroppedBytes = 0;  // a partial last record, left out
    std::size_t FailedRows = 0;    // rows whose cycle stopped at a formula
    std::size_t BadStamps = 0;     // records whose time bytes are out of range
};

// settings: loaded, with its formulas compiled (CompileFormulas); values are
// reset to 0 first. The log must have the settings' sample length.
TExportReport ExportLogCsv(std::span<const std::uint8_t> log, TSettings& settings, std::ostream& out);

// "13:05:07.250"; a stamp out of range is written as it stands.
std::string FormatStampTime(std::int64_t msOfDay);

}  // namespace kovra
