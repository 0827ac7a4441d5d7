#include "config/format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace kovra;

TEST(FormatFixed, RoundsToPrecisionOrDecimalsWhicheverKeepsFewer)
{
    struct Case {
        double v;
        int precision;
        const char* text;
    } cases[] = {
        {0, 7, "0.00"},
        {1234.567, 7, "1234.57"},
        {1234.567, 5, "1234.60"},  // five significant digits win over two decimals
        {123456.7, 5, "1.2346E5"},  // six digits before the point exceed five
        {-7.5, 7, "-7.50"},
        {0.125, 7, "0.13"},           // ties go away from zero
        {2.675, 7, "2.67"},           // really 2.67499999...: no tie
        {-0.004, 7, "0.00"},          // rounds to zero: no minus sign
        {-0.005, 7, "-0.01"},
        {0.995, 7, "0.99"},           // 0.99499999...
        {9.995, 7, "9.99"},           // really 9.99499999...
        {999.995, 7, "1000.00"},      // really 999.99500000...01: carries
        {1e-20, 7, "0.00"},
        {9999999.4, 7, "9999999.00"},
        {9999999.6, 7, "1E7"},        // rounds up past seven digits
        {12345678, 7, "1.234568E7"},
        {-12345678, 7, "-1.234568E7"},
        {1e300, 7, "1E300"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatFixed(c.v, c.precision, 2, '.'), c.text) << c.v;
}

TEST(FormatFixed, UsesTheGivenSeparatorAndDigitCount)
{
    EXPECT_EQ(FormatFixed(1.5, 7, 2, ','), "1,50");
    EXPECT_EQ(FormatFixed(12345678, 7, 2, ','), "1,234568E7");
    EXPECT_EQ(FormatFixed(2.5, 7, 0, ','), "3");
    EXPECT_EQ(FormatFixed(0.5, 7, 4, '.'), "0.5000");
}

TEST(FormatFixed, NonFiniteValuesHaveNames)
{
    EXPECT_EQ(FormatFixed(std::numeric_limits<double>::infinity(), 7, 2, '.'), "INF");
    EXPECT_EQ(FormatFixed(-std::numeric_limits<double>::infinity(), 7, 2, '.'), "-INF");
    EXPECT_EQ(FormatFixed(std::nan(""), 7, 2, '.'), "NAN");
    EXPECT_EQ(FormatGeneral(std::nan(""), '.'), "NAN");
}

TEST(FormatGeneral, ShortestTextUpToFifteenDigits)
{
    struct Case {
        double v;
        const char* text;
    } cases[] = {
        {0, "0"},
        {100, "100"},
        {-7.5, "-7.5"},
        {0.1, "0.1"},
        {1.0 / 3, "0.333333333333333"},
        {2.0 / 3, "0.666666666666667"},
        {20, "20"},
        {0.0001, "0.0001"},
        {0.00005, "0.00005"},
        {0.00001, "0.00001"},
        {0.0000099, "9.9E-6"},
        {-2.5e-7, "-2.5E-7"},
        {123456789012345.0, "123456789012345"},
        {1e15, "1E15"},  // sixteen digits before the point
        {1.5e20, "1.5E20"},
        {999999999999999.9, "1E15"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatGeneral(c.v, '.'), c.text) << c.v;
    EXPECT_EQ(FormatGeneral(0.25, ','), "0,25");
}

TEST(ParseReal, AcceptsOnlyTheGivenSeparator)
{
    struct Case {
        const char* text;
        char sep;
        bool ok;
        double value;
    } cases[] = {
        {"1.5", '.', true, 1.5},
        {"1,5", ',', true, 1.5},
        {"1.5", ',', false, 0},
        {"1,5", '.', false, 0},
        {" -2.5e3 ", '.', true, -2500},
        {"+3", '.', true, 3},
        {".5", '.', true, 0.5},
        {"5.", '.', true, 5},
        {"1E-2", '.', true, 0.01},
        {"1e-400", '.', true, 0},
        {"1e400", '.', false, 0},
        {"", '.', false, 0},
        {" ", '.', false, 0},
        {"e5", '.', false, 0},
        {"1e", '.', false, 0},
        {"1.5.2", '.', false, 0},
        {"0x1F", '.', false, 0},
        {"INF", '.', false, 0},
        {"nan", '.', false, 0},
        {"1 000", '.', false, 0},
        {"12abc", '.', false, 0},
    };
    for (const auto& c : cases) {
        const auto v = ParseReal(c.text, c.sep);
        EXPECT_EQ(v.has_value(), c.ok) << c.text;
        if (v && c.ok) {
            EXPECT_DOUBLE_EQ(*v, c.value) << c.text;
        }
    }
}

TEST(ParseReal, ReadsBackWhatFormatWrites)
{
    for (double v : {0.0, 1.25, -3.5, 1234567.0, 9999999.0, 12345678.0, 1e-3, 123.45}) {
        for (char sep : {'.', ','}) {
            const std::string text = FormatFixed(v, 7, 2, sep);
            const auto back = ParseReal(text, sep);
            ASSERT_TRUE(back.has_value()) << text;
            EXPECT_NEAR(*back, v, std::fabs(v) * 1e-6 + 0.005) << text;
        }
    }
}

TEST(DecimalSeparator, CanBeOverriddenAndReset)
{
    SetDecimalSeparatorForTesting(',');
    EXPECT_EQ(DecimalSeparator(), ',');
    EXPECT_EQ(FormatFixed(1.5, 7, 2), "1,50");
    SetDecimalSeparatorForTesting('.');
    EXPECT_EQ(DecimalSeparator(), '.');
    SetDecimalSeparatorForTesting(0);
    const char sep = DecimalSeparator();
    EXPECT_TRUE(sep == '.' || sep == ',' || sep > ' ');
}
