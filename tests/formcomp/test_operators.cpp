// The operator table, and every stage that is built from it.
#include "formula_test_support.h"

#include "formcomp/interpreter.h"
#include "formcomp/operators.h"
#include "formcomp/postfix.h"
#include "formcomp/recognizer.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace kovra;
using namespace kovra::testing;

namespace {

// The language's own tables of priorities and of the stack check, written out
// by hand and not read from the table: a row edited by mistake shows here.
TEST(OperatorTable, RowsAreTheLanguagesOperators)
{
    struct Row {
        const char* Word;
        TokenKindKind Kind;
        int Priority;
        int Need;
        int Effect;
    };
    const Row rows[] = {
        {"+", TokenKindKind::Operator, 2, 0, -1},    {"-", TokenKindKind::Operator, 2, 0, -1},
        {"*", TokenKindKind::Operator, 3, 0, -1},    {"/", TokenKindKind::Operator, 3, 0, -1},
        {"mod", TokenKindKind::Operator, 3, 0, -1},  {"^", TokenKindKind::Operator, 4, 2, -1},
        {"sich", TokenKindKind::Function, 3, 0, 0},  {"abs", TokenKindKind::Function, 5, 0, 0},
        {"sin", TokenKindKind::Function, 5, 0, 0},   {"cos", TokenKindKind::Function, 5, 0, 0},
        {"tg", TokenKindKind::Function, 5, 1, 0},    {"ctg", TokenKindKind::Function, 5, 1, 0},
        {"ind", TokenKindKind::Function, 5, 1, 0},   {"ln", TokenKindKind::Function, 5, 1, 0},
        {"lg", TokenKindKind::Function, 5, 1, 0},    {"exp", TokenKindKind::Function, 5, 2, 0},
    };
    ASSERT_EQ(std::size(rows), kOperatorCount);
    for (const Row& r : rows) {
        const TOperator* o = FindOperator(r.Word);
        ASSERT_NE(o, nullptr) << r.Word;
        EXPECT_EQ(o->Kind, r.Kind) << r.Word;
        EXPECT_EQ(o->Priority, r.Priority) << r.Word;
        EXPECT_EQ(o->Need, r.Need) << r.Word;
        EXPECT_EQ(o->Effect(), r.Effect) << r.Word;
        EXPECT_EQ(o->InGrammar, std::string_view(r.Word) != "sich") << r.Word;
    }
    for (const char* other : {"", "x", "si", "sinx", "mo", "modx", "(", ")", "if", "then", "else", "\xE0"})
        EXPECT_EQ(FindOperator(other), nullptr) << other;
}

// Each row reaches the grammar, both scanners, the operator stack and the
// code generator as the row says.
TEST(OperatorTable, EveryStageKnowsEveryRow)
{
    const std::vector<std::string> names = {"x", "y"};
    for (const TOperator& o : kOperators) {
        const std::string w(o.Word);
        EXPECT_EQ(TokenKind(w), o.Kind) << w;
        EXPECT_EQ(Priority(w), o.Priority) << w;
        std::string text;
        TokenList postfix;
        if (o.Kind == TokenKindKind::Operator) {
            text = "(x)" + w + "(y)";
            postfix = {"x", "y", w};
        } else if (o.InGrammar) {
            text = w + "(x)";
            postfix = {"x", w};
            EXPECT_TRUE(Recognize(w + "x", names)) << w;  // without brackets too
        } else {
            EXPECT_FALSE(Recognize(w + "(x)", names)) << w;  // the unary minus is only written as "-"
            text = "-x";
            postfix = {"x", w};
        }
        EXPECT_TRUE(Recognize(text, names)) << text;
        EXPECT_EQ(ToPostfix(text), postfix) << text;
        EXPECT_EQ(ToPostfixWithNames(text, names), postfix) << text;
        EXPECT_EQ(ToPostfixTokens(text, names).back(), (PostfixToken{w, o.Kind})) << text;

        TFormula f;
        ASSERT_TRUE(CompileFormula(f, text, names)) << text << ": " << f.RefuseReason;
        std::string loads = o.Arity == 2 ? "DB 69 00 DB 69 0A" : "DB 69 00";
        EXPECT_EQ(Body(f), loads + " " + Hex(o.Template.data(), o.Template.size()) + " C3") << text;
        ASSERT_EQ(f.Ops.size(), static_cast<std::size_t>(o.Arity) + 1);
        EXPECT_EQ(&OperatorOf(f.Ops.back().Code), &o) << text;
    }
}

std::string Nested(int pending, const std::string& inner)
{
    std::string s;
    for (int i = 0; i < pending; ++i) s += "1+(";
    s += inner;
    for (int i = 0; i < pending; ++i) s += ")";
    return s;
}

// With as many values pending below it as its need allows, every operation
// compiles and runs in the generated code without overflowing the eight x87
// registers (which the code would show as an invalid operation), and both
// interpreters reach its step; one more value pending is refused.
TEST(OperatorTable, StackNeedsHoldInTheGeneratedCode)
{
    struct Operands {
        const char* A;
        const char* B;
    };
    // "^" takes its general path, its integer path, and a zero base.
    const Operands operands[] = {{"1.5", "0.5"}, {"2", "3"}, {"0", "2"}, {"0.25", "7"}};
    for (const TOperator& o : kOperators) {
        for (const Operands& v : operands) {
            if (o.Arity == 1 && std::string_view(v.A) == "0") continue;  // ln 0 and ctg 0 fail, rightly
            const std::string w(o.Word);
            std::string inner;
            int limit = 0;  // values pending below the operation
            if (o.Kind == TokenKindKind::Operator) {
                inner = "(" + std::string(v.A) + ")" + w + "(" + v.B + ")";
                limit = 8 - 2 - o.Need;
            } else {
                inner = o.InGrammar ? w + "(" + v.A + ")" : "(-" + std::string(v.A) + ")";
                limit = 8 - 1 - o.Need;
            }
            const std::string deepest = Nested(limit, inner);
            TFormula f;
            ASSERT_TRUE(CompileFormula(f, deepest, {})) << deepest << ": " << f.RefuseReason;
            long double value = 0;
            bool ok = false;
            {
                TEvalRow row;
                value = row.Run(f);
                ok = row.Ok();
            }
            EXPECT_TRUE(ok) << deepest;
            const TEvalResult interpreted = Interpret(f);
            EXPECT_EQ(interpreted.Error, FpError::None) << deepest;
            if (ok && InterpreterUsesX87()) {
                EXPECT_EQ(BitsText(Bits(value)), BitsText(Bits(interpreted.Value))) << deepest;
            }
            const TEvalResult portable = InterpretPortable(f);
            EXPECT_EQ(portable.Error, FpError::None) << deepest;
            EXPECT_NEAR(static_cast<double>(portable.Value), static_cast<double>(interpreted.Value), 1e-12) << deepest;

            TFormula tooDeep;
            EXPECT_FALSE(CompileFormula(tooDeep, Nested(limit + 1, inner), {})) << w;
            EXPECT_EQ(tooDeep.RefuseReason.rfind("stack depth", 0), 0u) << w << ": " << tooDeep.RefuseReason;
        }
    }
}

// A step of an operation the table does not hold is refused by both
// interpreters instead of being read past the end of their step lists.
TEST(OperatorTable, InterpretersRefuseAStepOutsideTheTable)
{
    TFormula f;
    ASSERT_TRUE(CompileFormula(f, "x+1", {"x"}));
    f.Ops[2].Code = static_cast<OpCode>(kOperatorCount + 1);
    EXPECT_EQ(Interpret(f).Error, FpError::InvalidOperation);
    EXPECT_EQ(InterpretPortable(f).Error, FpError::InvalidOperation);
}

}  // namespace
