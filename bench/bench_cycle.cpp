// One sample cycle (decode, evaluate, accumulate, charts, alarms) against its
// baseline in the same run: the bare evaluations of the same formulas. The
// difference is what the cycle adds around the compiled code.
#include "config/cp1251.h"
#include "config/settings.h"
#include "run/cycle.h"
#include "record/recorder.h"

#include <benchmark/benchmark.h>

#include <QDir>

#include <string>
#include <vector>

namespace {

using namespace kovra;

struct TNullDisplays : TCycleDisplays {
    double Sum = 0;
    void AddToChart(std::size_t, double v) override { Sum += v; }
    void DrawPrib() override {}
    void DrawMoment() override {}
    void PlayAlarm() override {}
};

// 16 formulas over an 11-byte sample: bytes, bits, a formula's value, elapsed time.
TSettings MakeSettings()
{
    std::string ini = "[настройки]\nкол-во_формул=16\nкол-во_логов=6\nкол-во_приборов=16\n"
                      "[области]\nразмер_0=11\n";
    const char* texts[] = {"hi*256+lo", "(hi*256+lo)/250", "a-40", "a*100/255", "a/10", "a*2"};
    for (int i = 0; i < 16; ++i) {
        ini += "[формула_" + std::to_string(i) + "]\n";
        if (i % 4 == 3) {
            ini += "формула=b\nпеременная_0=b\nотступ_пер_0=9\nбит_0=1\nномер_бита_0=" + std::to_string(i % 8 + 1) + "\n";
        } else if (i % 5 == 4) {
            ini += "формула=p*dt\nкол-во_перем=2\nпеременная_0=p\nвид_0=1\nномер_формулы_0=0\n"
                   "переменная_1=dt\nвид_1=2\nсуммировать=1\n";
        } else {
            ini += std::string("формула=") + texts[i % 6] + "\nкол-во_перем=2\nпеременная_0=" +
                   (i % 6 < 2 ? "hi" : "a") + "\nотступ_пер_0=" + std::to_string(i % 8) +
                   "\nпеременная_1=lo\nотступ_пер_1=" + std::to_string(i % 8 + 1) + "\n";
        }
    }
    for (int g = 0; g < 16; ++g)
        ini += "[Прибор_" + std::to_string(g) + "]\nФормула=" + std::to_string(g) + "\nТревога=1\n";
    TSettings s = LoadSettingsFromBytes(Utf8ToCp1251(ini));
    return s;
}

const std::vector<std::uint8_t> kSample{0x03, 0x52, 0x7A, 0x45, 0x04, 0x00, 0x02, 0x71, 0x8C, 0x09, 0x0A};

void BM_EvaluateOnly(benchmark::State& state)
{
    TSettings s = MakeSettings();
    TCompiledFormulas compiled(s);
    for (auto _ : state) {
        for (std::size_t i = 0; i < s.Data.Procs.size(); ++i) {
            compiled[i].SetSlot(0, kSample[i % 11]);
            benchmark::DoNotOptimize(Evaluate(compiled[i]));
        }
    }
}
BENCHMARK(BM_EvaluateOnly);

void BM_LogPrint(benchmark::State& state)
{
    TSettings s = MakeSettings();
    TNullDisplays screen;
    TCycle cycle(s, ChartFormulas(s), &screen);
    double now = 0.5;
    cycle.SetClock([&] { return now += 1e-7; });
    for (auto _ : state)
        benchmark::DoNotOptimize(cycle.LogPrint(kSample, TShownPage::Gauges));
}
BENCHMARK(BM_LogPrint);

void BM_LogPrintRecording(benchmark::State& state)
{
    TSettings s = MakeSettings();
    TNullDisplays screen;
    TRecorder recorder(QDir::tempPath().toStdString() + "/kovra-bench-cycle-none", s.Data.SampleLength);
    TCycle cycle(s, ChartFormulas(s), &screen, &recorder);
    double now = 0.5;
    cycle.SetClock([&] { return now += 1e-7; });
    recorder.Start();  // no logs folder there: memory only, as without a journal
    for (auto _ : state)
        benchmark::DoNotOptimize(cycle.LogPrint(kSample, TShownPage::Gauges));
}
BENCHMARK(BM_LogPrintRecording);

// The default clock alone: a local-time reading, once per cycle.
void BM_ClockReading(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(CurrentTimeOfDay());
}
BENCHMARK(BM_ClockReading);

}  // namespace

BENCHMARK_MAIN();
