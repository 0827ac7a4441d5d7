// Replays a log through the cycle processing and writes the formulas' values
// as CSV: a header "time" and each formula's name (UTF-8), then one row per
// record: its time stamp as HH:MM:SS.mmm and each formula's value written
// with a point and as many digits as it takes to read back the same double.
//
// The records go one by one through a run of their own (TRun), so values
// start from zero (no sums file) and every formula, accumulating ones
// included, runs as it would live; the elapsed time of a kind-2 variable is
// measured between the records' own time stamps (0 for the first record).
// An export of part of a log (a record range) starts the same way at the
// first record of the range, as if the log began there.
// A row whose cycle fails at a formula holds the earlier formulas' values of
// that row, the failure's text in the failing formula's cell and nothing in
// the cells after it (those formulas were not evaluated for that row; the
// next row goes on from the values they kept; as live, a failed row does not
// move the previous cycle's time on, so the next kind-2 value spans both).
//
// The log is read record by record (TLogReader) and the text leaves in
// pieces of a fixed size, so a log of any length takes the same memory.
#pragma once

#include "config/model.h"
#include "platform/replace_file.h"
#include "record/log_reader.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <ostream>
#include <span>
#include <string>
#include <string_view>

namespace kovra {

enum class TExportFailure {
    None,
    Log,    // the log does not fit the settings (or has no first byte)
    Read,   // reading the log failed part way
    Write,  // the CSV could not be written
};

struct TExportReport {
    bool Ok = false;
    TExportFailure Failure = TExportFailure::None;
    std::string Error;             // why the export failed, when !Ok
    int WriteStatus = kFileOk;     // for a Write failure (platform/files.h numbering)
    std::size_t Records = 0;       // rows written
    std::size_t DroppedBytes = 0;  // a partial last record, left out
    std::size_t FailedRows = 0;    // rows whose cycle stopped at a formula
    std::size_t BadStamps = 0;     // records whose time bytes are out of range
};

// Takes the next piece of CSV text; answers kFileOk, or the failure's status,
// which ends the export.
using TCsvWriter = std::function<int(std::string_view text)>;
// Told now and then how many of the log's bytes are done (total 0: unknown).
using TExportProgress = std::function<void(std::uint64_t done, std::uint64_t total)>;

// settings: loaded (its formulas are compiled for the export). The log must have the settings' sample length; nothing is
// written when it has not.
// range: the records to write (by default all); the reader is taken to its
// first record.
TExportReport ExportLogCsv(TLogReader& log, const TSettings& settings, const TCsvWriter& write,
                           const TExportProgress& progress = {}, const TRecordRange& range = {});

// The same for a log held in memory, written to a stream.
TExportReport ExportLogCsv(std::span<const std::uint8_t> log, const TSettings& settings, std::ostream& out);

// Into the file csv, which is replaced only when the whole export succeeded:
// a failure of any kind leaves an existing file as it was.
TExportReport ExportLogCsvFile(TLogReader& log, const TSettings& settings, const std::filesystem::path& csv,
                               std::shared_ptr<TReplaceStorage> storage = OsReplaceStorage(),
                               const TExportProgress& progress = {}, const TRecordRange& range = {});

// "13:05:07.250"; a stamp out of range is written as it stands.
std::string FormatStampTime(std::int64_t msOfDay);

}  // namespace kovra
