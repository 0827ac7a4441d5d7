#include "formcomp/interpreter.h"

#include "formcomp/extended.h"
#include "formcomp/x87_env.h"

#include <cmath>
#include <cstring>

namespace kovra {

namespace {

// The stack check at compilation keeps every formula within the x87's eight
// registers; the interpreter's stack has the same size.
constexpr std::size_t kStackSize = 8;

bool IsBinary(OpCode c) noexcept
{
    switch (c) {
    case OpCode::Add:
    case OpCode::Sub:
    case OpCode::Mul:
    case OpCode::Div:
    case OpCode::Mod:
    case OpCode::Pow:
        return true;
    default:
        return false;
    }
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

using LD = long double;

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

// fldln2 / fldlg2 (D9 ED / D9 EC); fxch; fyl2x
template <unsigned Const>
inline std::uint16_t Log(LD& r, const LD& x) noexcept
{
    std::uint16_t sw;
    __asm__ volatile("fldt %[x]\n\t"
                     ".byte 0xD9, %c[k]\n\t"
                     ".byte 0xD9, 0xC9\n\t"
                     ".byte 0xD9, 0xF1\n\t"
                     "fnstsw %[sw]\n\t"
                     "fstpt %[r]"
                     : [r] "=m"(r), [sw] "=m"(sw)
                     : [x] "m"(x), [k] "i"(Const)
                     : "st", "st(1)");
    return sw;
}

// fldl2e; fmulp
inline std::uint16_t MulLog2e(LD& r, const LD& x) noexcept
{
    std::uint16_t sw;
    __asm__ volatile("fldt %[x]\n\t"
                     ".byte 0xD9, 0xEA\n\t"
                     ".byte 0xDE, 0xC9\n\t"
                     "fnstsw %[sw]\n\t"
                     "fstpt %[r]"
                     : [r] "=m"(r), [sw] "=m"(sw)
                     : [x] "m"(x)
                     : "st", "st(1)");
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

inline LD One() noexcept
{
    LD r;
    __asm__ volatile("fld1\n\tfstpt %0" : "=m"(r) : : "st");
    return r;
}

inline LD Zero() noexcept
{
    LD r;
    __asm__ volatile("fldz\n\tfstpt %0" : "=m"(r) : : "st");
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
    KOVRA_STEP((Binary<0xDE, 0xC1>(u, t, One())));
    KOVRA_STEP(Fscale(r, u, k));
    return FpError::None;
}

FpError Power(LD& r, const LD& a, const LD& b) noexcept
{
    std::uint16_t sw = Ftst(a);
    KOVRA_STEP(sw);
    bool integral = false;
    if (sw & x87::kC3) {  // a is 0
        sw = Fcomp(Zero(), b);
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
    const LD one = One();
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

FpError Step(OpCode code, LD* st, std::size_t& depth) noexcept
{
    LD& x = st[depth - 1];
    if (IsBinary(code)) {
        const LD& a = st[depth - 2];
        const LD& b = st[depth - 1];
        LD r;
        switch (code) {
        case OpCode::Add: KOVRA_STEP((Binary<0xDE, 0xC1>(r, a, b))); break;
        case OpCode::Sub: KOVRA_STEP((Binary<0xDE, 0xE9>(r, a, b))); break;
        case OpCode::Mul: KOVRA_STEP((Binary<0xDE, 0xC9>(r, a, b))); break;
        case OpCode::Div: KOVRA_STEP((Binary<0xDE, 0xF9>(r, a, b))); break;
        case OpCode::Mod: KOVRA_STEP(Fprem(r, a, b)); break;
        default: {
            const FpError e = Power(r, a, b);
            if (e != FpError::None)
                return e;
        }
        }
        --depth;
        st[depth - 1] = r;
        return FpError::None;
    }
    switch (code) {
    case OpCode::Neg: KOVRA_STEP((Unary<0xD9, 0xE0>(x, x))); break;
    case OpCode::Abs: KOVRA_STEP((Unary<0xD9, 0xE1>(x, x))); break;
    case OpCode::Sin:
    case OpCode::Cos: {
        const std::uint16_t sw = code == OpCode::Sin ? Unary<0xD9, 0xFE>(x, x) : Unary<0xD9, 0xFF>(x, x);
        KOVRA_STEP(sw);
        if (sw & x87::kC2)  // operand out of range: fstp st(0); fldz
            x = Zero();
        break;
    }
    case OpCode::Tg:
    case OpCode::Ctg: {
        LD tan, one = 0;
        const std::uint16_t sw = Fptan(tan, one, x);
        KOVRA_STEP(sw);
        if (sw & x87::kC2)
            x = Zero();
        else if (code == OpCode::Tg)
            x = tan;
        else
            KOVRA_STEP((Binary<0xDE, 0xF1>(x, tan, one)));  // fdivrp: 1 / tan
        break;
    }
    case OpCode::Ln: KOVRA_STEP(Log<0xED>(x, x)); break;
    case OpCode::Lg: KOVRA_STEP(Log<0xEC>(x, x)); break;
    case OpCode::Exp: {
        LD y;
        KOVRA_STEP(MulLog2e(y, x));
        return ScaleByPowerOfTwo(x, y);
    }
    case OpCode::Ind: {
        const std::uint16_t sw = ZeroCompare(x);
        KOVRA_STEP(sw);
        // ja skips to fldz when 0 > x; equal or above gives 1
        x = (sw & (x87::kC0 | x87::kC3)) ? One() : Zero();
        break;
    }
    default:
        return FpError::InvalidOperation;
    }
    return FpError::None;
}

#undef KOVRA_STEP

}  // namespace asmops

TEvalResult RunX87(const TFormula& f) noexcept
{
    TEvalResult res;
    if (f.Ops.empty())
        return res;
    long double st[kStackSize];
    std::size_t depth = 0;
    const std::size_t slots = f.SlotCount();
    const std::uint16_t saved = x87::Enter();
    for (const TOp& op : f.Ops) {
        if (op.Code == OpCode::Load) {
            if (depth == kStackSize || op.Slot >= slots) {
                res.Error = FpError::InvalidOperation;  // what a stack fault would raise
                break;
            }
            std::memcpy(&st[depth++], f.slots_.data() + kExtendedSize * op.Slot, kExtendedSize);
            continue;
        }
        if (depth < (IsBinary(op.Code) ? 2u : 1u)) {
            res.Error = FpError::InvalidOperation;
            break;
        }
        res.Error = asmops::Step(op.Code, st, depth);
        if (res.Error != FpError::None)
            break;
    }
    if (res.Error == FpError::None && depth != 1)
        res.Error = FpError::InvalidOperation;
    if (res.Error == FpError::None)
        std::memcpy(&res.Value, &st[0], kExtendedSize);
    x87::Leave(saved);
    return res;
}

#endif  // KOVRA_HAVE_X87_ASM

// ---- plain long double ----

using LD = long double;

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

FpError PortableStep(OpCode code, LD* st, std::size_t& depth) noexcept
{
    LD& x = st[depth - 1];
    if (IsBinary(code)) {
        const LD a = st[depth - 2], b = st[depth - 1];
        LD r = 0;
        FpError e = FpError::None;
        switch (code) {
        case OpCode::Add: r = a + b; e = ArithError(r, a, b); break;
        case OpCode::Sub: r = a - b; e = ArithError(r, a, b); break;
        case OpCode::Mul: r = a * b; e = ArithError(r, a, b); break;
        case OpCode::Div:
            if (b == 0 && std::isfinite(a))  // an infinite dividend gives infinity quietly
                e = a == 0 ? FpError::InvalidOperation : FpError::DivisionByZero;
            else {
                r = a / b;
                e = ArithError(r, a, b);
            }
            break;
        case OpCode::Mod:
            if (!std::isnan(a) && !std::isnan(b) && (b == 0 || std::isinf(a)))
                e = FpError::InvalidOperation;
            else
                r = std::fmod(a, b);
            break;
        default: e = PortablePower(r, a, b); break;
        }
        if (e != FpError::None)
            return e;
        --depth;
        st[depth - 1] = r;
        return FpError::None;
    }
    switch (code) {
    case OpCode::Neg: x = -x; break;
    case OpCode::Abs: x = std::fabs(x); break;
    case OpCode::Sin:
    case OpCode::Cos:
    case OpCode::Tg:
    case OpCode::Ctg:
        if (std::isinf(x))
            return FpError::InvalidOperation;
        if (std::fabs(x) >= kTwo63) {
            x = 0;
            break;
        }
        if (code == OpCode::Sin)
            x = std::sin(x);
        else if (code == OpCode::Cos)
            x = std::cos(x);
        else if (code == OpCode::Tg)
            x = std::tan(x);
        else {
            const LD t = std::tan(x);
            if (t == 0)
                return FpError::DivisionByZero;
            x = 1 / t;
            if (std::isinf(x))
                return FpError::Overflow;
        }
        break;
    case OpCode::Ln:
    case OpCode::Lg:
        if (x < 0)
            return FpError::InvalidOperation;
        if (x == 0)
            return FpError::DivisionByZero;
        x = code == OpCode::Ln ? std::log(x) : std::log10(x);
        break;
    case OpCode::Exp: {
        if (std::isnan(x))
            break;
        const LD y = x * 1.44269504088896340735992468100189214L;
        if (std::isinf(y) && std::isfinite(x))
            return FpError::Overflow;
        return PortableScale(x, y);
    }
    case OpCode::Ind:
        if (std::isnan(x))
            return FpError::InvalidOperation;
        x = x >= 0 ? 1 : 0;
        break;
    default:
        return FpError::InvalidOperation;
    }
    return FpError::None;
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
    TEvalResult res;
    if (f.Ops.empty())
        return res;
    LD st[kStackSize];
    std::size_t depth = 0;
    const std::size_t slots = f.SlotCount();
    for (const TOp& op : f.Ops) {
        if (op.Code == OpCode::Load) {
            if (depth == kStackSize || op.Slot >= slots) {
                res.Error = FpError::InvalidOperation;
                return res;
            }
            st[depth++] = ExtendedToLongDouble(ReadExtended(f.slots_.data() + kExtendedSize * op.Slot));
            continue;
        }
        if (depth < (IsBinary(op.Code) ? 2u : 1u)) {
            res.Error = FpError::InvalidOperation;
            return res;
        }
        res.Error = PortableStep(op.Code, st, depth);
        if (res.Error != FpError::None)
            return res;
    }
    if (depth != 1)
        res.Error = FpError::InvalidOperation;
    else
        res.Value = st[0];
    return res;
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
