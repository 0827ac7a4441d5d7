#include "record/log_format.h"

#include "config/time_of_day.h"
#include "platform/files.h"

#include <cmath>

namespace kovra {

std::int64_t TTimeStamp::MsOfDay() const
{
    return ((Hour * 60 + Minute) * 60 + Second) * std::int64_t{1000} + Fifths * 5;
}

bool TTimeStamp::Valid() const
{
    return Hour < 24 && Minute < 60 && Second < 60 && Fifths <= 200;
}

std::int64_t TTimeStamp::CycleMs() const
{
    const std::int64_t ms = MsOfDay();
    return Valid() && ms >= kMsPerDay ? ms - kMsPerDay : ms;
}

double TTimeStamp::CycleTimeOfDay() const { return DayFraction(CycleMs()); }

TTimeStamp StampOf(float t)
{
    // Exact in double: 24 bits of t times a 27-bit constant. Halves go to even.
    auto ms = static_cast<std::int64_t>(std::nearbyint(static_cast<double>(t) * kMsPerDay));
    ms %= kMsPerDay;
    if (ms < 0)
        ms += kMsPerDay;
    const auto msPart = static_cast<int>(ms % 1000);
    const std::int64_t secs = ms / 1000;
    TTimeStamp s;
    s.Hour = static_cast<std::uint8_t>(secs / 3600);
    s.Minute = static_cast<std::uint8_t>(secs / 60 % 60);
    s.Second = static_cast<std::uint8_t>(secs % 60);
    // ms / 5 never ends in a half, so rounding up from .6 is rounding to nearest.
    s.Fifths = static_cast<std::uint8_t>((msPart + 2) / 5);
    return s;
}

TLogShape InspectLog(std::span<const std::uint8_t> bytes)
{
    TLogShape s;
    if (bytes.empty())
        return s;
    s.HasHeader = true;
    s.SampleLength = bytes[0];
    s.RecordSize = kStampSize + s.SampleLength;
    const std::size_t body = bytes.size() - 1;
    s.Records = body / s.RecordSize;
    s.TrailingBytes = body % s.RecordSize;
    return s;
}

std::string IoErrorMessage(int status) { return FileStatusText(status); }

}  // namespace kovra
