// The scanner that follows the grammar's reading of the names.
#include <gtest/gtest.h>

#include <algorithm>

#include "formcomp/operators.h"
#include "formcomp/postfix.h"
#include "formcomp/recognizer.h"
#include "formcomp/scanner.h"
#include "formula_gen.h"

namespace kovra {
namespace {

// "x:n 2:# +:o sin:f" — each token with its kind.
std::string Typed(const PostfixList& tokens)
{
    std::string out;
    for (const PostfixToken& t : tokens) {
        const char* kind = "nfob#";
        out += (out.empty() ? "" : " ") + t.Text + ":" + kind[static_cast<int>(t.Kind)];
    }
    return out;
}

struct NamesCase {
    const char* text;  // as typed
    std::vector<std::string> names;
    const char* postfix;  // typed, as above
    const char* why;      // a part of the mismatch explanation; "" when the scanners agree
};

TEST(ToPostfixTokens, NamesTheScannerCutsOtherwiseAreTakenWhole)
{
    const NamesCase cases[] = {
        // ordinary: exactly the class scanner's reading
        {"(x1*256+x2)/4", {"x1", "x2"}, "x1:n 256:# *:o x2:n +:o 4:# /:o", ""},
        {"-sin(x)^2", {"x"}, "x:n sin:f 2:# ^:o sich:f", ""},
        {"lnx", {"x"}, "x:n ln:f", ""},
        {"(x)mod(y)", {"x", "y"}, "x:n y:n mod:o", ""},
        {"xmod+1", {"xmod"}, "xmod:n 1:# +:o", ""},
        // other characters in a name
        {"t_1+1", {"t_1", "t1"}, "t_1:n 1:# +:o", "name t_1 contains '_', which the scanner skips"},
        {"\xB8\xE6*2", {"\xB8\xE6"}, "\xB8\xE6:n 2:# *:o", "contains '\xB8', which the scanner skips"},
        {"a.b-1", {"a.b"}, "a.b:n 1:# -:o", "contains '.', at which the scanner splits"},
        {"a)b*2", {"a)b"}, "a)b:n 2:# *:o", "contains ')', at which the scanner splits"},
        {"x\ty", {"x\ty"}, "x\ty:n", "contains '\\x09', which the scanner skips"},
        // names beginning with a function word
        {"sinus*2", {"sinus"}, "sinus:n 2:# *:o", "begins with the function word sin, which the scanner cuts off"},
        {"expo+1", {"expo"}, "expo:n 1:# +:o", "begins with the function word exp"},
        {"index", {"index", "ex"}, "index:n", "more than one way"},
        {"lnx", {"lnx", "x"}, "lnx:n", "begins with the function word ln"},
        {"ln(x)+lnx", {"lnx", "x"}, "x:n ln:f lnx:n +:o", "begins with the function word ln"},
        {"sin", {"sin"}, "sin:n", "is the function word sin"},
        {"sich", {"sich"}, "sich:n", "is the function word sich"},
        // "mod" between letters or digits
        {"amodb", {"a", "b"}, "a:n b:n mod:o", "'mod' in amodb stands between letters or digits"},
        {"2mod3", {}, "2:# 3:# mod:o", "'mod' in 2mod3"},
        {"x1mod(y)", {"x1", "y"}, "x1:n y:n mod:o", "'mod' in x1mod"},
        // names that read as numbers or words
        {"1+x", {"1", "x"}, "1:n x:n +:o", "name 1 reads as a number"},
        {"12+1", {"1"}, "12:# 1:n +:o", "name 1 reads as a number"},
        {"1.5", {"1"}, "1.5:#", ""},
        {"1e5*2", {"1e5"}, "1e5:n 2:# *:o", "reads as a number"},
        {"mod*2", {"mod"}, "mod:n 2:# *:o", "is the operator word mod"},
        {"modmodmod", {"mod"}, "mod:n mod:n mod:o", "is the operator word mod"},
        {"if+1", {"if"}, "if:n 1:# +:o", "name if reads as the word if"},
        // overlapping readings: names first, the longest first
        {"sinx", {"sinx", "x"}, "sinx:n", "more than one way"},
        {"amodmodb", {"a", "amod", "modb", "b"}, "amod:n b:n mod:o", "more than one way"},
        {"-x", {"-x", "x"}, "-x:n", "contains '-'"},
        {"-x+1", {"-x", "x"}, "-x:n 1:# +:o", "contains '-'"},
    };
    for (const NamesCase& c : cases) {
        const std::string text = PrepareText(c.text);
        const std::vector<std::string> names = PrepareNames(c.names);
        ASSERT_TRUE(Recognize(text, names)) << c.text;
        EXPECT_EQ(Typed(ToPostfixTokens(text, names)), c.postfix) << c.text;
        const std::string why = ExplainScannerMismatch(text, names);
        if (*c.why == 0)
            EXPECT_EQ(why, "") << c.text;
        else
            EXPECT_NE(why.find(c.why), std::string::npos) << c.text << " -> " << why;
    }
}

TEST(ToPostfixTokens, RejectedTextGivesNothing)
{
    for (const char* text : {"", "x+", "sin", "(x", "x)", "1e5", "t1", "--x"}) {
        EXPECT_TRUE(ToPostfixTokens(text, {"x", "t_1"}).empty()) << text;
        EXPECT_EQ(ExplainScannerMismatch(text, {"x", "t_1"}), "") << text;
    }
}

TEST(ToPostfixWithNames, GivesTheTextsOfTheTypedList)
{
    EXPECT_EQ(ToPostfixWithNames("t_1*2", {"t_1"}), (TokenList{"t_1", "2", "*"}));
    EXPECT_TRUE(IsAmbiguous("sinx", {"sinx", "x"}));
    EXPECT_FALSE(IsAmbiguous("sinx", {"x"}));
}

bool Ordinary(const std::string& name)
{
    if (name.find("mod") != std::string::npos || TokenKind(name) != TokenKindKind::Name) return false;
    for (const TOperator* o : kFunctionWords)
        if (name.starts_with(o->Word)) return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        const CharClassKind k = CharClass(static_cast<unsigned char>(c));
        return k == CharClassKind::Letter || k == CharClassKind::Digit;
    });
}

// With ordinary names and "mod" only between brackets, the grammar's reading
// is the class scanner's, token for token and kind for kind.
TEST(ToPostfixTokens, OrdinaryFormulasReadAsTheClassScannerReadsThem)
{
    testgen::Gen gen(4242);
    int checked = 0;
    const int cases = testgen::Cases(2500);
    for (int i = 0; i < cases; ++i) {
        std::vector<std::string> names = PrepareNames(gen.Names(true));
        std::erase_if(names, [](const std::string& n) { return !Ordinary(n); });
        std::string text = gen.Formula(names);
        for (std::size_t at = text.find("mod"); at != std::string::npos; at = text.find("mod", at + 5))
            text.replace(at, 3, ")mod(");
        text = "(" + text + ")";
        if (!Recognize(text, names)) continue;  // the bracket fix-up can break a leading minus
        ++checked;
        const PostfixList typed = ToPostfixTokens(text, names);
        const TokenList plain = ToPostfix(text);
        ASSERT_EQ(typed.size(), plain.size()) << text;
        for (std::size_t k = 0; k < typed.size(); ++k) {
            EXPECT_EQ(typed[k].Text, plain[k]) << text;
            EXPECT_EQ(typed[k].Kind, TokenKind(plain[k])) << text;
        }
        EXPECT_EQ(ExplainScannerMismatch(text, names), "") << text;
    }
    EXPECT_GT(checked, cases / 2);
}

// Over odd names too: the reading exists exactly when the grammar accepts,
// every name token is a configured name, and the list is a well-formed
// postfix expression (every operator finds its operands, one value is left).
TEST(ToPostfixTokens, ReadsEveryAcceptedTextIntoAWellFormedList)
{
    testgen::Gen gen(99);
    int accepted = 0;
    const int cases = testgen::Cases(5000);
    for (int i = 0; i < cases; ++i) {
        const std::vector<std::string> names = PrepareNames(gen.Names(false));
        std::string text = (i % 2) ? gen.Formula(names) : gen.Mutated(names);
        if (text.size() > 60) text.resize(60);
        const bool recognized = Recognize(text, names);
        const PostfixList postfix = ToPostfixTokens(text, names);
        ASSERT_EQ(!postfix.empty(), recognized) << text;
        // The search and the counting walk choose the same reading.
        int readings = 0;
        const scan::SpannedList searched = scan::ScanByGrammar(text, names);
        const scan::SpannedList counted = scan::ScanByGrammar(text, names, &readings);
        EXPECT_EQ(readings > 0, recognized) << text;
        ASSERT_EQ(searched.size(), counted.size()) << text;
        for (std::size_t k = 0; k < searched.size(); ++k) {
            EXPECT_EQ(searched[k].Text, counted[k].Text) << text;
            EXPECT_EQ(searched[k].Begin, counted[k].Begin) << text;
            EXPECT_EQ(searched[k].Kind, counted[k].Kind) << text;
        }
        if (!recognized) continue;
        ++accepted;
        int depth = 0;
        for (const PostfixToken& t : postfix) {
            switch (t.Kind) {
            case TokenKindKind::Name:
                EXPECT_NE(std::find(names.begin(), names.end(), t.Text), names.end()) << text << " / " << t.Text;
                ++depth;
                break;
            case TokenKindKind::Number:
                EXPECT_EQ(TokenKind(t.Text), TokenKindKind::Number) << text;
                ++depth;
                break;
            case TokenKindKind::Function:
                EXPECT_EQ(TokenKind(t.Text), TokenKindKind::Function) << text;
                EXPECT_GE(depth, 1) << text;
                break;
            case TokenKindKind::Operator:
                EXPECT_EQ(TokenKind(t.Text), TokenKindKind::Operator) << text;
                EXPECT_GE(depth, 2) << text;
                --depth;
                break;
            case TokenKindKind::Bracket:
                ADD_FAILURE() << "bracket in " << text;
                break;
            }
        }
        EXPECT_EQ(depth, 1) << text;
        // Where the two scanners agree, the typed list is the plain one.
        if (ExplainScannerMismatch(text, names).empty()) {
            const TokenList plain = ToPostfix(text);
            ASSERT_EQ(postfix.size(), plain.size()) << text;
            for (std::size_t k = 0; k < plain.size(); ++k) EXPECT_EQ(postfix[k].Text, plain[k]) << text;
        }
    }
    EXPECT_GT(accepted, cases / 4);
}

}  // namespace
}  // namespace kovra
