// The x87 environment around one evaluation: 64-bit precision, round to
// nearest and every exception masked while formula code runs, so that a fault
// shows as a status flag instead of a trap; the host's control word comes back
// afterwards, with no flag left that it would turn into a trap.
#pragma once

#include <cstdint>

// KOVRA_NO_X87 builds the portable paths on an x87 host, to try them there.
#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__) && !defined(KOVRA_NO_X87)
#define KOVRA_HAVE_X87_ASM 1
#endif
#if defined(__x86_64__) && defined(__GNUC__) && !defined(KOVRA_NO_X87)
#define KOVRA_HAVE_X87_JIT 1
#endif

namespace kovra::x87 {

inline constexpr std::uint16_t kEvalControlWord = 0x037F;
inline constexpr std::uint16_t kInvalid = 0x01;
inline constexpr std::uint16_t kZeroDivide = 0x04;
inline constexpr std::uint16_t kOverflow = 0x08;
inline constexpr std::uint16_t kErrorFlags = kInvalid | kZeroDivide | kOverflow;
inline constexpr std::uint16_t kAllFlags = 0x3F;
inline constexpr std::uint16_t kC0 = 0x0100;
inline constexpr std::uint16_t kC2 = 0x0400;
inline constexpr std::uint16_t kC3 = 0x4000;

#ifdef KOVRA_HAVE_X87_ASM

// Sets the evaluation control word and clears the flags; returns the host's word.
inline std::uint16_t Enter() noexcept
{
    std::uint16_t saved, cw = kEvalControlWord;
    __asm__ volatile("fnstcw %0\n\t"
                     "fldcw %1\n\t"
                     "fnclex"
                     : "=m"(saved)
                     : "m"(cw));
    return saved;
}

// Clears what the host word would trap on, and our own error flags, then
// restores the host word.
inline void Leave(std::uint16_t saved) noexcept
{
    std::uint16_t sw;
    __asm__ volatile("fnstsw %0" : "=m"(sw));
    if (sw & (kErrorFlags | (~saved & kAllFlags)))
        __asm__ volatile("fnclex");
    if (saved != kEvalControlWord)
        __asm__ volatile("fldcw %0" : : "m"(saved));
}

#endif

}  // namespace kovra::x87
