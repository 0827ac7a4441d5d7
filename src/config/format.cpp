#include "config/format.h"

#include <QLocale>
#include <QString>

#include <atomic>
#include <charconv>
#include <cmath>
#include <cstring>

namespace kovra {

namespace {

std::atomic<char> g_separatorOverride{0};

char LocaleSeparator()
{
    static const char sep = [] {
        const QString point = QLocale::system().decimalPoint();
        if (point.size() == 1 && point[0].unicode() < 0x80 && point[0].unicode() > 0x20)
            return static_cast<char>(point[0].unicode());
        return '.';
    }();
    return sep;
}

// A value as the runtime's FloatToDecimal leaves it: v = 0.Digits * 10^Exponent,
// Digits without trailing zeros; an empty Digits is zero.
struct Decimal {
    std::string Digits;
    int Exponent = 0;
    bool Negative = false;
};

constexpr int kMaxDigits = 18;

// Rounds |v| to `precision` significant digits and to `decimals` places after
// the point, whichever keeps fewer. The runtime first takes 18 significant
// digits (the x87's packed-BCD store, ties to even), then rounds that digit
// string half away from zero; both steps are kept so that ties such as 0.125
// and near-ties such as 2.675 (really 2.67499999...) come out as they did.
Decimal ToDecimal(double v, int precision, int decimals)
{
    Decimal d;
    if (v == 0)
        return d;
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, std::fabs(v), std::chars_format::scientific,
                             kMaxDigits - 1);
    *res.ptr = '\0';
    // buf: d.ddddddddddddddddde[+-]xx
    std::string digits;
    digits.reserve(kMaxDigits);
    const char* p = buf;
    for (; *p && *p != 'e'; ++p)
        if (*p >= '0' && *p <= '9')
            digits += *p;
    const int exp10 = (*p == 'e') ? std::atoi(p + 1) : 0;
    int exponent = exp10 + 1;

    if (precision > kMaxDigits)
        precision = kMaxDigits;
    if (precision < 1)
        precision = 1;
    long long keepLong = static_cast<long long>(exponent) + decimals;
    int keep = keepLong < precision ? static_cast<int>(keepLong) : precision;
    if (keep < 0)
        return d;  // rounds to zero
    if (keep < static_cast<int>(digits.size())) {
        const bool up = digits[static_cast<std::size_t>(keep)] >= '5';
        digits.resize(static_cast<std::size_t>(keep));
        if (up) {
            int i = keep - 1;
            for (; i >= 0; --i) {
                if (digits[static_cast<std::size_t>(i)] == '9') {
                    digits[static_cast<std::size_t>(i)] = '0';
                } else {
                    ++digits[static_cast<std::size_t>(i)];
                    break;
                }
            }
            if (i < 0) {
                digits.insert(digits.begin(), '1');
                digits.resize(static_cast<std::size_t>(keep > 0 ? keep : 1));
                ++exponent;
            }
        }
    }
    while (!digits.empty() && digits.back() == '0')
        digits.pop_back();
    if (digits.empty())
        return d;
    d.Digits = std::move(digits);
    d.Exponent = exponent;
    d.Negative = std::signbit(v);
    return d;
}

std::string Special(double v)
{
    if (std::isnan(v))
        return "NAN";
    return v < 0 ? "-INF" : "INF";
}

// d.dddE[-]x, the general format's scientific form (no '+', no padding).
std::string Scientific(const Decimal& d, char sep)
{
    std::string s;
    if (d.Negative)
        s += '-';
    s += d.Digits[0];
    if (d.Digits.size() > 1) {
        s += sep;
        s.append(d.Digits, 1);
    }
    s += 'E';
    s += std::to_string(d.Exponent - 1);
    return s;
}

}  // namespace

char DecimalSeparator()
{
    const char o = g_separatorOverride.load(std::memory_order_relaxed);
    return o ? o : LocaleSeparator();
}

void SetDecimalSeparatorForTesting(char sep)
{
    g_separatorOverride.store(sep, std::memory_order_relaxed);
}

std::string FormatFixed(double v, int precision, int digits, char sep)
{
    if (!std::isfinite(v))
        return Special(v);
    if (digits < 0)
        digits = 0;
    if (digits > kMaxDigits)
        digits = kMaxDigits;
    const Decimal d = ToDecimal(v, precision, digits);
    if (d.Exponent > (precision > kMaxDigits ? kMaxDigits : precision))
        return Scientific(d, sep);
    std::string s;
    if (d.Negative)
        s += '-';
    const int n = static_cast<int>(d.Digits.size());
    if (d.Exponent <= 0) {
        s += '0';
    } else {
        for (int i = 0; i < d.Exponent; ++i)
            s += i < n ? d.Digits[static_cast<std::size_t>(i)] : '0';
    }
    if (digits > 0) {
        s += sep;
        for (int k = 0; k < digits; ++k) {
            const int i = d.Exponent + k;
            s += (i >= 0 && i < n) ? d.Digits[static_cast<std::size_t>(i)] : '0';
        }
    }
    return s;
}

std::string FormatGeneral(double v, char sep)
{
    if (!std::isfinite(v))
        return Special(v);
    constexpr int kPrecision = 15;
    const Decimal d = ToDecimal(v, kPrecision, 9999);
    if (d.Digits.empty())
        return "0";
    if (d.Exponent > kPrecision || d.Exponent < -4)
        return Scientific(d, sep);
    std::string s;
    if (d.Negative)
        s += '-';
    const int n = static_cast<int>(d.Digits.size());
    if (d.Exponent <= 0) {
        s += '0';
        s += sep;
        s.append(static_cast<std::size_t>(-d.Exponent), '0');
        s += d.Digits;
        return s;
    }
    for (int i = 0; i < d.Exponent; ++i)
        s += i < n ? d.Digits[static_cast<std::size_t>(i)] : '0';
    if (n > d.Exponent) {
        s += sep;
        s.append(d.Digits, static_cast<std::size_t>(d.Exponent));
    }
    return s;
}

std::optional<double> ParseReal(std::string_view text, char sep)
{
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    std::size_t b = 0, e = text.size();
    while (b < e && blank(text[b]))
        ++b;
    while (e > b && blank(text[e - 1]))
        --e;
    text = text.substr(b, e - b);

    // Rebuilt in the form std::from_chars reads, which knows no locale.
    std::string c;
    c.reserve(text.size());
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    int intDigits = 0, leadingZeros = 0, mantissaDigits = 0;
    bool seenNonZero = false, inFraction = false;
    for (; i < text.size(); ++i) {
        const char ch = text[i];
        if (ch >= '0' && ch <= '9') {
            ++mantissaDigits;
            if (ch != '0')
                seenNonZero = true;
            if (!inFraction && seenNonZero)
                ++intDigits;
            if (inFraction && !seenNonZero)
                ++leadingZeros;
            c += ch;
        } else if (ch == sep && !inFraction) {
            inFraction = true;
            c += '.';
        } else {
            break;
        }
    }
    if (mantissaDigits == 0)
        return std::nullopt;
    long long exponent = 0;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        bool expNegative = false;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
            expNegative = text[i] == '-';
            ++i;
        }
        const std::size_t first = i;
        for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
            if (exponent < 100000)
                exponent = exponent * 10 + (text[i] - '0');
        if (i == first)
            return std::nullopt;
        if (expNegative)
            exponent = -exponent;
        c += 'e';
        c += std::to_string(exponent);
    }
    if (i != text.size())
        return std::nullopt;
    if (!seenNonZero)
        return negative ? -0.0 : 0.0;

    double value = 0;
    const auto res = std::from_chars(c.data(), c.data() + c.size(), value, std::chars_format::general);
    if (res.ec == std::errc::result_out_of_range) {
        // Too large is not a number; too small underflows to zero.
        const long long magnitude = intDigits > 0 ? exponent + intDigits : exponent - leadingZeros;
        if (magnitude > 0)
            return std::nullopt;
        return negative ? -0.0 : 0.0;
    }
    if (res.ec != std::errc() || res.ptr != c.data() + c.size() || !std::isfinite(value))
        return std::nullopt;
    return negative ? -value : value;
}

}  // namespace kovra
