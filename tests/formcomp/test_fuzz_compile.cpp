// CompileFormula on arbitrary bytes: never a crash, never a stray read, and
// whatever it accepts evaluates alike in generated code and interpreter.
#include "formula_test_support.h"

#include "formcomp/interpreter.h"
#include "formula_gen.h"

#include <gtest/gtest.h>

#include <random>

using namespace kovra;
using namespace kovra::testing;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr int kRounds = 4000;
#else
constexpr int kRounds = 30000;
#endif

// Mostly formula material, sometimes any byte at all.
std::string RandomText(std::mt19937_64& rng, std::size_t maxLength)
{
    static const std::vector<std::string> kPieces = [] {
        std::vector<std::string> p = {"x", "y"};
        for (const std::string& w : testgen::FunctionWords()) p.push_back(w);
        for (const std::string& w : testgen::BinaryWords()) p.push_back(w);
        for (const char* other : {"(", ")", "1", "25", ".", ",", " ", "[", "]", "{", "}", "_", "e", "\xC0", "\xE0",
                                  "\xA8", "\t", "if"})
            p.push_back(other);
        return p;
    }();
    std::string s;
    const std::size_t length = rng() % (maxLength + 1);
    while (s.size() < length) {
        if (rng() % 5 == 0)
            s += static_cast<char>(rng() % 256);
        else
            s += kPieces[rng() % kPieces.size()];
    }
    return s;
}

TEST(FuzzCompile, ArbitraryTextAndNames)
{
    std::mt19937_64 rng(0xF022);
    int accepted = 0;
    for (int round = 0; round < kRounds; ++round) {
        std::vector<std::string> names;
        const std::size_t count = rng() % 5;
        for (std::size_t i = 0; i < count; ++i)
            names.push_back(RandomText(rng, 4));
        // Half the texts are built from the names, so that many are accepted.
        std::string text;
        if (!names.empty() && rng() % 2) {
            static const std::vector<std::string> kOps = [] {
                std::vector<std::string> ops = testgen::BinaryWords();
                for (const char* glue : {")mod(", "+sin", "*(-", "-("}) ops.push_back(glue);
                return ops;
            }();
            text = names[rng() % names.size()];
            for (int k = 0, n = static_cast<int>(rng() % 5); k < n; ++k)
                text += kOps[rng() % kOps.size()] + names[rng() % names.size()];
        } else {
            text = RandomText(rng, 40);
        }

        TFormula f;
        const bool ok = CompileFormula(f, text, names);
        ASSERT_EQ(ok, f.Accepted);
        ASSERT_GE(f.SlotCount(), names.size());
        if (!ok) {
            ASSERT_FALSE(f.RefuseReason.empty());
            ASSERT_EQ(Hex(f.Code.data(), f.Code.size()), "D9 EE C3");
            continue;
        }
        ++accepted;
        for (const TOp& op : f.Ops) {
            if (op.Code == OpCode::Load) {
                ASSERT_LT(op.Slot, f.SlotCount());
            }
        }
        for (std::size_t i = 0; i < names.size(); ++i)
            f.SetSlot(i, static_cast<long double>(static_cast<int>(rng() % 7) - 3) / 2);
        const TEvalResult jit = Evaluate(f);
        const TEvalResult interp = Interpret(f);
        ASSERT_EQ(jit.Error, interp.Error) << text;
        if (jit.Error == FpError::None) {
            ASSERT_EQ(Bits(jit.Value), Bits(interp.Value)) << text;
        }
    }
    EXPECT_GT(accepted, kRounds / 20);
}

TEST(FuzzCompile, DecimalReaderOnArbitraryBytes)
{
    std::mt19937_64 rng(5);
    for (int round = 0; round < kRounds; ++round) {
        std::string s;
        for (std::size_t n = rng() % 30; n > 0; --n) {
            static const char kAlphabet[] = "0123456789.eE+-";
            s += rng() % 8 ? kAlphabet[rng() % (sizeof kAlphabet - 1)] : static_cast<char>(rng() % 256);
        }
        TExtended x;
        const DecimalStatus status = DecimalToExtended(s, x);
        if (status != DecimalStatus::Ok) {
            ASSERT_EQ(x, TExtended{}) << s;
        }
    }
}

}  // namespace
