// Reading a large set.ini (255 formulas of 8 variables, 64 gauges, 16 strip
// charts) against the baseline of only reading its bytes.
#include "config/cp1251.h"
#include "config/format.h"
#include "config/ini.h"
#include "config/settings.h"
#include "config/settings_keys.h"

#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <string>

namespace {

using namespace kovra;

std::string LargeSettings()
{
    const auto& k = SettingsKeys();
    std::string s = "[" + k.General + "]\r\n" + k.AreaCount + "=16\r\n" + k.FormulaCount + "=255\r\n" +
                    k.LoggerCount + "=16\r\n" + k.GaugeCount + "=64\r\n";
    s += "[" + k.Areas + "]\r\n";
    for (int i = 0; i < 16; ++i)
        s += NumberedName(k.AreaAddress, i) + "=" + std::to_string(i * 16) + "\r\n" + NumberedName(k.AreaLength, i) +
             "=15\r\n";
    for (int n = 0; n < 255; ++n) {
        s += "[" + NumberedName(k.FormulaSection, n) + "]\r\n";
        s += k.FormulaName + "=" + NumberedName(k.DefaultFormulaName, n) + "x\r\n" + k.VarCount + "=8\r\n";
        std::string text;
        for (int j = 0; j < 8; ++j) {
            const std::string name = "v" + std::to_string(j);
            s += NumberedName(k.VarName, j) + "=" + name + "\r\n" + NumberedName(k.VarKind, j) + "=" +
                 std::to_string(j == 7 ? 1 : 0) + "\r\n" + NumberedName(k.VarArea, j) + "=" +
                 std::to_string((n + j) % 16) + "\r\n" + NumberedName(k.VarOffset, j) + "=" + std::to_string(j) +
                 "\r\n" + NumberedName(k.VarIsBit, j) + "=" + std::to_string(j % 2) + "\r\n" +
                 NumberedName(k.VarBitNumber, j) + "=" + std::to_string(j + 1) + "\r\n" +
                 NumberedName(k.VarFormula, j) + "=" + std::to_string(n / 2) + "\r\n";
            text += (j ? "+" : "") + name;
        }
        s += k.FormulaText + "=(" + text + ")*0" + DecimalSeparator() + "5\r\n";
    }
    for (int i = 0; i < 16; ++i)
        s += "[" + NumberedName(k.LoggerSection, i) + "]\r\n" + k.LoggerFormula + "=" + std::to_string(i) + "\r\n" +
             k.LoggerMax + "=8000\r\n";
    for (int g = 0; g < 64; ++g)
        s += "[" + NumberedName(k.GaugeSection, g) + "]\r\n" + k.GaugeName + "=G" + std::to_string(g) + "\r\n" +
             k.GaugeKind + "=" + std::to_string(g % 5) + "\r\n" + k.GaugeFormula + "=" + std::to_string(g) +
             "\r\n" + k.GaugeX + "=" + std::to_string(g * 6) + "\r\n" + k.GaugeMax + "=1000\r\n" +
             k.GaugeAlarmLevel + "=900" + DecimalSeparator() + "5\r\n";
    return s;
}

struct Fixture {
    QTemporaryDir dir;
    std::filesystem::path folder;
    Fixture()
    {
        folder = dir.path().toStdString();
        QFile f(dir.path() + "/set.ini");
        const std::string bytes = LargeSettings();
        if (f.open(QIODevice::WriteOnly))
            f.write(bytes.data(), static_cast<qint64>(bytes.size()));
    }
};

Fixture& Files()
{
    static Fixture f;
    return f;
}

void BM_ReadBytesOnly(benchmark::State& state)
{
    const auto path = Files().folder / "set.ini";
    std::size_t size = 0;
    for (auto _ : state) {
        const TFileBytes b = ReadFileBytes(path);
        size = b.Bytes.size();
        benchmark::DoNotOptimize(size);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}
BENCHMARK(BM_ReadBytesOnly);

void BM_LoadSettings(benchmark::State& state)
{
    std::size_t problems = 0;
    for (auto _ : state) {
        const TSettings s = LoadSettings(Files().folder);
        problems = s.Problems.size();
        benchmark::DoNotOptimize(s.Data.Procs.data());
    }
    state.counters["problems"] = static_cast<double>(problems);
}
BENCHMARK(BM_LoadSettings);

void BM_ParseIniOnly(benchmark::State& state)
{
    const std::string bytes = LargeSettings();
    for (auto _ : state) {
        TIniFile ini(bytes);
        benchmark::DoNotOptimize(ini.Bytes().data());
    }
}
BENCHMARK(BM_ParseIniOnly);

// 2 MB of lines that open a '[' and never close it, beside 2 MB of ordinary
// key lines: reading must cost the same per byte for both (the baseline).
std::string Lines(bool unclosed)
{
    std::string s = "[s]\n";
    for (int i = 0; s.size() < (2u << 20); ++i)
        s += (unclosed ? "[x" : "k=") + std::to_string(i % 1000) + "\n";
    return s;
}

void BM_ParseOrdinaryLines2MB(benchmark::State& state)
{
    const std::string bytes = Lines(false);
    for (auto _ : state) {
        TIniFile ini(bytes);
        benchmark::DoNotOptimize(ini.Bytes().data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_ParseOrdinaryLines2MB)->Unit(benchmark::kMillisecond);

void BM_ParseUnclosedHeaders2MB(benchmark::State& state)
{
    const std::string bytes = Lines(true);
    for (auto _ : state) {
        TIniFile ini(bytes);
        benchmark::DoNotOptimize(ini.Bytes().data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_ParseUnclosedHeaders2MB)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
