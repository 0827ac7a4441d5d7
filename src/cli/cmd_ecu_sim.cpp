// kovra ecu-sim: a simulated ECU on a pseudo-terminal. Prints the port a
// logger should open, then answers every request frame from a running engine
// in its memory until it is stopped (or --seconds pass).
#include "commands.h"

#include "sim/sim_ecu.h"
#include "platform/pty.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

namespace kovra::cli {

namespace {

struct TSimCommand {
    std::string Link;
    std::string Memory;
    std::uint32_t Baud = 0;
    int Delay = 0;
    bool NoPreamble = false;
    int Pieces = 1;
    int PieceGap = 3;
    double Garbage = 0;
    int Extra = 0;
    bool NeedWakeUp = false;
    int Session = 3000;
    std::string Silence;
    std::string Unplug;
    double Seconds = 0;
    std::uint32_t Seed = 1;
};

void Say(const std::string& line)
{
    std::fprintf(stdout, "%s\n", line.c_str());
    std::fflush(stdout);
}

// "PERIOD:LENGTH" in milliseconds, LENGTH shorter than PERIOD.
bool ParseSchedule(const std::string& text, int& period, int& length)
{
    if (text.empty())
        return true;
    const auto colon = text.find(':');
    if (colon == std::string::npos)
        return false;
    try {
        std::size_t used = 0;
        period = std::stoi(text.substr(0, colon), &used);
        if (used != colon)
            return false;
        const std::string rest = text.substr(colon + 1);
        length = std::stoi(rest, &used);
        if (used != rest.size())
            return false;
    } catch (const std::exception&) {
        return false;
    }
    return period > 0 && length > 0 && length < period;
}

int RunSim(const TSimCommand& c)
{
    if (!TPty::Supported()) {
        std::fprintf(stderr, "kovra ecu-sim: pseudo-terminals are not available on this platform\n");
        return 2;
    }
    TEcuSimOptions options;
    options.LinkPath = c.Link;
    options.Baud = c.Baud;
    options.Seed = c.Seed;
    if (!c.Memory.empty()) {
        std::string error;
        if (!LoadEcuMemoryLayout(c.Memory, options.Layout, error)) {
            std::fprintf(stderr, "kovra ecu-sim: %s\n", error.c_str());
            return 2;
        }
    }
    if (!ParseSchedule(c.Silence, options.SilencePeriodMs, options.SilenceLengthMs)) {
        std::fprintf(stderr, "kovra ecu-sim: --silence wants PERIOD:LENGTH in ms, LENGTH < PERIOD\n");
        return 2;
    }
    if (!ParseSchedule(c.Unplug, options.UnplugPeriodMs, options.UnplugLengthMs)) {
        std::fprintf(stderr, "kovra ecu-sim: --unplug wants PERIOD:LENGTH in ms, LENGTH < PERIOD\n");
        return 2;
    }
    TEcuFaults& f = options.Faults;
    f.Preamble = !c.NoPreamble;
    f.DelayMs = c.Delay;
    f.Pieces = c.Pieces;
    f.PieceGapMs = c.PieceGap;
    f.GarbageRate = c.Garbage;
    f.ExtraBytes = c.Extra;
    f.NeedWakeUp = c.NeedWakeUp;
    f.SessionMs = c.Session;

    TEcuSimulator sim(options);
    sim.SetEventSink(Say);
    std::string error;
    if (!sim.Start(&error)) {
        std::fprintf(stderr, "kovra ecu-sim: %s\n", error.c_str());
        return 2;
    }
    Say(sim.PortPath());
    if (!c.Link.empty())
        std::fprintf(stderr, "kovra ecu-sim: %s -> %s\n", c.Link.c_str(), sim.DevicePath().c_str());

    const auto end = std::chrono::steady_clock::now()
                     + std::chrono::milliseconds(static_cast<long long>(c.Seconds * 1000));
    while (c.Seconds <= 0 || std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    sim.Stop();
    return 0;
}

}  // namespace

void AddEcuSimCommand(CLI::App& app)
{
    auto c = std::make_shared<TSimCommand>();
    auto* cmd = app.add_subcommand(
        "ecu-sim", "Simulated ECU on a pseudo-terminal; prints the port a logger should open");
    cmd->add_option("--link", c->Link, "make a symbolic link to the port here (re-pointed after an unplug)");
    cmd->add_option("--memory", c->Memory, "memory layout file (default: the demo's ecu-memory.ini)");
    cmd->add_option("--baud", c->Baud, "pace the output at this line speed, 10 bits a byte (0: at once)")
        ->check(CLI::Range(0u, 4000000u));
    cmd->add_option("--delay", c->Delay, "answer delay in ms")->check(CLI::Range(0, 60000));
    cmd->add_flag("--no-preamble", c->NoPreamble, "replies without the 5-byte echo of the request");
    cmd->add_option("--pieces", c->Pieces, "write each reply in N pieces")->check(CLI::Range(1, 300));
    cmd->add_option("--piece-gap", c->PieceGap, "pause between pieces in ms")->check(CLI::Range(0, 10000));
    cmd->add_option("--garbage", c->Garbage, "share of replies replaced by random bytes, 0 to 1")
        ->check(CLI::Range(0.0, 1.0));
    cmd->add_option("--extra", c->Extra, "junk bytes sent after every reply")->check(CLI::Range(0, 1000));
    cmd->add_flag("--need-wakeup", c->NeedWakeUp, "answer requests only after a wake-up frame");
    cmd->add_option("--session", c->Session, "ms a wake-up session lasts without requests")
        ->check(CLI::Range(1, 600000));
    cmd->add_option("--silence", c->Silence, "PERIOD:LENGTH ms: stay silent for LENGTH every PERIOD");
    cmd->add_option("--unplug", c->Unplug, "PERIOD:LENGTH ms: drop the port for LENGTH every PERIOD");
    cmd->add_option("--seconds", c->Seconds, "stop after S seconds (0: run until killed)")
        ->check(CLI::NonNegativeNumber);
    cmd->add_option("--seed", c->Seed, "seed of the garbage and junk bytes");
    cmd->callback([c] {
        if (const int code = RunSim(*c); code != 0)
            ExitWith(code);
    });
}

}  // namespace kovra::cli
