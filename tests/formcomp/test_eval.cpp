// What the generated code computes, and how it fails.
#include "formula_test_support.h"

#include "formcomp/interpreter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

using namespace kovra;
using namespace kovra::testing;

namespace {

constexpr long double kNaN = std::numeric_limits<long double>::quiet_NaN();
constexpr long double kInf = std::numeric_limits<long double>::infinity();
constexpr long double kTwo63 = 9223372036854775808.0L;

struct Outcome {
    TEvalResult Jit;
    TEvalResult Interp;
};

Outcome Calc(const std::string& text, const std::vector<std::string>& names = {}, const std::vector<long double>& values = {})
{
    TFormula f;
    EXPECT_TRUE(CompileFormula(f, text, names)) << text << ": " << f.RefuseReason;
    for (std::size_t i = 0; i < values.size(); ++i)
        f.SetSlot(i, values[i]);
    return {Evaluate(f), Interpret(f)};
}

struct ValueCase {
    const char* Text;
    std::vector<long double> Values;  // for x, y
    long double Expected;
};

class Values : public ::testing::TestWithParam<ValueCase> {};

TEST_P(Values, AreExact)
{
    const ValueCase& c = GetParam();
    const Outcome r = Calc(c.Text, {"x", "y"}, c.Values);
    EXPECT_EQ(r.Jit.Error, FpError::None) << FpErrorMessage(r.Jit.Error);
    EXPECT_EQ(BitsText(Bits(r.Jit.Value)), BitsText(Bits(c.Expected))) << r.Jit.Value;
    EXPECT_EQ(BitsText(Bits(r.Interp.Value)), BitsText(Bits(c.Expected)));
}

INSTANTIATE_TEST_SUITE_P(
    Formulas, Values,
    ::testing::Values(
        ValueCase{"2^10", {}, 1024}, ValueCase{"2^(-2)", {}, 0.25}, ValueCase{"(-2)^3", {}, -8},
        ValueCase{"4^0.5", {}, 2}, ValueCase{"0^2", {}, 0}, ValueCase{"x^0", {5}, 1},
        ValueCase{"x^y", {-3, -2}, 1.0L / 9},
        // left-associative: (2^3)^2
        ValueCase{"2^3^2", {}, 64},
        // the unary minus binds like * and /
        ValueCase{"-x^2", {3}, -9}, ValueCase{"-x+y", {3, 1}, -2},
        // the sign of mod follows the dividend
        ValueCase{"(7)mod(3)", {}, 1}, ValueCase{"(-7)mod(3)", {}, -1}, ValueCase{"(7)mod(-3)", {}, 1},
        ValueCase{"(x)mod(y)", {7.5, 2}, 1.5},
        ValueCase{"ind(-0.5)", {}, 0}, ValueCase{"ind(0)", {}, 1}, ValueCase{"ind(2)", {}, 1},
        ValueCase{"indx", {-0.0L}, 1},
        ValueCase{"absx", {-2.5}, 2.5}, ValueCase{"expx", {0}, 1}, ValueCase{"lnx", {1}, 0},
        ValueCase{"lg(100)", {}, 2}, ValueCase{"sinx", {0}, 0}, ValueCase{"cosx", {0}, 1},
        // out of range for the trigonometric instructions: 0
        ValueCase{"sinx", {kTwo63}, 0}, ValueCase{"cosx", {-kTwo63}, 0}, ValueCase{"sinx", {1e300L}, 0},
        ValueCase{"tgx", {kTwo63}, 0}, ValueCase{"ctgx", {-4 * kTwo63}, 0},
        // (x1*256+x2)/4 over sample bytes
        ValueCase{"(x*256+y)/4", {1, 2}, 64.5L}));

TEST(Eval, TangentsAndTheirRangeLimit)
{
    const Outcome tg = Calc("tg(1)"), ctg = Calc("ctg(1)");
    EXPECT_NEAR(static_cast<double>(tg.Jit.Value), 1.5574077246549022, 1e-15);
    EXPECT_NEAR(static_cast<double>(ctg.Jit.Value), 0.6420926159343306, 1e-15);
    EXPECT_NEAR(static_cast<double>(tg.Jit.Value * ctg.Jit.Value), 1.0, 1e-18);
    // Just below 2^63 the instructions still work.
    const long double below = std::nextafter(kTwo63, 0.0L);
    for (const char* f : {"sinx", "cosx", "tgx"})
        EXPECT_NE(Calc(f, {"x"}, {below}).Jit.Value, 0.0L) << f;
}

struct ErrorCase {
    const char* Text;
    std::vector<long double> Values;
    FpError Expected;
};

class Errors : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(Errors, NameTheFirstFailingOperation)
{
    const ErrorCase& c = GetParam();
    const Outcome r = Calc(c.Text, {"x", "y"}, c.Values);
    EXPECT_EQ(r.Jit.Error, c.Expected) << FpErrorMessage(r.Jit.Error);
    EXPECT_EQ(r.Interp.Error, c.Expected);
    EXPECT_EQ(r.Jit.Value, 0.0L);  // no value is produced
}

INSTANTIATE_TEST_SUITE_P(
    Formulas, Errors,
    ::testing::Values(
        ErrorCase{"1/x", {0}, FpError::DivisionByZero}, ErrorCase{"x/y", {0, 0}, FpError::InvalidOperation},
        ErrorCase{"(x)mod(y)", {1, 0}, FpError::InvalidOperation},
        ErrorCase{"lnx", {-1}, FpError::InvalidOperation}, ErrorCase{"lgx", {0}, FpError::DivisionByZero},
        ErrorCase{"ctgx", {0}, FpError::DivisionByZero},
        ErrorCase{"(-8)^(1/3)", {}, FpError::InvalidOperation}, ErrorCase{"0^(-1)", {}, FpError::DivisionByZero},
        ErrorCase{"0^0", {}, FpError::InvalidOperation},
        // an integral exponent beyond 32 bits fails in fistp, before the squarings overflow
        ErrorCase{"x^y", {2, 1e10L}, FpError::InvalidOperation},
        ErrorCase{"x^y", {10, 5000}, FpError::Overflow},
        // the reciprocal of an underflowed power
        ErrorCase{"x^y", {0.1L, -6000}, FpError::DivisionByZero},
        ErrorCase{"expx", {11357}, FpError::Overflow},
        // x*log2(e) overflows first; inf - inf follows and must not win
        ErrorCase{"expx", {1e4932L}, FpError::Overflow},
        ErrorCase{"expx", {kInf}, FpError::InvalidOperation},
        ErrorCase{"x*y", {1e4000L, 1e4000L}, FpError::Overflow},
        ErrorCase{"x-y", {kInf, kInf}, FpError::InvalidOperation},
        ErrorCase{"sinx", {kInf}, FpError::InvalidOperation},
        // comparisons with a NaN
        ErrorCase{"indx", {kNaN}, FpError::InvalidOperation}, ErrorCase{"x^2", {kNaN}, FpError::InvalidOperation},
        ErrorCase{"x^y", {2, kNaN}, FpError::InvalidOperation},
        // the first failure decides, even when a later one is of another kind
        ErrorCase{"1/x+lny", {0, -1}, FpError::DivisionByZero},
        ErrorCase{"lny+1/x", {0, -1}, FpError::InvalidOperation}));

TEST(Eval, ErrorMessages)
{
    EXPECT_STREQ(FpErrorMessage(FpError::InvalidOperation), "Invalid floating point operation");
    EXPECT_STREQ(FpErrorMessage(FpError::DivisionByZero), "Floating point division by zero");
    EXPECT_STREQ(FpErrorMessage(FpError::Overflow), "Floating point overflow");
}

TEST(Eval, QuietNaNPropagatesAndSignalingNaNFails)
{
    // Arithmetic passes a quiet NaN on without an exception, as the trapping
    // original would.
    const Outcome quiet = Calc("x+1", {"x"}, {kNaN});
    EXPECT_EQ(quiet.Jit.Error, FpError::None);
    EXPECT_TRUE(std::isnan(quiet.Jit.Value));

    TFormula f;
    ASSERT_TRUE(CompileFormula(f, "x+1", {"x"}));
    SetSlotBits(f, 0, {0xA000000000000000ull, 0x7FFF});  // signaling
    EXPECT_EQ(Evaluate(f).Error, FpError::InvalidOperation);
    EXPECT_EQ(Interpret(f).Error, FpError::InvalidOperation);
}

TEST(Eval, UnderflowIsNoError)
{
    const Outcome r = Calc("x*y", {"x", "y"}, {1e-4000L, 1e-940L});
    EXPECT_EQ(r.Jit.Error, FpError::None);
    EXPECT_GT(r.Jit.Value, 0.0L);  // a denormal
    EXPECT_LT(r.Jit.Value, std::numeric_limits<long double>::min());
    EXPECT_EQ(Calc("x*x", {"x"}, {1e-3000L}).Jit.Value, 0.0L);
}

TEST(Eval, RegistersAreFreeAfterAnError)
{
    // After a failure the next evaluation still has all eight registers.
    const Outcome bad = Calc("1/x", {"x"}, {0});
    ASSERT_EQ(bad.Jit.Error, FpError::DivisionByZero);
    for (int i = 0; i < 3; ++i) {
        const Outcome deep = Calc("1+(1+(1+(1+(1+(1+(1+1))))))");
        EXPECT_EQ(deep.Jit.Error, FpError::None);
        EXPECT_EQ(deep.Jit.Value, 8.0L);
    }
}

TEST(Eval, AgreesWithPlainLongDoubleArithmetic)
{
    // + - * / are single IEEE operations at 64-bit precision: the compiled
    // code and C++ long double must agree bit for bit.
    TFormula f;
    ASSERT_TRUE(CompileFormula(f, "(a+b)*c-a/d", {"a", "b", "c", "d"}));
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> mant(-1, 1);
    std::uniform_int_distribution<int> expo(-200, 200);
    for (int i = 0; i < 20000; ++i) {
        volatile long double a = std::ldexp(static_cast<long double>(mant(rng)) / 3, expo(rng));
        volatile long double b = std::ldexp(static_cast<long double>(mant(rng)) / 7, expo(rng));
        volatile long double c = std::ldexp(static_cast<long double>(mant(rng)) / 11, expo(rng));
        volatile long double d = std::ldexp(static_cast<long double>(mant(rng)) + 2, expo(rng));
        f.SetSlot(0, a);
        f.SetSlot(1, b);
        f.SetSlot(2, c);
        f.SetSlot(3, d);
        const long double expected = (a + b) * c - a / d;
        const TEvalResult r = Evaluate(f);
        ASSERT_EQ(r.Error, FpError::None);
        ASSERT_EQ(BitsText(Bits(r.Value)), BitsText(Bits(expected))) << i;
    }
}

#if defined(__x86_64__) && defined(__GNUC__)

std::uint16_t ControlWord()
{
    std::uint16_t cw;
    __asm__ volatile("fnstcw %0" : "=m"(cw));
    return cw;
}

void SetControlWord(std::uint16_t cw)
{
    __asm__ volatile("fnclex\n\tfldcw %0" : : "m"(cw));
}

TEST(Eval, RunsAtFullPrecisionWhateverTheHostControlWord)
{
    const std::uint16_t original = ControlWord();
    // Exceptions unmasked as in the original runtime, 53-bit precision, rounding up.
    const std::uint16_t host = (0x1332 & ~0x0F00) | 0x0200 | 0x0800 | 0x0040;  // bit 6 always reads as 1
    const Outcome reference = Calc("x/3", {"x"}, {1});

    SetControlWord(host);
    const Outcome third = Calc("x/3", {"x"}, {1});
    const Outcome failing = Calc("1/x", {"x"}, {0});  // must not trap
    const Outcome interpFailing = Calc("lnx", {"x"}, {-1});
    const std::uint16_t after = ControlWord();
    std::uint16_t status;
    __asm__ volatile("fnstsw %0" : "=m"(status));
    SetControlWord(original);

    EXPECT_EQ(after, host);
    EXPECT_EQ(status & 0x3F & ~host, 0) << "a flag would trap in host code";
    EXPECT_EQ(BitsText(Bits(third.Jit.Value)), BitsText(Bits(reference.Jit.Value)));
    EXPECT_EQ(BitsText(Bits(third.Interp.Value)), BitsText(Bits(reference.Jit.Value)));
    EXPECT_EQ(failing.Jit.Error, FpError::DivisionByZero);
    EXPECT_EQ(interpFailing.Interp.Error, FpError::InvalidOperation);
}

TEST(Eval, FlagsLeftByHostCodeAreNotTakenForAnError)
{
    // Host arithmetic with masked exceptions leaves sticky flags behind.
    __asm__ volatile("fldz\n\tfldz\n\tfdivrp\n\tfstp %%st(0)\n\tfld1\n\tfldz\n\tfdivrp\n\tfstp %%st(0)" : : : "st", "st(1)");
    std::uint16_t status;
    __asm__ volatile("fnstsw %0" : "=m"(status));
    ASSERT_EQ(status & 0x05, 0x05);
    const Outcome r = Calc("x*2", {"x"}, {21});
    EXPECT_EQ(r.Jit.Error, FpError::None);
    EXPECT_EQ(r.Jit.Value, 42.0L);
    __asm__ volatile("fnclex");
}

TEST(EvalRow, GivesEvaluatesBitsAndReadsTheHostWordBack)
{
    const std::uint16_t original = ControlWord();
    const std::uint16_t host = 0x027F;  // 53-bit precision, as on Windows x64
    TFormula third, root;
    ASSERT_TRUE(CompileFormula(third, "x/3", {"x"}));
    ASSERT_TRUE(CompileFormula(root, "x^0.5+sin(x)", {"x"}));
    third.SetSlot(0, 1);
    root.SetSlot(0, 2);
    const TEvalResult a = Evaluate(third), b = Evaluate(root);

    SetControlWord(host);
    long double ra, rb;
    bool ok;
    {
        TEvalRow row;
        ra = row.Run(third);
        rb = row.Run(root);
        ok = row.Ok();
    }
    const std::uint16_t after = ControlWord();
    SetControlWord(original);

    EXPECT_TRUE(ok);
    EXPECT_EQ(after, host);
    EXPECT_EQ(BitsText(Bits(ra)), BitsText(Bits(a.Value)));
    EXPECT_EQ(BitsText(Bits(rb)), BitsText(Bits(b.Value)));
}

TEST(EvalRow, AFailureStaysSeenWhateverRunsAfterItAndLeavesNoFlag)
{
    TFormula hidden, refused, interpreted, fine;
    ASSERT_TRUE(CompileFormula(hidden, "1/(x/0)", {"x"}));  // divides by zero, yet gives a finite 0
    ASSERT_FALSE(CompileFormula(refused, "x+", {"x"}));
    // As where code cannot run: the interpreter clears the flags when it begins.
    ASSERT_TRUE(CompileFormula(interpreted, "x*2", {"x"}));
    interpreted.Entry = nullptr;
    ASSERT_TRUE(CompileFormula(fine, "x+1", {"x"}));
    hidden.SetSlot(0, 5);
    interpreted.SetSlot(0, 3);
    fine.SetSlot(0, 1);
    bool before, after;
    {
        TEvalRow row;
        EXPECT_EQ(row.Run(hidden), 0.0L);
        before = row.Ok();
        row.Run(refused);
        row.Run(interpreted);
        row.Run(fine);
        after = row.Ok();
    }
    std::uint16_t status;
    __asm__ volatile("fnstsw %0" : "=m"(status));
    EXPECT_FALSE(before);
    EXPECT_FALSE(after);
    EXPECT_EQ(status & 0x0D, 0) << "an error flag outlived the row";
    EXPECT_EQ(Evaluate(fine).Value, 2.0L);

    TEvalRow clean;
    clean.Run(fine);
    clean.Run(refused);
    EXPECT_EQ(clean.Run(interpreted), 6.0L);
    EXPECT_TRUE(clean.Ok());
}

#endif

}  // namespace
