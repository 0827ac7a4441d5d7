// The link's pace against the wire: the serial worker polling the simulated
// ECU over a pseudo-terminal, the ECU pacing its output at the line's byte
// time and answering at once. The baseline is the line itself: per area, the
// request and the reply (preamble, two leading bytes, payload, trailing byte)
// at 10 bits a byte, no gaps. Also the host's turnaround, from the last byte
// of a reply to the first byte of the next request.
#include "link/comm_thread.h"
#include "link/poll_protocol.h"
#include "sim/sim_ecu.h"
#include "platform/pty.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <thread>

namespace kovra {
namespace {

const std::vector<TArea> kAreas = {{0x00, 0, 16}, {0x10, 16, 16}, {0x20, 32, 16}};

double Percentile(std::vector<double> v, double q)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(q * double(v.size())))];
}

void PollAgainstSimulator(benchmark::State& state, std::uint32_t baud)
{
    if (!TPty::Supported()) {
        state.SkipWithError("no pseudo-terminals");
        return;
    }
    TEcuSimOptions options;
    options.Baud = baud;
    TEcuSimulator sim(options);
    std::string error;
    if (!sim.Start(&error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    TCommSettings settings;
    settings.PortName = sim.DevicePath();
    settings.Areas = kAreas;
    settings.SampleLength = 48;
    settings.PreambleLength = kPreambleOn;
    TCommThread comm;
    comm.Configure(settings);
    comm.Start();
    comm.SendRequest();

    const auto drain = [&] {
        TCycleSample s;
        while (comm.TakeSample(s)) {
        }
    };
    // Warm up until polling runs, then measure whole seconds.
    const auto warmUpEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
    while (std::chrono::steady_clock::now() < warmUpEnd) {
        drain();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    sim.ClearFrames();
    // The rate is taken from the cycles' own arrival times, first to last.
    std::vector<qint64> arrivals;
    for (auto _ : state) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(baud ? 8 : 2);
        while (std::chrono::steady_clock::now() < end) {
            TCycleSample s;
            while (comm.TakeSample(s))
                if (s.Kind == TCycleSample::TKind::Cycle)
                    arrivals.push_back(s.Time.toMSecsSinceEpoch());
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    comm.Stop();
    const std::vector<double> turn = sim.Turnarounds();
    sim.Stop();

    const double span = arrivals.size() > 1 ? (arrivals.back() - arrivals.front()) / 1000.0 : 0;
    const double rate = span > 0 ? (arrivals.size() - 1) / span : 0;
    state.counters["cycles_per_s"] = rate;
    if (baud) {
        const double limit = CycleWireLimit(baud, kAreas, kPreambleOn);
        state.counters["wire_limit_per_s"] = limit;
        state.counters["of_wire_limit_pct"] = 100 * rate / limit;
    }
    state.counters["turnaround_median_us"] = Percentile(turn, 0.5);
    state.counters["turnaround_p90_us"] = Percentile(turn, 0.9);
    state.counters["turnaround_max_us"] = Percentile(turn, 1.0);
    state.counters["resends"] = double(comm.Resends());
}

void BM_CycleRateAt9600(benchmark::State& state) { PollAgainstSimulator(state, 9600); }
void BM_CycleRateUnpaced(benchmark::State& state) { PollAgainstSimulator(state, 0); }

// The protocol's own cost per area (frame, payload copy, stepping): what the
// worker spends besides moving bytes.
void BM_ProtocolPerArea(benchmark::State& state)
{
    TPollConfig config;
    config.Areas = kAreas;
    config.SampleLength = 48;
    TPollProtocol p(config);
    std::vector<std::uint8_t> reply(kPreambleOn + 16 + 3, 0x5A);
    for (auto _ : state) {
        benchmark::DoNotOptimize(p.BeginSend(TPollProtocol::TFrameKind::Request).data());
        benchmark::DoNotOptimize(p.OnBytes(reply));
    }
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_ProtocolPerArea);
BENCHMARK(BM_CycleRateAt9600)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_CycleRateUnpaced)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

}  // namespace
}  // namespace kovra

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);  // the worker's port needs an application object
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
