// Literals become correctly rounded 80-bit values, whatever the locale.
#include "formula_test_support.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <clocale>
#include <cstdlib>
#include <random>

using namespace kovra;
using namespace kovra::testing;

namespace {

TExtended Convert(const std::string& text)
{
    TExtended x;
    EXPECT_EQ(DecimalToExtended(text, x), DecimalStatus::Ok) << text;
    return x;
}

TEST(Literal, KnownValues)
{
    struct Case {
        const char* Text;
        TExtended Expected;
    } cases[] = {
        {"0", {0, 0}},
        {"000.000", {0, 0}},
        {"1", {0x8000000000000000ull, 0x3FFF}},
        {"256", {0x8000000000000000ull, 0x4007}},
        {"2.5", {0xA000000000000000ull, 0x4000}},
        {"0.1", {0xCCCCCCCCCCCCCCCDull, 0x3FFB}},
        // 2^64 + 1 lies halfway between 2^64 and 2^64 + 2 ... rounds to even (2^64)
        {"18446744073709551617", {0x8000000000000000ull, 0x403F}},
        // ... 2^64 + 3 halfway between +2 and +4 rounds up to even (+4)
        {"18446744073709551619", {0x8000000000000002ull, 0x403F}},
        // largest finite, and the smallest denormal
        {"1.18973149535723176502e4932", {0xFFFFFFFFFFFFFFFFull, 0x7FFE}},
        {"3.64519953188247460253e-4951", {1, 0}},
        // below half the smallest denormal: zero; just above half: the smallest denormal
        {"1.8e-4951", {0, 0}},
        {"1.9e-4951", {1, 0}},
        // rounding up out of the denormals into the smallest normal
        {"3.3621031431120935063e-4932", {0x8000000000000000ull, 0x0001}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(BitsText(Convert(c.Text)), BitsText(c.Expected)) << c.Text;
}

TEST(Literal, RejectsWhatIsNotANumberAndWhatOverflows)
{
    TExtended x;
    for (const char* bad : {"", ".", "e5", "1e", "1e+", "1.2.3", "1,5", "-1", "0x10", "1 "})
        EXPECT_EQ(DecimalToExtended(bad, x), DecimalStatus::Syntax) << bad;
    EXPECT_EQ(DecimalToExtended("1.18973149535723176507e4932", x), DecimalStatus::Overflow);  // rounds past the top
    EXPECT_EQ(DecimalToExtended("1e99999999999999", x), DecimalStatus::Overflow);
    EXPECT_EQ(DecimalToExtended("1e-99999999999999", x), DecimalStatus::Ok);
    EXPECT_EQ(x, TExtended{});
}

#if LDBL_MANT_DIG == 64
// The C library's strtold is correctly rounded on this host; the tests run
// in the "C" locale, so its separator is the point.
TEST(Literal, AgreesWithTheCLibraryBitForBit)
{
    ASSERT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
    std::mt19937_64 rng(20240611);
    auto digits = [&](int n) {
        std::string s;
        for (int i = 0; i < n; ++i)
            s += static_cast<char>('0' + rng() % 10);
        return s;
    };
    for (int i = 0; i < 20000; ++i) {
        std::string text;
        switch (rng() % 4) {
        case 0: text = digits(1 + rng() % 8); break;                                   // plain integers
        case 1: text = digits(1 + rng() % 6) + "." + digits(1 + rng() % 6); break;     // formula-like
        case 2: text = digits(1 + rng() % 40) + "." + digits(1 + rng() % 40); break;  // more than 21 digits
        default:                                                                        // the whole range
            text = digits(1 + rng() % 25) + "e" + std::to_string(static_cast<int>(rng() % 9900) - 4980);
        }
        const long double expected = std::strtold(text.c_str(), nullptr);
        TExtended x;
        const DecimalStatus status = DecimalToExtended(text, x);
        if (expected == HUGE_VALL) {
            EXPECT_EQ(status, DecimalStatus::Overflow) << text;
            continue;
        }
        ASSERT_EQ(status, DecimalStatus::Ok) << text;
        ASSERT_EQ(BitsText(x), BitsText(Bits(expected))) << text;
    }
}
#endif

}  // namespace
