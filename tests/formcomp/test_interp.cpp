// The interpreter against the generated code, on random formulas and values.
#include "formula_test_support.h"

#include "formcomp/interpreter.h"
#include "formula_gen.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <random>

using namespace kovra;
using namespace kovra::testing;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr int kDefaultFormulas = 20000;
#else
constexpr int kDefaultFormulas = 100000;
#endif

// KOVRA_CROSSCHECK_FORMULAS overrides the count (for a quick run or a long soak).
int FormulaCount()
{
    if (const char* env = std::getenv("KOVRA_CROSSCHECK_FORMULAS"))
        return std::max(1, std::atoi(env));
    return kDefaultFormulas;
}

const std::vector<std::string> kNames = {"x", "y", "z", "w1", "Q"};

class FormulaGenerator {
public:
    explicit FormulaGenerator(std::uint64_t seed, bool arithmeticOnly = false)
        : rng_(seed), arithmeticOnly_(arithmeticOnly)
    {
    }

    std::string Formula()
    {
        std::string s = Chance(6) ? "-" : "";
        return s + Expr(0);
    }

    long double Value()
    {
        std::uniform_real_distribution<double> unit(-1, 1);
        switch (rng_() % 12) {
        case 0: return Chance(2) ? 0.0L : -0.0L;
        case 1: return static_cast<long double>(static_cast<int>(rng_() % 21) - 10);
        case 2: return std::ldexp(static_cast<long double>(unit(rng_)), static_cast<int>(rng_() % 32760) - 16380);
        case 3: return std::ldexp(static_cast<long double>(unit(rng_)), -16440 + static_cast<int>(rng_() % 60));
        case 4: return std::ldexp(static_cast<long double>(1 + rng_() % 4), 62) * (Chance(2) ? 1 : -1);
        case 5:
            if (Chance(3))
                return std::numeric_limits<long double>::quiet_NaN();
            return Chance(2) ? std::numeric_limits<long double>::infinity()
                             : -std::numeric_limits<long double>::infinity();
        case 6: return static_cast<long double>(unit(rng_)) * 1e6L;
        case 7: return 0.5L * static_cast<long double>(static_cast<int>(rng_() % 9) - 4);
        default: return static_cast<long double>(unit(rng_)) * 4;
        }
    }

private:
    bool Chance(unsigned n) { return rng_() % n == 0; }

    std::string Expr(int depth)
    {
        // + - * / are single IEEE operations, which plain long double matches.
        static const std::vector<std::string> kArithmetic = {"+", "-", "*", "/"};
        static const std::vector<std::string> kOps = testgen::BinaryWords();
        std::string s = Operand(depth);
        const int extra = depth > 3 ? 0 : static_cast<int>(rng_() % 3);
        for (int i = 0; i < extra; ++i) {
            const std::vector<std::string>& ops = arithmeticOnly_ ? kArithmetic : kOps;
            s += ops[rng_() % ops.size()] + (Chance(10) ? " " : "") + Operand(depth);
        }
        return s;
    }

    std::string Operand(int depth)
    {
        static const std::vector<std::string> kFunctions = testgen::FunctionWords();
        std::string fn;
        if (Chance(4))
            fn = arithmeticOnly_ ? "abs" : kFunctions[rng_() % kFunctions.size()];
        return fn + Primary(depth, !fn.empty());
    }

    std::string Primary(int depth, bool afterFunction)
    {
        const unsigned pick = rng_() % 10;
        if (pick < 4 || depth > 4) {
            std::string n = kNames[rng_() % kNames.size()];
            if (Chance(8))
                n[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(n[0])));
            // A name directly after a function word reads as the function applied to it.
            return n;
        }
        if (pick < 7) {
            std::string n = std::to_string(rng_() % (Chance(3) ? 100000 : 10));
            if (Chance(3))
                n += "." + std::to_string(rng_() % 1000);
            return n;
        }
        (void)afterFunction;
        return "(" + std::string(Chance(4) ? "-" : "") + Expr(depth + 1) + ")";
    }

    std::mt19937_64 rng_;
    bool arithmeticOnly_;
};

bool SameOutcome(const TEvalResult& a, const TEvalResult& b)
{
    return a.Error == b.Error && (a.Error != FpError::None || Bits(a.Value) == Bits(b.Value));
}

std::string Describe(const TFormula& f, const std::string& text, const TEvalResult& jit, const TEvalResult& interp)
{
    std::string s = text + "  slots:";
    for (std::size_t i = 0; i < f.SlotCount(); ++i)
        s += " " + BitsText(ReadExtended(f.slots_.data() + kExtendedSize * i));
    s += "\n  code:   " + std::string(FpErrorMessage(jit.Error)) + " " + BitsText(Bits(jit.Value));
    s += "\n  interp: " + std::string(FpErrorMessage(interp.Error)) + " " + BitsText(Bits(interp.Value));
    return s;
}

TEST(Interpreter, AgreesWithGeneratedCodeOnRandomFormulas)
{
    if (!InterpreterUsesX87())
        GTEST_SKIP() << "no x87 on this host";
    FormulaGenerator gen(0x6B6F767261ull);
    const int wanted = FormulaCount();
    int accepted = 0, failures = 0, errors = 0;
    TFormula f;
    while (accepted < wanted) {
        const std::string text = gen.Formula();
        if (!CompileFormula(f, text, kNames)) {
            ASSERT_EQ(f.RefuseReason.rfind("stack depth", 0), 0u) << text << ": " << f.RefuseReason;
            continue;
        }
        ++accepted;
        for (std::size_t i = 0; i < kNames.size(); ++i)
            f.SetSlot(i, gen.Value());
        const TEvalResult jit = Evaluate(f);
        const TEvalResult interp = Interpret(f);
        errors += jit.Error != FpError::None;
        if (!SameOutcome(jit, interp)) {
            ADD_FAILURE() << Describe(f, text, jit, interp);
            if (++failures == 10)
                return;
        }
    }
    // The values are chosen so that both outcomes are common.
    EXPECT_GT(errors, wanted / 20);
    EXPECT_LT(errors, wanted / 2);
}

TEST(Interpreter, PortableVersionMatchesOnArithmetic)
{
    // + - * / and abs are single IEEE operations: plain long double agrees
    // bit for bit where it is the x87 format, and always in its errors.
    FormulaGenerator gen(99, true);
    TFormula f;
    int accepted = 0;
    while (accepted < 5000) {
        const std::string text = gen.Formula();
        if (!CompileFormula(f, text, kNames))
            continue;
        ++accepted;
        for (std::size_t i = 0; i < kNames.size(); ++i)
            f.SetSlot(i, gen.Value());
        const TEvalResult x87 = Interpret(f);
        const TEvalResult portable = InterpretPortable(f);
        ASSERT_EQ(x87.Error, portable.Error) << Describe(f, text, x87, portable);
        if (std::numeric_limits<long double>::digits == 64 && x87.Error == FpError::None) {
            ASSERT_EQ(Bits(x87.Value), Bits(portable.Value)) << Describe(f, text, x87, portable);
        }
    }
}

TEST(Interpreter, PortableVersionFollowsTheSameRules)
{
    struct Case {
        const char* Text;
        std::vector<long double> Values;
        FpError Error;
        long double Value;
    } cases[] = {
        {"x^y", {2, 10}, FpError::None, 1024},
        {"x^y", {-2, 3}, FpError::None, -8},
        {"x^y", {4, 0.5}, FpError::None, 2},
        {"x^y", {0, 2}, FpError::None, 0},
        {"x^y", {-8, 1.0L / 3}, FpError::InvalidOperation, 0},
        {"x^y", {0, 0}, FpError::InvalidOperation, 0},
        {"x^y", {0, -1}, FpError::DivisionByZero, 0},
        {"x^y", {2, 1e10L}, FpError::InvalidOperation, 0},
        {"(x)mod(y)", {-7, 3}, FpError::None, -1},
        {"(x)mod(y)", {1, 0}, FpError::InvalidOperation, 0},
        {"indx", {-0.5}, FpError::None, 0},
        {"indx", {0}, FpError::None, 1},
        {"sinx", {9223372036854775808.0L}, FpError::None, 0},
        {"ctgx", {0}, FpError::DivisionByZero, 0},
        {"lnx", {-1}, FpError::InvalidOperation, 0},
        {"lgx", {0}, FpError::DivisionByZero, 0},
        {"expx", {11357}, FpError::Overflow, 0},
        {"expx", {1e4932L}, FpError::Overflow, 0},
        {"1/x", {0}, FpError::DivisionByZero, 0},
    };
    for (const Case& c : cases) {
        TFormula f;
        ASSERT_TRUE(CompileFormula(f, c.Text, {"x", "y"}));
        for (std::size_t i = 0; i < c.Values.size(); ++i)
            f.SetSlot(i, c.Values[i]);
        const TEvalResult r = InterpretPortable(f);
        EXPECT_EQ(r.Error, c.Error) << c.Text;
        if (c.Error == FpError::None) {
            EXPECT_NEAR(static_cast<double>(r.Value), static_cast<double>(c.Value), 1e-15) << c.Text;
        }
    }
}

}  // namespace
