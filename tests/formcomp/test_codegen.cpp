// The bytes the compiler emits, and what it refuses.
#include "formula_test_support.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace kovra;
using namespace kovra::testing;

namespace {

struct CodeCase {
    const char* Text;
    std::vector<std::string> Names;
    const char* Body;  // code after the prologue
};

class EmittedCode : public ::testing::TestWithParam<CodeCase> {};

TEST_P(EmittedCode, MatchesTemplates)
{
    const CodeCase& c = GetParam();
    TFormula f;
    ASSERT_TRUE(CompileFormula(f, c.Text, c.Names)) << f.RefuseReason;
    EXPECT_EQ(Body(f), c.Body);
}

// The templates are those of the 32-bit original; only "^" (64-bit stack
// adjustment, so two jumps grow by one) and tg/ctg (C2 test) differ. Written
// out here rather than read from the operator table: they are the reference
// the table's rows are checked against.
INSTANTIATE_TEST_SUITE_P(
    Formulas, EmittedCode,
    ::testing::Values(
        CodeCase{"0", {}, "DB 69 00 C3"},
        CodeCase{"x+2.5", {"x", "y"}, "DB 69 00 DB 69 14 DE C1 C3"},
        CodeCase{"(x1*256+x2)/4", {"x1", "x2"}, "DB 69 00 DB 69 14 DE C9 DB 69 0A DE C1 DB 69 1E DE F9 C3"},
        CodeCase{"x-y", {"x", "y"}, "DB 69 00 DB 69 0A DE E9 C3"},
        CodeCase{"(x)mod(y)", {"x", "y"}, "DB 69 00 DB 69 0A D9 C9 D9 F8 D9 C9 DD C0 D9 F7 C3"},
        CodeCase{"-x", {"x"}, "DB 69 00 D9 E0 C3"},
        CodeCase{"absx", {"x"}, "DB 69 00 D9 E1 C3"},
        CodeCase{"sinx", {"x"}, "DB 69 00 D9 FE DF E0 9E 7B 04 DD D8 D9 EE C3"},
        CodeCase{"cosx", {"x"}, "DB 69 00 D9 FF DF E0 9E 7B 04 DD D8 D9 EE C3"},
        CodeCase{"tgx", {"x"}, "DB 69 00 D9 F2 DF E0 9E 7B 06 DD D8 D9 EE EB 02 DD D8 9B C3"},
        CodeCase{"ctgx", {"x"}, "DB 69 00 D9 F2 DF E0 9E 7B 06 DD D8 D9 EE EB 02 DE F1 9B C3"},
        CodeCase{"lnx", {"x"}, "DB 69 00 D9 ED D9 C9 D9 F1 C3"},
        CodeCase{"lgx", {"x"}, "DB 69 00 D9 EC D9 C9 D9 F1 C3"},
        CodeCase{"expx", {"x"},
                 "DB 69 00 D9 EA DE C9 D9 C0 D9 FC D9 C9 D8 E1 D9 F0 D9 E8 DE C1 D9 FD DD D9 C3"},
        CodeCase{"indx", {"x"}, "DB 69 00 D9 EE DE D9 9B DF E0 9E 77 04 D9 E8 EB 02 D9 EE C3"},
        CodeCase{"x^y", {"x", "y"},
                 "DB 69 00 DB 69 0A "
                 "D9 C9 D9 E4 9B DF E0 9E D9 C9 75 0E D9 EE D8 D9 9B DF E0 9E 73 10 DD D8 EB 5B D9 C0 D9 FC "
                 "D8 D9 9B DF E0 9E 74 1A D9 C9 D9 F1 D9 C0 D9 FC D9 C9 D8 E1 D9 F0 D9 E8 DE C1 D9 FD D9 C9 "
                 "DD D8 EB 35 53 48 83 EC 08 DB 1C 24 9B 58 89 C3 99 D9 E8 31 D0 29 D0 74 1B D9 C9 EB 02 D8 "
                 "C8 D1 E8 73 FA DC C9 75 F6 DD D8 83 FB 00 7D 0A D9 E8 DE F1 EB 04 D9 C9 DD D8 5B 9B C3"},
        // The name is matched whatever its case; empty names keep their place.
        CodeCase{"X", {"", "x"}, "DB 69 0A C3"},
        // A name listed twice is read from its later slot.
        CodeCase{"x", {"x", "y", "X"}, "DB 69 14 C3"}));

TEST(Codegen, PrologueHoldsTheSlotAddress)
{
    TFormula f;
    ASSERT_TRUE(CompileFormula(f, "x+1", {"x"}));
    const auto& code = f.Code.bytes();
    ASSERT_GE(code.size(), kPrologueSize);
    EXPECT_EQ(code[0], 0x48);
    EXPECT_EQ(code[1], 0xB9);
    std::uint64_t address = 0;
    for (int i = 7; i >= 0; --i)
        address = (address << 8) | code[2 + i];
    EXPECT_EQ(address, reinterpret_cast<std::uintptr_t>(f.SlotBase()));
    EXPECT_EQ(f.Slot(1), 1.0L);  // the literal, written at compile time
}

TEST(Codegen, SlotsFromThirteenOnUseTheLongLoad)
{
    // Fourteen literals and no variables: 0 to 12 fit a signed byte (up to 120).
    TFormula f;
    ASSERT_TRUE(CompileFormula(f, "0+1+2+3+4+5+6+7+8+9+10+11+12+13", {}));
    const std::string body = Body(f);
    EXPECT_NE(body.find("DB 69 78 DE C1"), std::string::npos) << body;  // slot 12
    EXPECT_NE(body.find("DB A9 82 00 00 00 DE C1 C3"), std::string::npos) << body;  // slot 13
    EXPECT_EQ(f.SlotCount(), 14u);
    EXPECT_EQ(f.Slot(13), 13.0L);
}

TEST(Codegen, StackCheckAllowsEightRegistersAndNoMore)
{
    TFormula eight;
    EXPECT_TRUE(CompileFormula(eight, "1+(1+(1+(1+(1+(1+(1+1))))))", {}));
    EXPECT_EQ(Evaluate(eight).Value, 8.0L);

    TFormula nine;
    EXPECT_FALSE(CompileFormula(nine, "1+(1+(1+(1+(1+(1+(1+(1+1)))))))", {}));
    EXPECT_EQ(Hex(nine.Code.data(), nine.Code.size()), "D9 EE C3");
    EXPECT_EQ(nine.RefuseReason.rfind("stack depth", 0), 0u) << nine.RefuseReason;

    // exp needs two registers of its own, ln one.
    TFormula expOk, expTooDeep, lnOk, lnTooDeep;
    EXPECT_TRUE(CompileFormula(expOk, "1+(1+(1+(1+(1+exp1))))", {}));
    EXPECT_FALSE(CompileFormula(expTooDeep, "1+(1+(1+(1+(1+(1+exp1)))))", {}));
    EXPECT_TRUE(CompileFormula(lnOk, "1+(1+(1+(1+(1+(1+ln1)))))", {}));
    EXPECT_FALSE(CompileFormula(lnTooDeep, "1+(1+(1+(1+(1+(1+(1+ln1))))))", {}));
}

TEST(Codegen, RefusedFormulasReturnZero)
{
    struct Case {
        const char* Text;
        std::vector<std::string> Names;
        const char* Reason;
    } cases[] = {
        {"", {}, "grammar"},
        {"x+", {"x"}, "grammar"},
        {"y", {"x"}, "grammar"},
        {"2.", {}, "grammar"},
        {"1e5", {}, "grammar"},
        {"1+(1+(1+(1+(1+(1+(1+(1+1)))))))", {}, "stack depth"},
    };
    for (const Case& c : cases) {
        TFormula f;
        EXPECT_FALSE(CompileFormula(f, c.Text, c.Names)) << c.Text;
        EXPECT_FALSE(f.Accepted);
        EXPECT_EQ(f.RefuseReason.rfind(c.Reason, 0), 0u) << c.Text << ": " << f.RefuseReason;
        EXPECT_EQ(Hex(f.Code.data(), f.Code.size()), "D9 EE C3") << c.Text;
        EXPECT_TRUE(f.Ops.empty());
        EXPECT_EQ(f.SlotCount(), c.Names.size());  // the caller still writes its variables
        for (int i = 0; i < 2; ++i) {
            const TEvalResult r = Evaluate(f);
            EXPECT_EQ(r.Error, FpError::None);
            EXPECT_EQ(Bits(r.Value), Bits(0.0L)) << c.Text;
        }
    }
}

TEST(Codegen, SlotTableGrowsWithTheFormula)
{
    // More variables and literals than the 30 slots of the original layout.
    std::vector<std::string> names;
    std::string text;
    for (int i = 0; i < 40; ++i) {
        names.push_back("v" + std::to_string(i));
        text += names.back() + "+";
    }
    for (int i = 0; i < 10; ++i)
        text += std::to_string(i + 1) + (i < 9 ? "+" : "");
    TFormula f;
    ASSERT_TRUE(CompileFormula(f, text, names)) << f.RefuseReason;
    EXPECT_EQ(f.SlotCount(), 50u);
    EXPECT_EQ(f.VarSlots, 40u);
    for (int i = 0; i < 40; ++i)
        f.SetSlot(i, i);
    const TEvalResult r = Evaluate(f);
    EXPECT_EQ(r.Error, FpError::None);
    EXPECT_EQ(r.Value, 780.0L + 55.0L);
}

TEST(Codegen, OddNamesAreReadAsTheGrammarMatchedThem)
{
    struct Case {
        const char* Text;
        std::vector<std::string> Names;
        std::vector<long double> Values;
        long double Expected;
    } cases[] = {
        {"t_1*2", {"t_1"}, {3}, 6},
        {"sinus+1", {"sinus"}, {4}, 5},
        {"1+mod", {"mod"}, {2}, 3},
        {"1e5*2", {"1e5"}, {7}, 14},
        {"(a)mod(b)", {"a", "b"}, {7, 3}, 1},
    };
    for (const Case& c : cases) {
        TFormula f;
        ASSERT_TRUE(CompileFormula(f, c.Text, c.Names)) << c.Text << ": " << f.RefuseReason;
        for (std::size_t i = 0; i < c.Values.size(); ++i)
            f.SetSlot(i, c.Values[i]);
        const TEvalResult r = Evaluate(f);
        EXPECT_EQ(r.Error, FpError::None) << c.Text;
        EXPECT_EQ(r.Value, c.Expected) << c.Text;
    }
}

TEST(Codegen, RecompilingARecordReplacesItsCode)
{
    TFormula f;
    ASSERT_TRUE(CompileFormula(f, "x*2", {"x"}));
    f.SetSlot(0, 4);
    EXPECT_EQ(Evaluate(f).Value, 8.0L);
    ASSERT_TRUE(CompileFormula(f, "x+y+100", {"x", "y"}));
    f.SetSlot(0, 1);
    f.SetSlot(1, 2);
    EXPECT_EQ(Evaluate(f).Value, 103.0L);
    EXPECT_FALSE(CompileFormula(f, "x+", {"x"}));
    EXPECT_EQ(Evaluate(f).Value, 0.0L);
}

TEST(Codegen, NeverCompiledRecordEvaluatesToZero)
{
    TFormula f;
    const TEvalResult r = Evaluate(f);
    EXPECT_EQ(r.Error, FpError::None);
    EXPECT_EQ(r.Value, 0.0L);
}

}  // namespace
