// The gauge sections of the benchmarks' largest panel: 64 gauges of all five
// kinds on an 8 x 8 grid, each with a scale, an alarm and its own formula.
// UTF-8; callers convert the whole settings text to CP1251.
#pragma once

#include <string>

namespace kovra::bench {

inline std::string GaugeSections(int gauges = 64)
{
    std::string s;
    for (int g = 0; g < gauges; ++g) {
        const int kind = g % 5;
        s += "[Прибор_" + std::to_string(g) + "]\nВид=" + std::to_string(kind) + "\nНазвание=G" + std::to_string(g) +
             "\nФормула=" + std::to_string(g * 3) + "\nХ=" + std::to_string(2 + (g % 8) * 55) +
             "\nУ=" + std::to_string(2 + (g / 8) * 31) + "\nРазмер=" + std::to_string(kind == 0 ? 14 : 25) +
             "\nМаксимум=20000\nГрадацияШк=8\nКол-воЦиврШк=5\nНачУгол=225\nКонУгол=-45\nТревога=1\n"
             "ТревогаУровень=15000\nЦветТекст=16777215\nЦветСтр=255\nЦветШк=12632256\n";
    }
    return s;
}

}  // namespace kovra::bench
