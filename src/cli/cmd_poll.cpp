// kovra poll [--settings FOLDER] [--port NAME] [--cycles N] [--seconds S]
// [--stats [--stats-interval S]]: polls the areas of FOLDER/set.ini through
// the logger's serial worker and prints one line per completed cycle (time of
// day and the sample in hex); re-sends, port changes and notices about the
// adapter get lines of their own. With --stats the link's pace goes to
// standard error every few seconds and at the end, against what the line
// itself allows, so that a slow adapter or host shows as a number.
#include "commands.h"
#include "run/run.h"

#include "config/cp1251.h"
#include "config/settings.h"
#include "config/time_of_day.h"
#include "link/comm_thread.h"
#include "link/port_name.h"
#include "tool_settings.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

namespace kovra::cli {

namespace {

struct TPollOptions {
    std::string Folder = ".";
    std::string Port;
    long Cycles = 0;
    double Seconds = 0;
    bool Stats = false;
    double StatsInterval = 5;
};

void PrintLine(const TCycleSample& s)
{
    std::string line = s.Time.toString(QStringLiteral("HH:mm:ss.zzz")).toStdString();
    switch (s.Kind) {
    case TCycleSample::TKind::Cycle: {
        static const char hex[] = "0123456789ABCDEF";
        for (std::uint8_t b : s.Sample) {
            line += ' ';
            line += hex[b >> 4];
            line += hex[b & 15];
        }
        break;
    }
    case TCycleSample::TKind::Resend:
        line += s.Frame == TPollProtocol::TFrameKind::WakeUp ? " re-send: wake-up frame"
                                                              : " re-send: request";
        break;
    case TCycleSample::TKind::PortLost:
        line += " port lost: " + s.Text.toStdString();
        break;
    case TCycleSample::TKind::PortOpen:
        line += " port open: " + s.Text.toStdString();
        break;
    case TCycleSample::TKind::Notice:
        line += " notice: " + s.Text.toStdString();
        break;
    }
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

// What poll keeps of the entries it prints.
class TPrinter {
public:
    explicit TPrinter(long cycles) : limit_(cycles) {}
    long Cycles() const { return cycles_; }
    bool PortOpened() const { return portOpened_; }
    // Why the port last failed, as the worker said it.
    const std::string& PortFailure() const { return portFailure_; }

    // Cycles past the limit are not printed; a port that opened at the last
    // moment still counts as opened.
    void Take(const TCycleSample& s)
    {
        const bool cycle = s.Kind == TCycleSample::TKind::Cycle;
        if (cycle && limit_ != 0 && cycles_ >= limit_)
            return;
        if (s.Kind == TCycleSample::TKind::PortOpen)
            portOpened_ = true;
        else if (s.Kind == TCycleSample::TKind::PortLost)
            portFailure_ = s.Text.toStdString();
        PrintLine(s);
        if (cycle && ++cycles_ == limit_)
            QCoreApplication::quit();
    }

private:
    long limit_;
    long cycles_ = 0;
    bool portOpened_ = false;
    std::string portFailure_;
};

// The link's pace: the cycle rate since the last report against the wire
// limit, the host's turnaround and the counters of trouble.
class TStatsReporter {
public:
    TStatsReporter(const TCommThread& comm, const TCommSettings& settings) : comm_(comm), settings_(settings)
    {
        since_.start();
        run_.start();
    }

    // A completed cycle as the run handed it on, stamped by the worker.
    void Cycle(double timeOfDay)
    {
        ++cycles_;
        lastCycle_ = timeOfDay;
    }

    // The last interval's pace, or (wholeRun) the pace since polling began.
    void Report(bool wholeRun)
    {
        // An interval is measured from the last cycle before it, not from the
        // timer: a window that starts between two cycles can hold one cycle
        // more than its length allows, and the pace would read above the wire.
        double seconds = double(wholeRun ? run_.elapsed() : since_.elapsed()) / 1000.0;
        if (!wholeRun && intervalFrom_ >= 0) {
            double span = TimeOfDayNow() - intervalFrom_;
            if (span < 0)
                span += 1.0;  // midnight came between
            seconds = span * 86400.0;
        }
        const std::uint64_t counted = wholeRun ? cycles_ : cycles_ - cyclesBefore_;
        const double rate = seconds > 0 ? double(counted) / seconds : 0;
        since_.restart();
        cyclesBefore_ = cycles_;
        if (cycles_ > 0)
            intervalFrom_ = lastCycle_;
        const char* what = wholeRun ? "whole run" : "last interval";
        const std::uint32_t baud = LineSettingsFor(settings_.ObdMode).Baud;
        const double limit = CycleWireLimit(baud, settings_.Areas, settings_.PreambleLength);
        const double percent = PercentOfWireLimit(rate, baud, settings_.Areas, settings_.PreambleLength);
        const TValueSummary turn = comm_.Turnaround();
        std::string turnText = "no turnaround yet";
        if (turn.Count > 0) {
            char buf[96];
            std::snprintf(buf, sizeof buf, "turnaround median %.0f us, p90 %.0f us", turn.Median, turn.P90);
            turnText = buf;
        }
        std::fprintf(stderr,
                     "kovra poll: stats (%s, %.1f s): %.1f cycles/s, %.0f%% of the wire limit "
                     "(%.1f cycles/s at %u bit/s), %s, %llu re-sends, %llu reopens, %llu samples dropped\n",
                     what, seconds, rate, percent, limit, baud, turnText.c_str(),
                     static_cast<unsigned long long>(comm_.Resends()),
                     static_cast<unsigned long long>(comm_.Reopens()),
                     static_cast<unsigned long long>(comm_.DroppedSamples()));
        std::fflush(stderr);
    }

private:
    const TCommThread& comm_;
    const TCommSettings& settings_;
    QElapsedTimer since_;
    QElapsedTimer run_;
    std::uint64_t cycles_ = 0;
    std::uint64_t cyclesBefore_ = 0;
    double lastCycle_ = 0;
    double intervalFrom_ = -1;  // time of day of the cycle the interval runs from
};

int RunPoll(const TPollOptions& o)
{
    int argc = 1;
    char name[] = "kovra";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);

    std::optional<TSettings> settings = LoadToolSettings("kovra poll", o.Folder, "polling");
    if (!settings)
        return 2;
    TCommSettings comm = CommSettingsFrom(*settings);
    if (!o.Port.empty())
        comm.PortName = Utf8ToCp1251(o.Port);
    if (comm.Areas.empty()) {
        std::fprintf(stderr, "kovra poll: the settings have no area to poll\n");
        return 2;
    }
    std::fprintf(stderr, "kovra poll: %zu area(s), %zu sample bytes, %s at %u bit/s, preamble %s, reply timeout %d ms\n",
                 comm.Areas.size(), comm.SampleLength,
                 ResolvePortName(comm.PortName).toStdString().c_str(),
                 LineSettingsFor(comm.ObdMode).Baud, comm.PreambleLength ? "on" : "off",
                 comm.ReplyTimeout);

    TRun run(std::move(*settings));
    TPrinter printer(o.Cycles);
    std::optional<TStatsReporter> stats;
    run.OnEntry = [&printer, &stats](const TCycleSample& s, const TCycleOutcome&) {
        if (stats && s.Kind == TCycleSample::TKind::Cycle)
            stats->Cycle(s.TimeOfDay);
        printer.Take(s);
    };
    run.SetSource(std::make_unique<TLinkSource>(comm));
    TCommThread& worker = *run.Link();
    QTimer statsTimer;
    if (o.Stats) {
        stats.emplace(worker, comm);
        QObject::connect(&statsTimer, &QTimer::timeout, [&stats] { stats->Report(false); });
        statsTimer.start(std::max(1, static_cast<int>(o.StatsInterval * 1000)));
    }
    run.StartSource();
    worker.SendRequest();
    if (o.Seconds > 0)
        QTimer::singleShot(static_cast<int>(o.Seconds * 1000), &app, &QCoreApplication::quit);
    app.exec();
    statsTimer.stop();
    run.StopSource();
    run.Drain();
    if (stats)
        stats->Report(true);
    if (!printer.PortOpened()) {
        std::fprintf(stderr, "kovra poll: the port never opened: %s\n",
                     printer.PortFailure().empty() ? ResolvePortName(comm.PortName).toStdString().c_str()
                                                   : printer.PortFailure().c_str());
        return 1;
    }
    if (o.Cycles > 0 && printer.Cycles() < o.Cycles) {
        std::fprintf(stderr, "kovra poll: %ld of %ld cycles before the time ran out\n", printer.Cycles(),
                     o.Cycles);
        return 1;
    }
    return 0;
}

}  // namespace

void AddPollCommand(CLI::App& app)
{
    auto options = std::make_shared<TPollOptions>();
    auto* cmd = app.add_subcommand(
        "poll", "Poll the ECU's areas of FOLDER/set.ini and print each completed cycle in hex");
    cmd->add_option("--settings", options->Folder, "folder holding set.ini")->capture_default_str();
    cmd->add_option("--port", options->Port, "serial port to open instead of the one in set.ini");
    cmd->add_option("--cycles", options->Cycles, "stop after N completed cycles (0: never)")
        ->check(CLI::NonNegativeNumber);
    cmd->add_option("--seconds", options->Seconds, "stop after S seconds (0: never)")
        ->check(CLI::NonNegativeNumber);
    cmd->add_flag("--stats", options->Stats,
                  "print the cycle rate against the wire limit, the turnaround and the trouble counters "
                  "to standard error, every --stats-interval seconds and at the end");
    cmd->add_option("--stats-interval", options->StatsInterval, "seconds between --stats reports")
        ->capture_default_str()
        ->check(CLI::PositiveNumber);
    cmd->callback([options] {
        if (const int code = RunPoll(*options); code != 0)
            ExitWith(code);
    });
}

}  // namespace kovra::cli
