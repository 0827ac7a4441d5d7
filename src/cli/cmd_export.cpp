// kovra export LOG.xlg [--settings FOLDER] [-o OUT.csv]: the values of the
// formulas of FOLDER/set.ini over every record of a log, as CSV.
#include "commands.h"

#include "config/settings.h"
#include "record/cycle.h"
#include "record/log_export.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace kovra::cli {

namespace {

struct TExportArgs {
    std::string Log;
    std::string Settings = ".";
    std::string Out;
};

int RunExport(const TExportArgs& a)
{
    std::ifstream in(std::filesystem::path(a.Log), std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "kovra export: cannot read %s\n", a.Log.c_str());
        return 1;
    }
    const std::vector<std::uint8_t> log{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};

    TSettings settings = LoadSettings(std::filesystem::path(a.Settings));
    CompileFormulas(settings);

    std::ofstream file;
    if (!a.Out.empty()) {
        file.open(std::filesystem::path(a.Out), std::ios::binary | std::ios::trunc);
        if (!file) {
            std::fprintf(stderr, "kovra export: cannot write %s\n", a.Out.c_str());
            return 1;
        }
    }
    std::ostream& out = a.Out.empty() ? std::cout : file;
    const TExportReport rep = ExportLogCsv(log, settings, out);
    if (!rep.Ok) {
        std::fprintf(stderr, "kovra export: %s: %s\n", a.Log.c_str(), rep.Error.c_str());
        return 1;
    }
    out.flush();
    if (!out) {
        std::fprintf(stderr, "kovra export: writing %s failed\n", a.Out.empty() ? "the output" : a.Out.c_str());
        return 1;
    }
    if (rep.DroppedBytes)
        std::fprintf(stderr, "kovra export: the last record is cut short (%zu bytes); it is left out\n",
                     rep.DroppedBytes);
    if (rep.BadStamps)
        std::fprintf(stderr, "kovra export: %zu records have time bytes out of range\n", rep.BadStamps);
    if (rep.FailedRows)
        std::fprintf(stderr,
                     "kovra export: %zu rows stopped at a failing formula (its cell holds the error, "
                     "the cells after it are empty)\n",
                     rep.FailedRows);
    std::fprintf(stderr, "kovra export: %zu records\n", rep.Records);
    return 0;
}

}  // namespace

void AddExportCommand(CLI::App& app)
{
    auto args = std::make_shared<TExportArgs>();
    auto* cmd = app.add_subcommand("export", "write the formulas' values over every record of a log as CSV");
    cmd->add_option("LOG", args->Log, "the log file (.xlg)")->required();
    cmd->add_option("--settings", args->Settings, "the folder holding set.ini (default: the current folder)");
    cmd->add_option("-o,--output", args->Out, "the CSV file to write (default: standard output)");
    cmd->callback([args] {
        if (const int rc = RunExport(*args); rc != 0)
            ExitWith(rc);
    });
}

}  // namespace kovra::cli
