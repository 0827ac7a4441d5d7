// Helpers shared by the compiler's code generation and evaluation tests.
#pragma once

#include "formcomp/extended.h"
#include "formcomp/formula.h"

#include <cstdio>
#include <string>
#include <vector>

namespace kovra::testing {

inline constexpr std::size_t kPrologueSize = 10;  // mov rcx, imm64

// "DB 69 00 C3"
inline std::string Hex(const std::uint8_t* p, std::size_t n)
{
    std::string s;
    char buf[4];
    for (std::size_t i = 0; i < n; ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", p[i]);
        s += buf;
    }
    return s;
}

inline std::string Body(const TFormula& f)
{
    const auto& b = f.Code.bytes();
    return b.size() < kPrologueSize ? std::string("(no prologue)") : Hex(b.data() + kPrologueSize, b.size() - kPrologueSize);
}

inline TExtended Bits(long double v) { return LongDoubleToExtended(v); }

inline std::string BitsText(TExtended x)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04X:%016llX", x.SignExp, static_cast<unsigned long long>(x.Mantissa));
    return buf;
}

inline void SetSlotBits(TFormula& f, std::size_t slot, TExtended x)
{
    WriteExtended(f.SlotBase() + kExtendedSize * slot, x);
}

inline TExtended SlotBits(TFormula& f, std::size_t slot)
{
    return ReadExtended(f.SlotBase() + kExtendedSize * slot);
}

}  // namespace kovra::testing
