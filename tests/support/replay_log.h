// Logs to replay, made without a recorder: the demo configuration copied to a
// folder of its own, samples of the demo ECU that move every formula, gauge
// and the chart tab, and a log of them with stamps a fixed interval apart.
// Shared by the replay tests and the replay benchmark.
#pragma once

#include "config/cp1251.h"
#include "record/log_format.h"

#include <QFile>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace kovra::test {

// The demo's 11-byte sample of record i. The engine speed (the chart tab's
// X, full scale 8000) climbs from 600 to 6300 rpm and falls back every 400
// records, so each period holds one run on the chart tab; coolant and battery
// cross their alarm levels now and then; speed feeds the running totals.
inline std::vector<std::uint8_t> DemoSample(std::uint64_t i)
{
    const std::uint64_t phase = i % 400;
    const int rpm = static_cast<int>(phase < 200 ? 600 + phase * 28 : 600 + (400 - phase) * 28);
    const int inj = static_cast<int>((i * 13) & 0xFFFF);
    return {
        static_cast<std::uint8_t>(rpm >> 8),
        static_cast<std::uint8_t>(rpm),
        static_cast<std::uint8_t>(40 + (i / 7) % 110),  // coolant, degC + 40
        static_cast<std::uint8_t>(60 + i % 20),         // intake air
        static_cast<std::uint8_t>(i * 3),               // throttle
        static_cast<std::uint8_t>((i / 3) % 200),       // vehicle speed
        static_cast<std::uint8_t>(inj >> 8),
        static_cast<std::uint8_t>(inj),
        static_cast<std::uint8_t>(110 + i % 35),   // battery, 0.1 V
        static_cast<std::uint8_t>((i / 50) % 16),  // status bits
        static_cast<std::uint8_t>(rpm / 40),       // torque
    };
}

// A stamp for ms after midnight, exact to its 5 ms.
inline TTimeStamp StampAtMs(std::int64_t ms)
{
    ms %= 24 * 3600 * 1000;
    TTimeStamp s;
    s.Hour = static_cast<std::uint8_t>(ms / 3600000);
    s.Minute = static_cast<std::uint8_t>(ms / 60000 % 60);
    s.Second = static_cast<std::uint8_t>(ms / 1000 % 60);
    s.Fifths = static_cast<std::uint8_t>(ms % 1000 / 5);
    return s;
}

// The bytes of a log of `records` samples of sampleFn(i), record i stamped
// startMs + i * stepMs.
template <class SampleFn>
std::vector<std::uint8_t> LogBytes(std::size_t sampleLength, std::uint64_t records, SampleFn&& sampleFn,
                                   std::int64_t startMs = 10 * 3600 * 1000, std::int64_t stepMs = 50)
{
    std::vector<std::uint8_t> log{static_cast<std::uint8_t>(sampleLength)};
    log.reserve(1 + records * (kStampSize + sampleLength));
    for (std::uint64_t i = 0; i < records; ++i) {
        const TTimeStamp s = StampAtMs(startMs + static_cast<std::int64_t>(i) * stepMs);
        log.insert(log.end(), {s.Hour, s.Minute, s.Second, s.Fifths});
        std::vector<std::uint8_t> sample = sampleFn(i);
        sample.resize(sampleLength);
        log.insert(log.end(), sample.begin(), sample.end());
    }
    return log;
}

inline void WriteFileBytes(const std::filesystem::path& p, const std::vector<std::uint8_t>& bytes)
{
    QFile f(QString::fromStdU16String(p.u16string()));
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
}

// demo/ copied to `to` (both the program and the working folder of a
// window), with a port that does not exist and, unless asked for, no clock on
// the panel: a replay's clock shows the record's time, the live one now.
inline void CopyDemo(const std::filesystem::path& demo, const std::filesystem::path& to, bool clock = false)
{
    namespace fs = std::filesystem;
    fs::create_directories(to);
    for (const auto& e : fs::directory_iterator(demo)) {
        if (e.path().filename() == "set.ini")
            continue;
        fs::copy(e.path(), to / e.path().filename(), fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    }
    std::ifstream in(demo / "set.ini", std::ios::binary);
    std::string ini = Cp1251ToUtf8(std::string(std::istreambuf_iterator<char>(in), {}));
    auto replace = [&ini](const std::string& from, const std::string& with) {
        if (const auto at = ini.find(from); at != std::string::npos)
            ini.replace(at, from.size(), with);
    };
    replace("порт=./ecu", "порт=" + (to / "no-such-port").string());
    if (!clock)
        replace("[Часы]\nОтображать=1", "[Часы]\nОтображать=0");
    std::ofstream(to / "set.ini", std::ios::binary | std::ios::trunc) << Utf8ToCp1251(ini);
}

}  // namespace kovra::test
