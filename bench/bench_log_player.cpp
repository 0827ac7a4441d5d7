// Opening a replay and going through it, over an hour of the demo's cycles
// (72,000 records of 11-byte samples, 20 cycles a second), against the
// baseline in the same run: a bare pass over the same bytes in memory.
#include "record/log_format.h"
#include "run/log_player.h"

#include <benchmark/benchmark.h>

#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <filesystem>
#include <vector>

namespace {

using namespace kovra;

constexpr std::size_t kRecords = 72'000;
constexpr std::size_t kSampleLength = 11;

std::vector<std::uint8_t> DemoLog()
{
    std::vector<std::uint8_t> log{kSampleLength};
    for (std::size_t k = 0; k < kRecords; ++k) {
        const TTimeStamp s = StampOf(static_cast<float>((36'000'000.0 + 50.0 * k) / 86'400'000));
        log.insert(log.end(), {s.Hour, s.Minute, s.Second, s.Fifths});
        for (std::size_t i = 0; i < kSampleLength; ++i)
            log.push_back(static_cast<std::uint8_t>(k * 7 + i));
    }
    return log;
}

struct TLogFile {
    TLogFile()
    {
        path = std::filesystem::path(dir.path().toStdString()) / "hour.xlg";
        QFile f(QString::fromStdString(path.string()));
        f.open(QIODevice::WriteOnly);
        f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    }
    QTemporaryDir dir;
    std::vector<std::uint8_t> bytes = DemoLog();
    std::filesystem::path path;
};

TLogFile& File()
{
    static TLogFile file;
    return file;
}

void BM_BarePassOverTheBytes(benchmark::State& state)
{
    const std::vector<std::uint8_t>& bytes = File().bytes;
    for (auto _ : state) {
        std::uint64_t sum = 0;
        for (std::size_t at = 1; at + kStampSize + kSampleLength <= bytes.size(); at += kStampSize + kSampleLength)
            sum += bytes[at + 3] + bytes[at + kStampSize];
        benchmark::DoNotOptimize(sum);
    }
}
BENCHMARK(BM_BarePassOverTheBytes)->Unit(benchmark::kMillisecond);

void BM_Open(benchmark::State& state)
{
    for (auto _ : state) {
        TLogPlayer player;
        player.SetMemoryCap(state.range(0) ? TLogPlayer::kDefaultMemoryCap : 0);
        if (!player.Open(File().path, kSampleLength))
            state.SkipWithError(player.Error().c_str());
        benchmark::DoNotOptimize(player.PlayMs(kRecords - 1));
    }
}
BENCHMARK(BM_Open)->Arg(1)->Arg(0)->ArgName("inMemory")->Unit(benchmark::kMillisecond);

void BM_ForEach(benchmark::State& state)
{
    TLogPlayer player;
    player.SetMemoryCap(state.range(0) ? TLogPlayer::kDefaultMemoryCap : 0);
    if (!player.Open(File().path, kSampleLength))
        state.SkipWithError(player.Error().c_str());
    for (auto _ : state) {
        double sum = 0;
        player.ForEach(0, kRecords, [&](std::uint64_t, double t, std::span<const std::uint8_t> s) { sum += t + s[0]; });
        benchmark::DoNotOptimize(sum);
    }
}
BENCHMARK(BM_ForEach)->Arg(1)->Arg(0)->ArgName("inMemory")->Unit(benchmark::kMillisecond);

void BM_FindNearTheEnd(benchmark::State& state)
{
    TLogPlayer player;
    if (!player.Open(File().path, kSampleLength))
        state.SkipWithError(player.Error().c_str());
    for (auto _ : state)
        benchmark::DoNotOptimize(player.Find("10:59:59"));
}
BENCHMARK(BM_FindNearTheEnd)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
