// kovra poll [--settings FOLDER] [--port NAME] [--cycles N] [--seconds S]:
// polls the areas of FOLDER/set.ini through the logger's serial worker and
// prints one line per completed cycle (time of day and the sample in hex);
// re-sends and port changes get lines of their own.
#include "commands.h"

#include "config/cp1251.h"
#include "config/settings.h"
#include "link/comm_thread.h"
#include "link/port_name.h"
#include "tool_settings.h"

#include <QCoreApplication>
#include <QTimer>

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
    }
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

// Takes the worker's entries on the main thread, as the window does.
class TPrinter : public QObject {
public:
    TPrinter(TCommThread& comm, long cycles) : comm_(comm), limit_(cycles) {}
    long Cycles() const { return cycles_; }
    bool PortOpened() const { return portOpened_; }
    // Why the port last failed, as the worker said it.
    const std::string& PortFailure() const { return portFailure_; }

    // The entries left when the run ends: a port that opened at the last
    // moment still counts as opened.
    void TakeRest()
    {
        TCycleSample s;
        while (comm_.TakeSample(s)) {
            const bool cycle = s.Kind == TCycleSample::TKind::Cycle;
            if (cycle && limit_ != 0 && cycles_ >= limit_)
                continue;
            Note(s);
            cycles_ += cycle;
        }
    }

protected:
    bool event(QEvent* e) override
    {
        if (!IsCycleDone(e))
            return QObject::event(e);
        TCycleSample s;
        while ((limit_ == 0 || cycles_ < limit_) && comm_.TakeSample(s)) {
            Note(s);
            if (s.Kind == TCycleSample::TKind::Cycle && ++cycles_ == limit_)
                QCoreApplication::quit();
        }
        return true;
    }

private:
    void Note(const TCycleSample& s)
    {
        if (s.Kind == TCycleSample::TKind::PortOpen)
            portOpened_ = true;
        else if (s.Kind == TCycleSample::TKind::PortLost)
            portFailure_ = s.Text.toStdString();
        PrintLine(s);
    }

    TCommThread& comm_;
    long limit_;
    long cycles_ = 0;
    bool portOpened_ = false;
    std::string portFailure_;
};

int RunPoll(const TPollOptions& o)
{
    int argc = 1;
    char name[] = "kovra";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);

    const std::optional<TSettings> settings = LoadToolSettings("kovra poll", o.Folder, "polling");
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

    TCommThread worker;
    TPrinter printer(worker, o.Cycles);
    worker.Configure(comm);
    worker.SetConsumer(&printer);
    worker.Start();
    worker.SendRequest();
    if (o.Seconds > 0)
        QTimer::singleShot(static_cast<int>(o.Seconds * 1000), &app, &QCoreApplication::quit);
    app.exec();
    worker.Stop();
    printer.TakeRest();
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
    cmd->callback([options] {
        if (const int code = RunPoll(*options); code != 0)
            ExitWith(code);
    });
}

}  // namespace kovra::cli
