#include <gtest/gtest.h>

#include "formcomp/postfix.h"
#include "formcomp/recognizer.h"
#include "formula_gen.h"

namespace kovra {
namespace {

std::string Joined(const TokenList& tokens)
{
    std::string out;
    for (const std::string& t : tokens) out += (out.empty() ? "" : " ") + t;
    return out;
}

TEST(CharClass, BoundariesOfEachClass)
{
    struct Case {
        unsigned char b;
        CharClassKind k;
    };
    const Case cases[] = {
        {'(', CharClassKind::Sign},   {'}', CharClassKind::Sign},   {'^', CharClassKind::Sign},
        {'[', CharClassKind::Sign},   {'0', CharClassKind::Digit},  {'9', CharClassKind::Digit},
        {'A', CharClassKind::Letter}, {'z', CharClassKind::Letter}, {0xC0, CharClassKind::Letter},
        {0xFF, CharClassKind::Letter}, {'.', CharClassKind::Point}, {',', CharClassKind::Point},
        {'_', CharClassKind::Other},  {0xA8, CharClassKind::Other}, {0xB8, CharClassKind::Other},
        {0xBF, CharClassKind::Other}, {'\t', CharClassKind::Other}, {'@', CharClassKind::Other},
        {'`', CharClassKind::Other},  {0, CharClassKind::Other},    {'%', CharClassKind::Other},
    };
    for (const Case& c : cases) EXPECT_EQ(CharClass(c.b), c.k) << int(c.b);
}

TEST(TokenKind, LaterTestsOverrideEarlierOnes)
{
    struct Case {
        const char* token;
        TokenKindKind kind;
    };
    const Case cases[] = {
        {"x", TokenKindKind::Name},         {"sinus", TokenKindKind::Name},    {"", TokenKindKind::Name},
        {"sin", TokenKindKind::Function},   {"sich", TokenKindKind::Function}, {"abs", TokenKindKind::Function},
        {"mod", TokenKindKind::Operator},   {"^", TokenKindKind::Operator},    {"-", TokenKindKind::Operator},
        {"if", TokenKindKind::Bracket},     {"else", TokenKindKind::Bracket},  {"(", TokenKindKind::Bracket},
        {"}x", TokenKindKind::Bracket},     {"1", TokenKindKind::Number},      {"3.25", TokenKindKind::Number},
        {"1e5", TokenKindKind::Number},     {"1.5e-3", TokenKindKind::Number}, {"2.", TokenKindKind::Number},
        {".5", TokenKindKind::Number},      {"-1", TokenKindKind::Number},     {"+", TokenKindKind::Operator},
        {".", TokenKindKind::Name},         {"1e", TokenKindKind::Name},       {"e5", TokenKindKind::Name},
        {"1,5", TokenKindKind::Name},       {"2mod3", TokenKindKind::Name},    {"1.2.3", TokenKindKind::Name},
        {"inf", TokenKindKind::Name},       {"2x", TokenKindKind::Name},       {"1e+", TokenKindKind::Name},
    };
    for (const Case& c : cases) EXPECT_EQ(TokenKind(c.token), c.kind) << c.token;
}

TEST(ToPostfix, OrderOfEvaluation)
{
    struct Case {
        const char* prepared;
        const char* postfix;
    };
    const Case cases[] = {
        {"x-y+1", "x y - 1 +"},
        {"2^3^2", "2 3 ^ 2 ^"},  // left-associative, "^" too
        {"-x^2", "x 2 ^ sich"},
        {"-x*y", "x sich y *"},
        {"-x+y", "x sich y +"},
        {"(-x)", "x sich"},
        {"-(-x)", "x sich sich"},
        {"sin(x)+1", "x sin 1 +"},
        {"sinx^2", "x sin 2 ^"},
        {"2^sinx", "2 x sin ^"},
        {"-sin(x)", "x sin sich"},
        {"(x)mod(y)", "x y mod"},
        {"x1*256+x2", "x1 256 * x2 +"},
        {"(x1*256+x2)/4", "x1 256 * x2 + 4 /"},
        {"x+y*z", "x y z * +"},
        {"x*y-z", "x y * z -"},
        {"a/b*c", "a b / c *"},
        {"a-b-c", "a b - c -"},
        {"x^2*y", "x 2 ^ y *"},
        {"x+ymod2", "x ymod2 +"},
        {"3.25*x", "3.25 x *"},
        {"lnx", "x ln"},
        {"ln2", "2 ln"},
        {"x2y+2x", "x2y 2x +"},
        {"sinus", "us sin"},     // a function word is cut as soon as it is spelled
        {"exp(x)*ctgy", "x exp y ctg *"},
        {"amodb", "amodb"},      // and "mod" is not
        {"t_1", "t1"},           // "_" is skipped
        {"\xE0\xB8\xE1", "\xE0\xE1"},
        {"x.5", "x .5"},
        {"1.5.2", "1.5.2"},
    };
    for (const Case& c : cases) EXPECT_EQ(Joined(ToPostfix(c.prepared)), c.postfix) << c.prepared;
}

TEST(ToPostfix, UnbalancedBracketsNeverPopAnEmptyStack)
{
    struct Case {
        const char* prepared;
        const char* postfix;
    };
    const Case cases[] = {
        {")", ""}, {"x)", "x"}, {"x))+y", "x y +"}, {"a)b", "a b"}, {"(x", "x ("},
        {"}", ""}, {"(x}+1", "x ( 1 +"},  // "}" has the lowest priority: it empties the stack
        {"[x]", "x"}, {"{x}", "x {"}, {"if", "if"}, {"", ""}, {"_", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(Joined(ToPostfix(c.prepared)), c.postfix) << c.prepared;
}

TEST(PushToken, ClosingBracketStopsAtLowerPriority)
{
    TokenList out, stack{"(", "+"};
    PushToken(")", out, stack);
    EXPECT_EQ(Joined(out), "+");
    EXPECT_TRUE(stack.empty());
    PushToken(")", out, stack);  // nothing left to pop
    EXPECT_EQ(Joined(out), "+");
    stack = {"sin", "*"};
    PushToken("+", out, stack);
    EXPECT_EQ(Joined(out), "+ * sin");
    EXPECT_EQ(Joined(stack), "+");
}

TEST(ToPostfix, AnyTextGivesSomeListWithoutFault)
{
    testgen::Gen gen(77);
    for (int i = 0; i < testgen::Cases(3000); ++i) {
        std::string text = gen.Soup(12);
        for (int k = gen.Below(3); k > 0; --k) text.insert(text.begin() + gen.Below(int(text.size()) + 1), "[]{},)"[gen.Below(6)]);
        const TokenList out = ToPostfix(text);
        for (const std::string& t : out) EXPECT_FALSE(t.empty()) << text;
    }
}

}  // namespace
}  // namespace kovra
