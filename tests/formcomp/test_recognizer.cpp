#include <gtest/gtest.h>

#include "formcomp/recognizer.h"
#include "formula_gen.h"
#include "literal_earley.h"

namespace kovra {
namespace {

TEST(PrepareText, RemovesSpacesOnlyAndLowercasesCp1251)
{
    struct Case {
        const char* raw;
        const char* prepared;
    };
    const Case cases[] = {
        {"", ""},
        {"   ", ""},
        {" X1 * 256 + X2 ", "x1*256+x2"},
        {"a\tb", "a\tb"},                       // a tab is not a space
        {"SIN(X)", "sin(x)"},
        {"\xC0\xDF\xA8", "\xE0\xFF\xB8"},       // А Я Ё
        {"\xE0\xFF\xB8", "\xE0\xFF\xB8"},       // already lower
        {"\x80\xA1\xB2_[]", "\x80\xA1\xB2_[]"},  // other bytes untouched
    };
    for (const Case& c : cases) EXPECT_EQ(PrepareText(c.raw), c.prepared) << c.raw;
}

TEST(PrepareNames, LowercasesDropsEmptyKeepsOrderAndSpaces)
{
    EXPECT_EQ(PrepareNames({"X1", "", "\xCE\xE1", "a b", "x1"}),
              (std::vector<std::string>{"x1", "\xEE\xE1", "a b", "x1"}));
    EXPECT_TRUE(PrepareNames({"", ""}).empty());
}

struct AcceptCase {
    const char* text;  // as typed
    bool accepted;
};

// Both recognizers, over the text as the compiler prepares it.
void ExpectAccepted(const AcceptCase& c, const std::vector<std::string>& rawNames)
{
    const std::string text = PrepareText(c.text);
    const std::vector<std::string> names = PrepareNames(rawNames);
    EXPECT_EQ(Recognize(text, names), c.accepted) << "text: " << c.text;
    EXPECT_EQ(literal::Recognize(text, names), c.accepted) << "literal, text: " << c.text;
}

TEST(Recognize, LanguageWithNamesXY)
{
    const AcceptCase cases[] = {
        {"", false}, {"   ", false},
        {"0", true}, {"12", true}, {"3.25", true}, {"007", true},
        {"x", true}, {"-x", true}, {"(-x)", true}, {"x-y", true}, {"X", true},
        {"x^2^y", true}, {"(x)mod(y)", true}, {"xmody", true}, {"2mod3", true},
        {"sin(x)", true}, {"sinx", true}, {"sin2", true}, {"sin(-x)", true}, {"SIN(X)", true},
        {"sin(x)*cos(y)", true}, {"sinx^2", true}, {"abs(x)+ind(y)/ctg(x)-tg(y)^lgx", true},
        {"ln(exp(x))", true}, {"sin sin x", false}, {"sin(sinx)", true},
        {"2.", false}, {".5", false}, {"2,5", false}, {"1e5", false}, {"1.2.3", false},
        {"+x", false}, {"x*-y", false}, {"--x", false}, {"[x]", false}, {"-(-x)", true},
        {"sin-x", false}, {"sin", false}, {"x y", false}, {"xy", false},
        {"(x", false}, {"x)", false}, {"()", false}, {"x+", false}, {"mod", false},
        {"x mod y", true}, {"xmod", false}, {"modx", false}, {"((((x))))", true},
        {"sich(x)", false}, {"x\ty", false}, {"if", false},
    };
    for (const AcceptCase& c : cases) ExpectAccepted(c, {"x", "y"});
}

TEST(Recognize, NamesAreMatchedByteForByte)
{
    // The scanner may cut such names otherwise; the grammar takes them whole.
    ExpectAccepted({"t_1+1", true}, {"t_1"});
    ExpectAccepted({"t1", false}, {"t_1"});
    ExpectAccepted({"a.b*2", true}, {"a.b"});
    ExpectAccepted({"\xB8\xE6", true}, {"\xA8\xC6"});  // ёж configured as ЁЖ
    ExpectAccepted({"x y", true}, {"xy"});              // spaces go before matching
    ExpectAccepted({"xy", false}, {"x y"});             // and a name with one never matches
    ExpectAccepted({"sinus", true}, {"sinus"});
    ExpectAccepted({"sinus", true}, {"us"});
    ExpectAccepted({"1e5", true}, {"1e5"});
    ExpectAccepted({"mod", true}, {"mod"});
    ExpectAccepted({"modmodmod", true}, {"mod"});
    ExpectAccepted({"a)b+1", true}, {"a)b"});
    ExpectAccepted({"x", true}, {"", "x", ""});
    ExpectAccepted({"x+x", true}, {"x", "x"});
    ExpectAccepted({"\x01", true}, {"\x01"});
    ExpectAccepted({"", false}, {""});
}

TEST(Recognize, GrammarObjectAnswersAlikeAcrossCalls)
{
    // The working chart is kept between calls: long, short, rejected, long again.
    const FormulaGrammar g({"x", "y"});
    const char* texts[] = {"(x+1)*(y-2)/sin(3.5)^x", "x", "x+", "", "((x))mod(y)", "-x", "x)"};
    for (int round = 0; round < 2; ++round)
        for (const char* t : texts) EXPECT_EQ(g.Recognize(t), literal::Recognize(t, {"x", "y"})) << t;
}

// Every answer of the fast recognizer against the plain one, over derived
// formulas, derived ones with random edits, and random glue of the alphabet.
TEST(Recognize, AgreesWithPlainRecognizerOnRandomTexts)
{
    testgen::Gen gen(20240611);
    const int cases = testgen::Cases(5000);
    int accepted = 0;
    for (int i = 0; i < cases; ++i) {
        const std::vector<std::string> names = PrepareNames(gen.Names(false));
        std::string text;
        switch (i % 3) {
        case 0: text = gen.Formula(names); break;
        case 1: text = gen.Mutated(names); break;
        default: text = gen.Soup(8); break;
        }
        if (text.size() > 40) text.resize(40);
        const bool expected = literal::Recognize(text, names);
        accepted += expected;
        ASSERT_EQ(Recognize(text, names), expected) << "text: " << text << " names: " << names.size();
    }
    // The generator must keep both answers common, or the check proves little.
    EXPECT_GT(accepted, cases / 5);
    EXPECT_LT(accepted, cases * 4 / 5);
}

TEST(Recognize, LongFormulasStayLinearAndCorrect)
{
    std::string sum = "x";
    for (int i = 0; i < 2000; ++i) sum += "+x";
    EXPECT_TRUE(Recognize(sum, {"x"}));
    sum += "+";
    EXPECT_FALSE(Recognize(sum, {"x"}));
    const std::string nested = std::string(500, '(') + "x" + std::string(500, ')');
    EXPECT_TRUE(Recognize(nested, {"x"}));
    EXPECT_FALSE(Recognize(nested + ")", {"x"}));
}

}  // namespace
}  // namespace kovra
