// Times of day as the program keeps them: fractions of a day, read from the
// local clock at millisecond resolution. The link stamps cycles with it, the
// cycle and the window read it, and logs store it as hours to milliseconds.
#pragma once

#include <cstdint>

namespace kovra {

inline constexpr std::int64_t kMsPerDay = 86'400'000;

// Milliseconds since midnight as a fraction of a day.
constexpr double DayFraction(std::int64_t msOfDay) { return static_cast<double>(msOfDay) / kMsPerDay; }

// The local time of day now.
double TimeOfDayNow();

}  // namespace kovra
