// The 80-bit x87 extended format as the value slots hold it: 10 bytes, the
// 64-bit mantissa (explicit integer bit) first, then sign and 15-bit exponent,
// least significant byte first. Kept as bytes so that the slots mean the same
// on hosts whose long double is not this format.
#pragma once

#include <cstdint>
#include <string_view>

namespace kovra {

inline constexpr std::size_t kExtendedSize = 10;

struct TExtended {
    std::uint64_t Mantissa = 0;
    std::uint16_t SignExp = 0;  // sign in bit 15, biased exponent (bias 16383) below

    bool operator==(const TExtended&) const = default;
};

TExtended ReadExtended(const std::uint8_t* p) noexcept;
void WriteExtended(std::uint8_t* p, TExtended x) noexcept;

// Conversions to and from the host's long double: exact where long double is
// the x87 format, rounded otherwise.
long double ExtendedToLongDouble(TExtended x) noexcept;
TExtended LongDoubleToExtended(long double v) noexcept;

enum class DecimalStatus { Ok, Syntax, Overflow };

// Reads a decimal number, point as the separator whatever the locale:
// digits with at most one point (at least one digit in all) and an optional
// exponent (e or E, optional sign, digits). The result is the correctly
// rounded extended value (to nearest, ties to even), denormals included;
// Overflow when it lies beyond the extended range.
DecimalStatus DecimalToExtended(std::string_view text, TExtended& out);

}  // namespace kovra
