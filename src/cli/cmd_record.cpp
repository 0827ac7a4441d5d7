// kovra record [--settings FOLDER] [--port NAME] [--duration S]: polls the ECU
// headless with the logger's serial worker and records every completed cycle
// into FOLDER/logs, as the window does (cycle processing, log name and format,
// journal). Ctrl-C, a termination request or the end of the duration stops
// and saves; the saved log's path goes to standard output.
#include "commands.h"

#include "config/cp1251.h"
#include "config/settings.h"
#include "link/comm_thread.h"
#include "link/port_name.h"
#include "platform/stop_signal.h"
#include "run/cycle.h"
#include "run/run.h"
#include "record/journal.h"
#include "record/log_file.h"
#include "record/log_format.h"
#include "record/recorder.h"
#include "tool_settings.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace kovra::cli {

namespace {

struct TRecordOptions {
    std::string Folder = ".";
    std::string Port;
    double Duration = 0;
};

// What the run's entries tell the user: each completed cycle went through the
// cycle processing, which appended it to the recording.
class TEntryReport {
public:
    std::uint64_t Cycles() const { return cycles_; }
    std::uint64_t Failures() const { return failures_; }

    void Take(const TCycleSample& s, const TCycleOutcome& o)
    {
        switch (s.Kind) {
        case TCycleSample::TKind::Cycle: {
            ++cycles_;
            if (!o.Ok() && failures_++ == 0)
                std::fprintf(stderr, "kovra record: formula %zu: %s (reported once; the cycles are still recorded)\n",
                             o.FailedFormula, o.Message());
            break;
        }
        case TCycleSample::TKind::Resend:
            break;
        case TCycleSample::TKind::PortLost:
            std::fprintf(stderr, "kovra record: port lost: %s\n", s.Text.toStdString().c_str());
            break;
        case TCycleSample::TKind::PortOpen:
            std::fprintf(stderr, "kovra record: port open: %s\n", s.Text.toStdString().c_str());
            break;
        case TCycleSample::TKind::Notice:
            std::fprintf(stderr, "kovra record: notice: %s\n", s.Text.toStdString().c_str());
            break;
        }
    }

private:
    std::uint64_t cycles_ = 0;
    std::uint64_t failures_ = 0;
};

int RunRecord(const TRecordOptions& o)
{
    int argc = 1;
    char name[] = "kovra";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);

    const std::filesystem::path folder(o.Folder);
    std::optional<TSettings> loaded = LoadToolSettings("kovra record", o.Folder, "recording");
    if (!loaded)
        return 2;
    TSettings& settings = *loaded;
    const std::filesystem::path logs = LogsFolder(folder);
    std::error_code ec;
    if (!std::filesystem::is_directory(logs, ec)) {
        std::fprintf(stderr, "kovra record: %s is not a folder; logs are saved there and it is never created\n",
                     logs.string().c_str());
        return 2;
    }
    for (const TRecoveredJournal& r : RecoverJournals(folder))
        std::fprintf(stderr, "kovra record: %s\n", RecoveryText(r).c_str());

    TCommSettings comm = CommSettingsFrom(settings);
    if (!o.Port.empty())
        comm.PortName = Utf8ToCp1251(o.Port);
    if (comm.Areas.empty()) {
        std::fprintf(stderr, "kovra record: the settings have no area to poll\n");
        return 2;
    }

    TRun run(std::move(settings));
    TRecorder& recorder = run.AttachRecorder(folder);
    recorder.SetBackgroundSync(true);
    TEntryReport report;
    run.OnEntry = [&report](const TCycleSample& s, const TCycleOutcome& o) { report.Take(s, o); };
    run.SetSource(std::make_unique<TLinkSource>(comm));

    InstallStopRequestHandler();
    // Reported the moment it happens, once: the recording goes on in memory.
    recorder.SetJournalFailureHandler([](const TJournal& j) {
        std::fprintf(stderr, "kovra record: %s\n", JournalFailureText(j).c_str());
    });
    recorder.Start();
    std::fprintf(stderr, "kovra record: recording %zu sample bytes from %s; Ctrl-C stops and saves\n",
                 comm.SampleLength, ResolvePortName(comm.PortName).toStdString().c_str());
    run.StartSource();
    run.Link()->SendRequest();

    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        recorder.Tick();
        if (StopRequested())
            QCoreApplication::quit();
    });
    poll.start(100);
    if (o.Duration > 0)
        QTimer::singleShot(static_cast<int>(o.Duration * 1000), &app, &QCoreApplication::quit);
    app.exec();

    run.StopSource();
    run.Drain();  // cycles that completed before the stop
    TSaveResult saved = recorder.StopAndSave();
    std::fprintf(stderr, "kovra record: %llu cycles\n", static_cast<unsigned long long>(report.Cycles()));
    if (!saved.Ok()) {
        std::fprintf(stderr, "kovra record: saving %s failed: %s; trying once more under a new name\n",
                     saved.Path.string().c_str(), saved.Message.c_str());
        saved = recorder.StopAndSave(2);
    }
    if (!saved.Ok()) {
        std::fprintf(stderr, "kovra record: saving %s failed: %s\n", saved.Path.string().c_str(),
                     saved.Message.c_str());
        const TRecorder::TKept kept = recorder.KeepUnsaved();
        for (const auto& place : kept.Places)
            std::fprintf(stderr, "kovra record: %zu records kept in %s; the next start makes them a log\n",
                         place.Records, place.Journal.lexically_normal().string().c_str());
        if (kept.Lost)
            std::fprintf(stderr, "kovra record: %zu records could not be written anywhere: %s\n", kept.Lost,
                         IoErrorMessage(kept.Status).c_str());
        return 1;
    }
    std::printf("%s\n", saved.Path.string().c_str());
    return 0;
}

}  // namespace

void AddRecordCommand(CLI::App& app)
{
    auto options = std::make_shared<TRecordOptions>();
    auto* cmd = app.add_subcommand(
        "record", "Record the ECU's samples headless into FOLDER/logs until Ctrl-C or the duration ends");
    cmd->add_option("--settings", options->Folder, "folder holding set.ini and logs/")->capture_default_str();
    cmd->add_option("--port", options->Port, "serial port to open instead of the one in set.ini");
    cmd->add_option("--duration", options->Duration, "stop and save after S seconds (0: only on Ctrl-C)")
        ->check(CLI::NonNegativeNumber);
    cmd->callback([options] {
        if (const int code = RunRecord(*options); code != 0)
            ExitWith(code);
    });
}

}  // namespace kovra::cli
