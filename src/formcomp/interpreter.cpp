#include "formcomp/interpreter.h"

#include "formcomp/extended.h"
#include "formcomp/operators.h"
#include "formcomp/x87_env.h"

#include <array>
#include <cmath>
#include <cstring>
#include <utility>

namespace kovra {

namespace {

using LD = long double;

// The stack check at compilation keeps every formula within the x87's eight
// registers; the interpreter's stack has the same size.
constexpr std::size_t kStackSize = 8;

// One operation: its operands in the order they were pushed (the first
// pushed first), its value to r.
using Step = FpError (*)(LD& r, const LD* in) noexcept;

// Each interpreter's steps are specialisations of one function template per
// interpreter, one for each row of the operator table; a row without its step
// stops the build at the primary template.
template <OpCode>
inline constexpr bool kNoStepYet = false;

// Runs f's steps; load(value, slot bytes) pushes a slot.
template <class Load>
TEvalResult RunSteps(const TFormula& f, const std::array<Step, kOperatorCount>& steps, Load load) noexcept
{
    TEvalResult res;
    if (f.Ops.empty())
        return res;
    LD st[kStackSize];
    std::size_t depth = 0;
    const std::size_t slots = f.SlotCount();
    for (const TOp& op : f.Ops) {
        if (op.Code == OpCode::Load) {
            if (depth == kStackSize || op.Slot >= slots) {
                res.Error = FpError::InvalidOperation;  // what a stack fault would raise
                return res;
            }
            load(st[depth++], f.slots_.data() + kExtendedSize * op.Slot);
            continue;
        }
        const std::size_t row = IndexOf(op.Code);
        const std::size_t arity = row < kOperatorCount ? static_cast<std::size_t>(kOperators[row].Arity) : 0;
        if (arity == 0 || depth < arity) {
            res.Error = FpError::InvalidOperation;
            return res;
        }
        LD r;
        res.Error = steps[row](r, &st[depth - arity]);
        if (res.Error != FpError::None)
            return res;
        depth -= arity - 1;
        st[depth - 1] = r;
    }
    if (depth != 1)
        res.Error = FpError::InvalidOperation;
    else
        res.Value = st[0];
    return res;
}

#ifdef KOVRA_HAVE_X87_ASM

FpError ErrorOfStatus(std::uint16_t sw) noexcept
{
    if (sw & x87::kInvalid)
        return FpError::InvalidOperation;
    if (sw & x87::kZeroDivide)
        return FpError::DivisionByZero;
    if (sw & x87::kOverflow)
        return FpError::Overflow;
    return FpError::None;
}

namespace asmops {

// Every block below loads its operands from memory, runs the instructions
// of the generated template (given as raw bytes where the AT&T spelling of
// the reversed forms would be ambiguous), stores the status word and leaves
// the x87 stack empty. fldt/fstpt move the 80 bits unchanged, so keeping
// intermediate values in memory changes no bit of any result.

// a pushed first, b last; o0 o1 leaves one value.
template <unsigned O0, unsigned O1>
inline std::uint16_t Binary(LD& r, const LD& a, const LD& b) noexcept
{
    std::uint16_t sw;
    __asm__ volatile("fldt %[a]\n\t"
                     "fldt %[b]\n\t"
                     ".byte %c[o0], %c[o1]\n\t"
                     "fnstsw %[sw]\n\t"
                     "fstpt %[r]"
                     : [r] "=m"(r), [sw] "=m"(sw)
                     : [a] "m"(a), [b] "m"(b), [o0] "i"(O0), [o1] "i"(O1)
                     : "st", "st(1)");
    return sw;
}

template <unsigned O0, unsigned O1>
inline std::uint16_t Unary(LD& r, const LD& x) noexcept
{
    std::uint16_t sw;
    __asm__ volatile("fldt %[x]\n\t"
                     ".byte %c[o0], %c[o1]\n\t"
                     "fnstsw %[sw]\n\t"
                     "fstpt %[r]"
                     : [r] "=m"(r), [sw] "=m"(sw)
                     : [x] "m"(x), [o0] "i"(O0), [o1] "i"(O1)
                     : "st");
    return sw;
}

// fprem (D9 F8) or fscale (D9 FD) with top in st(0) and below in st(1);
// gives the new st(0) and drops st(1).
template <unsigned Op>
inline std::uint16_t OverSecond(LD& r, const LD& top, const LD& below) noexcept
{
    std::uint16_t sw;
    __asm__ volatile("fldt %[below]\n\t"
                     "fldt %[top]\n\t"
                     ".byte 0xD9, %c[op]\n\t"
                     "fnstsw %[sw]\n\t"
                     "fstpt %[r]\n\t"
                     "fstp %%st(0)"
                     : [r] "=m"(r), [sw] "=m"(sw)
                     : [top] "m"(top), [below] "m"(below), [op] "i"(Op)
                     : "st", "st(1)");
    return sw;
}

inline std::uint16_t Fprem(LD& r, const LD& a, const LD& b) noexcept { return OverSecond<0xF8>(r, a, b); }
inline std::uint16_t Fscale(LD& r, const LD& u, const LD& k) noexcept { return OverSecond<0xFD>(r, u, k); }

// fptan: in range (C2 clear) it pushes 1 above the tangent; out of range it
// leaves x alone, and tan receives x.
inline std::uint16_t Fptan(LD& tan, LD& one, const LD& x) noexcept
{
    std::uint16_t sw;
    __asm__ volatile("fldt %[x]\n\t"
                     ".byte 0xD9, 0xF2\n\t"
                     "fnstsw %[sw]\n\t"
                     "testw $0x400, %[sw]\n\t"
                     "jnz 1f\n\t"
                     "fstpt %[one]\n"
                     "1:\n\t"
                     "fstpt %[tan]"
                     : [tan] "=m"(tan), [one] "+m"(one), [sw] "=m"(sw)
                     : [x] "m"(x)
                     : "st", "st(1)", "cc");
    return sw;
}

// ftst of a.
inline std::uint16_t Ftst(const LD& a) noexcept
{
    std::uint16_t sw;
    __asm__ volatile("fldt %[a]\n\t"
                     ".byte 0xD9, 0xE4\n\t"
                     "fnstsw %[sw]\n\t"
                     "fstp %%st(0)"
                     : [sw] "=m"(sw)
                     : [a] "m"(a)
                     : "st");
    return sw;
}

// fcomp st(1) with u in st(0) and v in st(1).
inline std::uint16_t Fcomp(const LD& u, const LD& v) noexcept
{
    std::uint16_t sw;
    __asm__ volatile("fldt %[v]\n\t"
                     "fldt %[u]\n\t"
                     ".byte 0xD8, 0xD9\n\t"
                     "fnstsw %[sw]\n\t"
                     "fstp %%st(0)"
                     : [sw] "=m"(sw)
                     : [u] "m"(u), [v] "m"(v)
                     : "st", "st(1)");
    return sw;
}

// fldz; fcompp: 0 compared with x.
inline std::uint16_t ZeroCompare(const LD& x) noexcept
{
    std::uint16_t sw;
    __asm__ volatile("fldt %[x]\n\t"
                     ".byte 0xD9, 0xEE\n\t"
                     ".byte 0xDE, 0xD9\n\t"
                     "fnstsw %[sw]"
                     : [sw] "=m"(sw)
                     : [x] "m"(x)
                     : "st", "st(1)");
    return sw;
}

// fistp to a 32-bit cell.
inline std::uint16_t Fist32(std::int32_t& n, const LD& x) noexcept
{
    std::uint16_t sw;
    __asm__ volatile("fldt %[x]\n\t"
                     "fistpl %[n]\n\t"
                     "fnstsw %[sw]"
                     : [n] "=m"(n), [sw] "=m"(sw)
                     : [x] "m"(x)
                     : "st");
    return sw;
}

// The constants the templates load, by the second byte of their D9 xx
// instruction. Loaded once into memory they keep every bit, so a template's
// "load a constant, then combine it" is one Binary block over that memory.
enum : unsigned { kFld1 = 0xE8, kFldl2e = 0xEA, kFldlg2 = 0xEC, kFldln2 = 0xED, kFldz = 0xEE };

template <unsigned Op>
inline LD Constant() noexcept
{
    LD r;
    __asm__ volatile(".byte 0xD9, %c[op]\n\t"
                     "fstpt %[r]"
                     : [r] "=m"(r)
                     : [op] "i"(Op)
                     : "st");
    return r;
}

// Every step: the status after it tells whether it failed.
#define KOVRA_STEP(expr)                                  \
    do {                                                  \
        const std::uint16_t sw_ = (expr);                 \
        if (sw_ & x87::kErrorFlags)                       \
            return ErrorOfStatus(sw_);                    \
    } while (0)

// fld st(0); frndint; fxch; fsub st,st(1); f2xm1; fld1; faddp; fscale; drop k
FpError ScaleByPowerOfTwo(LD& r, const LD& y) noexcept
{
    LD k, f, t, u;
    KOVRA_STEP((Unary<0xD9, 0xFC>(k, y)));
    KOVRA_STEP((Binary<0xDE, 0xE9>(f, y, k)));
    KOVRA_STEP((Unary<0xD9, 0xF0>(t, f)));
    KOVRA_STEP((Binary<0xDE, 0xC1>(u, t, Constant<kFld1>())));
    KOVRA_STEP(Fscale(r, u, k));
    return FpError::None;
}

FpError Power(LD& r, const LD& a, const LD& b) noexcept
{
    std::uint16_t sw = Ftst(a);
    KOVRA_STEP(sw);
    bool integral = false;
    if (sw & x87::kC3) {  // a is 0
        sw = Fcomp(Constant<kFldz>(), b);
        KOVRA_STEP(sw);
        if (sw & x87::kC0) {  // 0 < b: the result is a itself
            r = a;
            return FpError::None;
        }
    } else {
        LD rounded;
        KOVRA_STEP((Unary<0xD9, 0xFC>(rounded, b)));
        sw = Fcomp(rounded, b);
        KOVRA_STEP(sw);
        integral = (sw & x87::kC3) != 0;
    }
    if (!integral) {
        LD y;
        KOVRA_STEP((Binary<0xD9, 0xF1>(y, b, a)));  // fyl2x: b * log2 a
        return ScaleByPowerOfTwo(r, y);
    }

    std::int32_t n = 0;
    KOVRA_STEP(Fist32(n, b));
    const LD one = Constant<kFld1>();
    if (n == 0) {
        r = one;
        return FpError::None;
    }
    std::uint32_t m = n < 0 ? 0u - static_cast<std::uint32_t>(n) : static_cast<std::uint32_t>(n);
    LD p = a, acc = one;
    for (;;) {
        const bool bit = m & 1u;
        m >>= 1;
        if (bit) {
            KOVRA_STEP((Binary<0xDE, 0xC9>(acc, acc, p)));
            if (m == 0)
                break;
        }
        KOVRA_STEP((Unary<0xD8, 0xC8>(p, p)));
    }
    if (n < 0)
        KOVRA_STEP((Binary<0xDE, 0xF1>(acc, acc, one)));  // fld1; fdivrp: 1 / acc
    r = acc;
    return FpError::None;
}

// fsin (FE) or fcos (FF); an operand out of range (C2) gives 0: fstp st(0); fldz
template <unsigned Op>
FpError SineOrCosine(LD& r, const LD& x) noexcept
{
    const std::uint16_t sw = Unary<0xD9, Op>(r, x);
    KOVRA_STEP(sw);
    if (sw & x87::kC2)
        r = Constant<kFldz>();
    return FpError::None;
}

// fptan; then fstp st(0) for the tangent, or fdivrp for 1 / tangent; out of range gives 0
template <bool Reciprocal>
FpError Tangent(LD& r, const LD& x) noexcept
{
    LD tan, one = 0;
    const std::uint16_t sw = Fptan(tan, one, x);
    KOVRA_STEP(sw);
    if (sw & x87::kC2)
        r = Constant<kFldz>();
    else if (!Reciprocal)
        r = tan;
    else
        KOVRA_STEP((Binary<0xDE, 0xF1>(r, tan, one)));  // fdivrp: 1 / tan
    return FpError::None;
}

// The steps, one per row of the operator table, each the instructions of
// that row's template.
template <OpCode C>
FpError X87Step(LD&, const LD*) noexcept
{
    static_assert(kNoStepYet<C>, "a row of the operator table without its x87 step");
    return FpError::InvalidOperation;
}

template <> FpError X87Step<OpCode::Add>(LD& r, const LD* in) noexcept { return ErrorOfStatus(Binary<0xDE, 0xC1>(r, in[0], in[1])); }
template <> FpError X87Step<OpCode::Sub>(LD& r, const LD* in) noexcept { return ErrorOfStatus(Binary<0xDE, 0xE9>(r, in[0], in[1])); }
template <> FpError X87Step<OpCode::Mul>(LD& r, const LD* in) noexcept { return ErrorOfStatus(Binary<0xDE, 0xC9>(r, in[0], in[1])); }
template <> FpError X87Step<OpCode::Div>(LD& r, const LD* in) noexcept { return ErrorOfStatus(Binary<0xDE, 0xF9>(r, in[0], in[1])); }
template <> FpError X87Step<OpCode::Pow>(LD& r, const LD* in) noexcept { return Power(r, in[0], in[1]); }
template <> FpError X87Step<OpCode::Mod>(LD& r, const LD* in) noexcept { return ErrorOfStatus(Fprem(r, in[0], in[1])); }
template <> FpError X87Step<OpCode::Neg>(LD& r, const LD* in) noexcept { return ErrorOfStatus(Unary<0xD9, 0xE0>(r, in[0])); }
template <> FpError X87Step<OpCode::Sin>(LD& r, const LD* in) noexcept { return SineOrCosine<0xFE>(r, in[0]); }
template <> FpError X87Step<OpCode::Cos>(LD& r, const LD* in) noexcept { return SineOrCosine<0xFF>(r, in[0]); }
template <> FpError X87Step<OpCode::Tg>(LD& r, const LD* in) noexcept { return Tangent<false>(r, in[0]); }
template <> FpError X87Step<OpCode::Ctg>(LD& r, const LD* in) noexcept { return Tangent<true>(r, in[0]); }
// fldln2 / fldlg2; fxch; fyl2x: the constant below x, then the constant times log2 x
template <> FpError X87Step<OpCode::Ln>(LD& r, const LD* in) noexcept { return ErrorOfStatus(Binary<0xD9, 0xF1>(r, Constant<kFldln2>(), in[0])); }
template <> FpError X87Step<OpCode::Lg>(LD& r, const LD* in) noexcept { return ErrorOfStatus(Binary<0xD9, 0xF1>(r, Constant<kFldlg2>(), in[0])); }
// fldl2e; fmulp; then 2 to that power
template <> FpError X87Step<OpCode::Exp>(LD& r, const LD* in) noexcept
{
    LD y;
    KOVRA_STEP((Binary<0xDE, 0xC9>(y, in[0], Constant<kFldl2e>())));
    return ScaleByPowerOfTwo(r, y);
}
template <> FpError X87Step<OpCode::Ind>(LD& r, const LD* in) noexcept
{
    const std::uint16_t sw = ZeroCompare(in[0]);
    KOVRA_STEP(sw);
    // ja skips to fldz when 0 > x; equal or above gives 1
    r = (sw & (x87::kC0 | x87::kC3)) ? Constant<kFld1>() : Constant<kFldz>();
    return FpError::None;
}
template <> FpError X87Step<OpCode::Abs>(LD& r, const LD* in) noexcept { return ErrorOfStatus(Unary<0xD9, 0xE1>(r, in[0])); }

#undef KOVRA_STEP

template <std::size_t... I>
constexpr std::array<Step, kOperatorCount> X87Steps(std::index_sequence<I...>)
{
    return {&X87Step<kOperators[I].Code>...};
}

}  // namespace asmops

TEvalResult RunX87(const TFormula& f) noexcept
{
    static constexpr std::array<Step, kOperatorCount> kSteps = asmops::X87Steps(std::make_index_sequence<kOperatorCount>{});
    const std::uint16_t saved = x87::Enter();
    const TEvalResult res =
        RunSteps(f, kSteps, [](LD& value, const std::uint8_t* slot) { std::memcpy(&value, slot, kExtendedSize); });
    x87::Leave(saved);
    return res;
}

#endif  // KOVRA_HAVE_X87_ASM

// ---- plain long double ----

FpError ArithError(LD r, LD a, LD b) noexcept
{
    if (std::isnan(r) && !std::isnan(a) && !std::isnan(b))
        return FpError::InvalidOperation;
    if (std::isinf(r) && std::isfinite(a) && std::isfinite(b))
        return FpError::Overflow;
    return FpError::None;
}

const LD kTwo63 = 9223372036854775808.0L;

FpError PortableScale(LD& r, LD y) noexcept
{
    if (std::isinf(y))
        return FpError::InvalidOperation;  // y - round(y) is inf - inf
    r = std::exp2(y);
    return std::isinf(r) ? FpError::Overflow : FpError::None;
}

FpError PortablePower(LD& r, LD a, LD b) noexcept
{
    if (std::isnan(a))
        return FpError::InvalidOperation;
    bool integral = false;
    if (a == 0) {
        if (std::isnan(b))
            return FpError::InvalidOperation;
        if (b > 0) {
            r = a;
            return FpError::None;
        }
    } else {
        if (std::isnan(b))
            return FpError::InvalidOperation;
        integral = std::nearbyint(b) == b;
    }
    if (!integral) {
        if (a < 0 || (a == 0 && b == 0))
            return FpError::InvalidOperation;
        if (a == 0)
            return FpError::DivisionByZero;
        const LD y = b * std::log2(a);
        if (std::isinf(y) && std::isfinite(b))
            return FpError::Overflow;
        return PortableScale(r, y);
    }
    if (!(b >= -2147483648.0L && b <= 2147483647.0L))
        return FpError::InvalidOperation;
    const auto n = static_cast<std::int32_t>(b);
    if (n == 0) {
        r = 1;
        return FpError::None;
    }
    std::uint32_t m = n < 0 ? 0u - static_cast<std::uint32_t>(n) : static_cast<std::uint32_t>(n);
    LD p = a, acc = 1;
    for (;;) {
        const bool bit = m & 1u;
        m >>= 1;
        if (bit) {
            const LD t = acc * p;
            if (FpError e = ArithError(t, acc, p); e != FpError::None)
                return e;
            acc = t;
            if (m == 0)
                break;
        }
        const LD t = p * p;
        if (FpError e = ArithError(t, p, p); e != FpError::None)
            return e;
        p = t;
    }
    if (n < 0) {
        if (acc == 0)
            return FpError::DivisionByZero;
        acc = 1 / acc;
        if (std::isinf(acc))
            return FpError::Overflow;
    }
    r = acc;
    return FpError::None;
}

// sin, cos, tg and ctg: an infinity is invalid, a magnitude of 2^63 or more
// is out of range and gives 0, as the x87 instructions do.
template <class F>
FpError PortableTrig(LD& r, LD x, F f) noexcept
{
    if (std::isinf(x))
        return FpError::InvalidOperation;
    if (std::fabs(x) >= kTwo63) {
        r = 0;
        return FpError::None;
    }
    return f(r, x);
}

// ln and lg: the x87 raises the same errors for both.
FpError PortableLog(LD& r, LD x, bool decimal) noexcept
{
    if (x < 0)
        return FpError::InvalidOperation;
    if (x == 0)
        return FpError::DivisionByZero;
    r = decimal ? std::log10(x) : std::log(x);
    return FpError::None;
}

// The steps, one per row of the operator table, with the x87's error rules.
template <OpCode C>
FpError PortableStep(LD&, const LD*) noexcept
{
    static_assert(kNoStepYet<C>, "a row of the operator table without its portable step");
    return FpError::InvalidOperation;
}

template <> FpError PortableStep<OpCode::Add>(LD& r, const LD* in) noexcept { r = in[0] + in[1]; return ArithError(r, in[0], in[1]); }
template <> FpError PortableStep<OpCode::Sub>(LD& r, const LD* in) noexcept { r = in[0] - in[1]; return ArithError(r, in[0], in[1]); }
template <> FpError PortableStep<OpCode::Mul>(LD& r, const LD* in) noexcept { r = in[0] * in[1]; return ArithError(r, in[0], in[1]); }
template <> FpError PortableStep<OpCode::Div>(LD& r, const LD* in) noexcept
{
    const LD a = in[0], b = in[1];
    if (b == 0 && std::isfinite(a))  // an infinite dividend gives infinity quietly
        return a == 0 ? FpError::InvalidOperation : FpError::DivisionByZero;
    r = a / b;
    return ArithError(r, a, b);
}
template <> FpError PortableStep<OpCode::Pow>(LD& r, const LD* in) noexcept { return PortablePower(r, in[0], in[1]); }
template <> FpError PortableStep<OpCode::Mod>(LD& r, const LD* in) noexcept
{
    const LD a = in[0], b = in[1];
    if (!std::isnan(a) && !std::isnan(b) && (b == 0 || std::isinf(a)))
        return FpError::InvalidOperation;
    r = std::fmod(a, b);
    return FpError::None;
}
template <> FpError PortableStep<OpCode::Neg>(LD& r, const LD* in) noexcept { r = -in[0]; return FpError::None; }
template <> FpError PortableStep<OpCode::Sin>(LD& r, const LD* in) noexcept
{
    return PortableTrig(r, in[0], [](LD& v, LD x) { v = std::sin(x); return FpError::None; });
}
template <> FpError PortableStep<OpCode::Cos>(LD& r, const LD* in) noexcept
{
    return PortableTrig(r, in[0], [](LD& v, LD x) { v = std::cos(x); return FpError::None; });
}
template <> FpError PortableStep<OpCode::Tg>(LD& r, const LD* in) noexcept
{
    return PortableTrig(r, in[0], [](LD& v, LD x) { v = std::tan(x); return FpError::None; });
}
template <> FpError PortableStep<OpCode::Ctg>(LD& r, const LD* in) noexcept
{
    return PortableTrig(r, in[0], [](LD& v, LD x) {
        const LD t = std::tan(x);
        if (t == 0)
            return FpError::DivisionByZero;
        v = 1 / t;
        return std::isinf(v) ? FpError::Overflow : FpError::None;
    });
}
template <> FpError PortableStep<OpCode::Ln>(LD& r, const LD* in) noexcept { return PortableLog(r, in[0], false); }
template <> FpError PortableStep<OpCode::Lg>(LD& r, const LD* in) noexcept { return PortableLog(r, in[0], true); }
template <> FpError PortableStep<OpCode::Exp>(LD& r, const LD* in) noexcept
{
    const LD x = in[0];
    if (std::isnan(x)) {
        r = x;
        return FpError::None;
    }
    const LD y = x * 1.44269504088896340735992468100189214L;
    if (std::isinf(y) && std::isfinite(x))
        return FpError::Overflow;
    return PortableScale(r, y);
}
template <> FpError PortableStep<OpCode::Ind>(LD& r, const LD* in) noexcept
{
    if (std::isnan(in[0]))
        return FpError::InvalidOperation;
    r = in[0] >= 0 ? 1 : 0;
    return FpError::None;
}
template <> FpError PortableStep<OpCode::Abs>(LD& r, const LD* in) noexcept { r = std::fabs(in[0]); return FpError::None; }

template <std::size_t... I>
constexpr std::array<Step, kOperatorCount> PortableSteps(std::index_sequence<I...>)
{
    return {&PortableStep<kOperators[I].Code>...};
}

}  // namespace

bool InterpreterUsesX87() noexcept
{
#ifdef KOVRA_HAVE_X87_ASM
    return true;
#else
    return false;
#endif
}

TEvalResult InterpretPortable(const TFormula& f) noexcept
{
    static constexpr std::array<Step, kOperatorCount> kSteps = PortableSteps(std::make_index_sequence<kOperatorCount>{});
    return RunSteps(f, kSteps, [](LD& value, const std::uint8_t* slot) {
        value = ExtendedToLongDouble(ReadExtended(slot));
    });
}

TEvalResult Interpret(const TFormula& f) noexcept
{
#ifdef KOVRA_HAVE_X87_ASM
    return RunX87(f);
#else
    return InterpretPortable(f);
#endif
}

}  // namespace kovra
