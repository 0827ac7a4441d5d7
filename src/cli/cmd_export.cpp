// kovra export LOG.xlg [--settings FOLDER] [-o OUT.csv] [--from TIME] [--to TIME]:
// the values of the formulas of FOLDER/set.ini over the records of a log (all,
// or those between two times of day), as CSV. The log is streamed, a range
// found by reading it through first; OUT.csv is replaced only once the whole
// export has succeeded.
#include "commands.h"

#include "config/settings.h"
#include "platform/terminal.h"
#include "run/cycle.h"
#include "run/log_export.h"
#include "run/log_player.h"
#include "record/log_format.h"
#include "record/log_reader.h"
#include "tool_settings.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <system_error>

namespace kovra::cli {

namespace {

constexpr char kTool[] = "kovra export";

struct TExportArgs {
    std::string Log;
    std::string Settings = ".";
    std::string Out;
    std::optional<std::string> From;
    std::optional<std::string> To;
    std::string FromText, ToText;  // as given, before it is known whether they were
};

// A time given to --from or --to: "end" or a time of day. False (and the
// message said) when it is neither.
bool CheckTime(const char* option, const std::optional<std::string>& at)
{
    std::string why;
    if (!at || *at == "end" || ParseTimeOfDay(*at, &why))
        return true;
    std::fprintf(stderr, "%s: %s %s\n", kTool, option, why.c_str());
    return false;
}

// One line on a terminal, rewritten in place a few times a second.
class TProgressLine {
public:
    TProgressLine() : shown_(IsTerminal(TStdStream::Error)) {}

    void Update(std::uint64_t done, std::uint64_t total)
    {
        if (!shown_)
            return;
        const auto now = std::chrono::steady_clock::now();
        if (drawn_ && now - last_ < std::chrono::milliseconds(200))
            return;
        last_ = now;
        drawn_ = true;
        if (total > 0)
            std::fprintf(stderr, "\r%s: %3d%% of %llu MB", kTool, static_cast<int>(done * 100 / total),
                         static_cast<unsigned long long>(total >> 20));
        else
            std::fprintf(stderr, "\r%s: %llu MB", kTool, static_cast<unsigned long long>(done >> 20));
        std::fflush(stderr);
    }
    // Clears the line before the messages that follow it.
    void Finish()
    {
        if (drawn_)
            std::fprintf(stderr, "\r%*s\r", 40, "");
        drawn_ = false;
    }

private:
    bool shown_;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point last_;
};

int StdoutWrite(std::string_view text)
{
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size())
        return kFileDeviceError;
    return kFileOk;
}

bool OutputFolderExists(const std::string& out)
{
    std::filesystem::path parent = std::filesystem::path(out).parent_path();
    if (parent.empty())
        parent = ".";
    std::error_code ec;
    return std::filesystem::is_directory(parent, ec);
}

int RunExport(const TExportArgs& a)
{
    if (!CheckTime("--from", a.From) || !CheckTime("--to", a.To))
        return 2;
    TLogReader log;
    if (!log.Open(std::filesystem::path(a.Log))) {
        std::fprintf(stderr, "%s: cannot read %s: %s\n", kTool, a.Log.c_str(), log.Error().c_str());
        return 1;
    }
    std::optional<TSettings> settings = LoadToolSettings(kTool, a.Settings, "exporting");
    if (!settings)
        return 2;
    if (!a.Out.empty()) {
        if (std::filesystem::is_directory(std::filesystem::path(a.Out))) {
            std::fprintf(stderr, "%s: cannot write %s: it is a folder\n", kTool, a.Out.c_str());
            return 1;
        }
        if (!OutputFolderExists(a.Out)) {
            std::fprintf(stderr, "%s: cannot write %s: its folder does not exist\n", kTool, a.Out.c_str());
            return 1;
        }
    }

    // A log the settings do not fit is refused by the export itself.
    TRecordRange range;
    if ((a.From || a.To) && log.HasHeader() && log.SampleLength() == settings->Data.SampleLength) {
        const TFoundRange found = FindLogRange(std::filesystem::path(a.Log), a.From.value_or(""), a.To.value_or(""));
        if (!found.Range) {
            std::fprintf(stderr, "%s: %s: %s\n", kTool, a.Log.c_str(), found.Error.c_str());
            return found.BadTime ? 2 : 1;
        }
        range = *found.Range;
    }

    TProgressLine line;
    const TExportProgress progress = [&line](std::uint64_t done, std::uint64_t total) { line.Update(done, total); };
    TExportReport rep;
    if (a.Out.empty()) {
        rep = ExportLogCsv(log, *settings, StdoutWrite, progress, range);
        if (rep.Ok && std::fflush(stdout) != 0) {
            rep.Ok = false;
            rep.Failure = TExportFailure::Write;
        }
    } else {
        rep = ExportLogCsvFile(log, *settings, std::filesystem::path(a.Out), OsReplaceStorage(), progress, range);
    }
    line.Finish();

    if (!rep.Ok) {
        switch (rep.Failure) {
        case TExportFailure::Write:
            if (a.Out.empty())
                std::fprintf(stderr, "%s: writing the standard output failed\n", kTool);
            else
                std::fprintf(stderr, "%s: cannot write %s: %s; nothing was replaced\n", kTool, a.Out.c_str(),
                             rep.Error.c_str());
            break;
        case TExportFailure::Read:
            std::fprintf(stderr, "%s: cannot read %s: %s%s\n", kTool, a.Log.c_str(), rep.Error.c_str(),
                         a.Out.empty() ? "" : "; nothing was written");
            break;
        default:
            std::fprintf(stderr, "%s: %s: %s\n", kTool, a.Log.c_str(), rep.Error.c_str());
            break;
        }
        return 1;
    }
    if (rep.DroppedBytes)
        std::fprintf(stderr, "%s: the last record is cut short (%zu bytes); it is left out\n", kTool,
                     rep.DroppedBytes);
    if (rep.BadStamps)
        std::fprintf(stderr, "%s: %zu records have time bytes out of range\n", kTool, rep.BadStamps);
    if (rep.FailedRows)
        std::fprintf(stderr,
                     "%s: %zu rows stopped at a failing formula (its cell holds the error, "
                     "the cells after it are empty)\n",
                     kTool, rep.FailedRows);
    std::fprintf(stderr, "%s: %zu records\n", kTool, rep.Records);
    return 0;
}

}  // namespace

void AddExportCommand(CLI::App& app)
{
    auto args = std::make_shared<TExportArgs>();
    auto* cmd = app.add_subcommand("export", "write the formulas' values over the records of a log as CSV");
    cmd->footer("Values start from zero at the first record written, as if the log began there (an "
                "accumulating formula sums from it, an elapsed time is 0 on it). A time of day is "
                "HH:MM:SS or HH:MM:SS.mmm, or \"end\" for the last record; on a log that runs past "
                "midnight it is found on the first day of the log that has it.");
    cmd->add_option("LOG", args->Log, "the log file (.xlg)")->required();
    cmd->add_option("--settings", args->Settings, "the folder holding set.ini (default: the current folder)");
    cmd->add_option("-o,--output", args->Out, "the CSV file to write (default: standard output)");
    auto* from = cmd->add_option("--from", args->FromText,
                                 "start at the first record at or after this time (default: the first record)");
    auto* to = cmd->add_option("--to", args->ToText,
                               "end at the last record at or before this time (default: the last record)");
    cmd->callback([args, from, to] {
        if (from->count() > 0)
            args->From = args->FromText;
        if (to->count() > 0)
            args->To = args->ToText;
        if (const int rc = RunExport(*args); rc != 0)
            ExitWith(rc);
    });
}

}  // namespace kovra::cli
