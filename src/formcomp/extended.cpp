#include "formcomp/extended.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <climits>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace kovra {

TExtended ReadExtended(const std::uint8_t* p) noexcept
{
    TExtended x;
    for (int i = 7; i >= 0; --i)
        x.Mantissa = (x.Mantissa << 8) | p[i];
    x.SignExp = static_cast<std::uint16_t>(p[8] | (p[9] << 8));
    return x;
}

void WriteExtended(std::uint8_t* p, TExtended x) noexcept
{
    for (int i = 0; i < 8; ++i)
        p[i] = static_cast<std::uint8_t>(x.Mantissa >> (8 * i));
    p[8] = static_cast<std::uint8_t>(x.SignExp);
    p[9] = static_cast<std::uint8_t>(x.SignExp >> 8);
}

#if LDBL_MANT_DIG == 64 && LDBL_MAX_EXP == 16384 && (defined(__x86_64__) || defined(__i386__)) && \
    !defined(KOVRA_NO_X87)
#define KOVRA_LDBL_IS_X87 1
#endif

long double ExtendedToLongDouble(TExtended x) noexcept
{
#ifdef KOVRA_LDBL_IS_X87
    long double v = 0;
    std::uint8_t raw[kExtendedSize];
    WriteExtended(raw, x);
    std::memcpy(&v, raw, kExtendedSize);
    return v;
#else
    const bool negative = (x.SignExp & 0x8000) != 0;
    const int field = x.SignExp & 0x7FFF;
    long double v;
    if (field == 0x7FFF)
        v = (x.Mantissa << 1) == 0 ? HUGE_VALL : NAN;
    else
        v = std::ldexp(static_cast<long double>(x.Mantissa), (field == 0 ? 1 : field) - 16383 - 63);
    return negative ? -v : v;
#endif
}

TExtended LongDoubleToExtended(long double v) noexcept
{
#ifdef KOVRA_LDBL_IS_X87
    std::uint8_t raw[kExtendedSize];
    std::memcpy(raw, &v, kExtendedSize);
    return ReadExtended(raw);
#else
    TExtended x;
    if (std::signbit(v))
        x.SignExp = 0x8000;
    if (std::isnan(v)) {
        x.SignExp |= 0x7FFF;
        x.Mantissa = 0xC000000000000000ull;
    } else if (std::isinf(v)) {
        x.SignExp |= 0x7FFF;
        x.Mantissa = 0x8000000000000000ull;
    } else if (v != 0) {
        int e = 0;
        const long double m = std::frexp(std::fabs(v), &e);  // m in [0.5, 1)
        // Host formats have fewer mantissa bits than 64, so this is exact.
        x.Mantissa = static_cast<std::uint64_t>(std::ldexp(m, 64));
        x.SignExp |= static_cast<std::uint16_t>(e - 1 + 16383);
    }
    return x;
#endif
}

namespace {

// Just enough of an unsigned big integer for one exact decimal conversion.
class BigUint {
public:
    bool IsZero() const { return limbs_.empty(); }

    void MulAdd(std::uint32_t mul, std::uint32_t add)
    {
        std::uint64_t carry = add;
        for (auto& l : limbs_) {
            const std::uint64_t t = static_cast<std::uint64_t>(l) * mul + carry;
            l = static_cast<std::uint32_t>(t);
            carry = t >> 32;
        }
        if (carry)
            limbs_.push_back(static_cast<std::uint32_t>(carry));
    }

    void MulPow10(int n)
    {
        for (; n >= 9; n -= 9)
            MulAdd(1000000000u, 0);
        static constexpr std::uint32_t kPow[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};
        if (n > 0)
            MulAdd(kPow[n], 0);
    }

    void ShiftLeft(std::size_t bits)
    {
        if (IsZero() || bits == 0)
            return;
        const std::size_t words = bits / 32;
        const unsigned rest = bits % 32;
        limbs_.insert(limbs_.begin(), words, 0);
        if (rest) {
            std::uint32_t carry = 0;
            for (std::size_t i = words; i < limbs_.size(); ++i) {
                const std::uint32_t l = limbs_[i];
                limbs_[i] = (l << rest) | carry;
                carry = l >> (32 - rest);
            }
            if (carry)
                limbs_.push_back(carry);
        }
    }

    std::size_t BitLength() const
    {
        if (IsZero())
            return 0;
        std::size_t n = limbs_.size() * 32;
        for (std::uint32_t top = limbs_.back(); !(top & 0x80000000u); top <<= 1)
            --n;
        return n;
    }

    // *this -= (other << shift) when that does not go below zero; tells
    // whether it did. Works on the shifted limbs in place: this runs 70 times
    // per literal.
    bool SubtractShiftedIfFits(const BigUint& other, std::size_t shift)
    {
        const std::size_t words = shift / 32;
        const unsigned bits = shift % 32;
        const std::size_t shiftedSize = other.limbs_.size() + words + (bits ? 1 : 0);
        auto limb = [&](std::size_t j) -> std::uint32_t {
            if (j < words)
                return 0;
            const std::size_t k = j - words;
            const std::uint32_t lo = k < other.limbs_.size() ? other.limbs_[k] : 0;
            if (!bits)
                return lo;
            const std::uint32_t below = (k >= 1 && k - 1 < other.limbs_.size()) ? other.limbs_[k - 1] : 0;
            return (lo << bits) | (below >> (32 - bits));
        };
        for (std::size_t j = std::max(limbs_.size(), shiftedSize); j-- > 0;) {
            const std::uint32_t mine = j < limbs_.size() ? limbs_[j] : 0;
            const std::uint32_t theirs = limb(j);
            if (mine != theirs) {
                if (mine < theirs)
                    return false;
                break;
            }
        }
        std::int64_t borrow = 0;
        for (std::size_t j = words; j < limbs_.size(); ++j) {
            const std::int64_t t = static_cast<std::int64_t>(limbs_[j]) - borrow - limb(j);
            borrow = t < 0;
            limbs_[j] = static_cast<std::uint32_t>(t + (borrow << 32));
        }
        while (!limbs_.empty() && limbs_.back() == 0)
            limbs_.pop_back();
        return true;
    }

private:
    std::vector<std::uint32_t> limbs_;  // least significant first, no leading zero limb
};

constexpr int kExtendedBias = 16383;
constexpr int kMinUlpExponent = -16382 - 63;  // weight of a denormal's lowest bit
// A halfway point between two extended values has fewer significant decimal
// digits than this, so digits beyond it only ever act as a sticky bit.
constexpr std::size_t kMaxSignificantDigits = 11600;

long long BitLength64(std::uint64_t v)
{
    long long n = 0;
    for (; v; v >>= 1)
        ++n;
    return n;
}

// A quotient of at most 70 bits.
struct Wide {
    std::uint64_t Hi = 0, Lo = 0;

    void ShiftInBit(bool bit)
    {
        Hi = (Hi << 1) | (Lo >> 63);
        Lo = (Lo << 1) | (bit ? 1u : 0u);
    }
    bool Bit(std::size_t i) const { return i < 64 ? (Lo >> i) & 1u : i < 128 && ((Hi >> (i - 64)) & 1u); }
    bool AnyBelow(std::size_t i) const
    {
        if (i >= 64)
            return Lo != 0 || (i > 64 && (Hi & ((std::uint64_t{1} << std::min<std::size_t>(i - 64, 63)) - 1)));
        return (Lo & ((std::uint64_t{1} << i) - 1)) != 0;
    }
    std::size_t BitLength() const
    {
        return Hi ? 64 + static_cast<std::size_t>(BitLength64(Hi)) : static_cast<std::size_t>(BitLength64(Lo));
    }
};

constexpr std::uint64_t kPow10[20] = {1ull,
                                      10ull,
                                      100ull,
                                      1000ull,
                                      10000ull,
                                      100000ull,
                                      1000000ull,
                                      10000000ull,
                                      100000000ull,
                                      1000000000ull,
                                      10000000000ull,
                                      100000000000ull,
                                      1000000000000ull,
                                      10000000000000ull,
                                      100000000000000ull,
                                      1000000000000000ull,
                                      10000000000000000ull,
                                      100000000000000000ull,
                                      1000000000000000000ull,
                                      10000000000000000000ull};

// The digits times 10^exp10 (exp10 > 0) as a 64-bit integer, or the digits
// alone (exp10 <= 0); false when that does not fit.
bool FitsSmall(const std::string& digits, long long exp10, std::uint64_t& value)
{
    value = 0;
    for (char c : digits)
        value = value * 10 + static_cast<std::uint64_t>(c - '0');  // at most 19 digits: no overflow
    for (long long e = 0; e < exp10; ++e) {
        if (value > UINT64_MAX / 10)
            return false;
        value *= 10;
    }
    return true;
}

}  // namespace

DecimalStatus DecimalToExtended(std::string_view text, TExtended& out)
{
    out = TExtended{};
    std::string digits;  // significant digits, no leading zeros
    long long exp10 = 0;   // value = digits * 10^exp10
    bool seenDigit = false, seenPoint = false;
    std::size_t i = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9') {
            seenDigit = true;
            if (c != '0' || !digits.empty())
                digits.push_back(c);
            if (seenPoint)
                --exp10;
        } else if (c == '.' && !seenPoint) {
            seenPoint = true;
        } else {
            break;
        }
    }
    if (!seenDigit)
        return DecimalStatus::Syntax;
    if (i < text.size()) {
        if (text[i] != 'e' && text[i] != 'E')
            return DecimalStatus::Syntax;
        ++i;
        bool negative = false;
        if (i < text.size() && (text[i] == '+' || text[i] == '-'))
            negative = text[i++] == '-';
        if (i == text.size())
            return DecimalStatus::Syntax;
        long long e = 0;
        for (; i < text.size(); ++i) {
            if (text[i] < '0' || text[i] > '9')
                return DecimalStatus::Syntax;
            e = std::min(e * 10 + (text[i] - '0'), 1000000000LL);  // saturates far beyond the range
        }
        exp10 += negative ? -e : e;
    }
    if (digits.empty())
        return DecimalStatus::Ok;  // zero

    // Trailing zeros only make the numbers bigger.
    const std::size_t lastNonZero = digits.find_last_not_of('0');
    exp10 += static_cast<long long>(digits.size() - lastNonZero - 1);
    digits.resize(lastNonZero + 1);
    if (digits.size() > kMaxSignificantDigits) {
        exp10 += static_cast<long long>(digits.size() - kMaxSignificantDigits) - 1;
        digits.resize(kMaxSignificantDigits);
        digits.push_back('1');  // the dropped tail was not zero
    }
    const long long magnitude = exp10 + static_cast<long long>(digits.size());  // value < 10^magnitude
    if (magnitude - 1 > 4933)
        return DecimalStatus::Overflow;  // at least 10^4933, beyond 1.19e4932
    if (magnitude <= -4952)
        return DecimalStatus::Ok;  // below half the smallest denormal: zero

    // value = num / den; q = num * 2^shift / den, scaled to 68 or 69 bits:
    // 64 mantissa bits, a guard bit and a few more, with the remainder as
    // the sticky part.
    Wide q;
    long long shift = 0;
    bool remainder = false;
    std::uint64_t small = 0;
    if (digits.size() <= 19 && exp10 >= -19 && FitsSmall(digits, exp10, small)) {
        // Everything fits 64 bits: a plain binary long division.
        const std::uint64_t den = kPow10[-std::min<long long>(exp10, 0)];
        shift = 68 - (BitLength64(small) - BitLength64(den));
        std::uint64_t r = 0;
        const long long steps = BitLength64(small) + shift;
        for (long long i = steps - 1; i >= 0; --i) {
            const bool top = (r >> 63) != 0;
            r = (r << 1) | (i >= shift ? (small >> (i - shift)) & 1u : 0u);
            const bool fits = top || r >= den;
            if (fits)
                r -= den;
            q.ShiftInBit(fits);
        }
        remainder = r != 0;
    } else {
        BigUint num, den;
        for (std::size_t k = 0; k < digits.size(); k += 9) {
            const std::size_t n = std::min<std::size_t>(9, digits.size() - k);
            std::uint32_t chunk = 0, scale = 1;
            for (std::size_t j = 0; j < n; ++j) {
                chunk = chunk * 10 + static_cast<std::uint32_t>(digits[k + j] - '0');
                scale *= 10;
            }
            num.MulAdd(scale, chunk);
        }
        den.MulAdd(1, 1);
        if (exp10 >= 0)
            num.MulPow10(static_cast<int>(exp10));
        else
            den.MulPow10(static_cast<int>(-exp10));
        shift = 68 - (static_cast<long long>(num.BitLength()) - static_cast<long long>(den.BitLength()));
        if (shift >= 0)
            num.ShiftLeft(static_cast<std::size_t>(shift));
        else
            den.ShiftLeft(static_cast<std::size_t>(-shift));
        for (std::size_t bit = 70; bit-- > 0;)
            q.ShiftInBit(num.SubtractShiftedIfFits(den, bit));
        remainder = !num.IsZero();
    }

    // value = q * 2^-shift; lead is the weight of its leading bit.
    const long long qBits = static_cast<long long>(q.BitLength());
    const long long lead = qBits - 1 - shift;
    long long ulp = std::max<long long>(lead - 63, kMinUlpExponent);
    const long long drop = ulp + shift;  // low bits of q below the ulp (at least 4)
    std::uint64_t mantissa = 0;
    if (drop < qBits + 2) {
        for (long long b = qBits - 1; b >= drop; --b)
            mantissa = (mantissa << 1) | (q.Bit(static_cast<std::size_t>(b)) ? 1u : 0u);
        const bool guard = q.Bit(static_cast<std::size_t>(drop - 1));
        const bool sticky = remainder || q.AnyBelow(static_cast<std::size_t>(drop - 1));
        if (guard && (sticky || (mantissa & 1))) {
            if (++mantissa == 0) {  // carried out of 64 bits
                mantissa = 0x8000000000000000ull;
                ++ulp;
            }
        }
    }
    if (mantissa == 0)
        return DecimalStatus::Ok;  // underflowed to zero
    long long field = 0;  // denormal unless the integer bit is set
    if (mantissa & 0x8000000000000000ull) {
        field = ulp + 63 + kExtendedBias;
        if (field >= 0x7FFF)
            return DecimalStatus::Overflow;
    }
    out.Mantissa = mantissa;
    out.SignExp = static_cast<std::uint16_t>(field);
    return DecimalStatus::Ok;
}

}  // namespace kovra
