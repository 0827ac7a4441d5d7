#include "config/cp1251.h"

#include <array>
#include <cstdint>

namespace kovra {

namespace {

// Code points of 0x80..0xBF; 0xC0..0xFF are U+0410..U+044F in order.
// 0x98 is unassigned and maps to U+0098, as MultiByteToWideChar does.
constexpr std::array<char16_t, 64> kHigh = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // B8
};

char32_t ToUnicode(unsigned char c)
{
    if (c < 0x80)
        return c;
    if (c < 0xC0)
        return kHigh[c - 0x80];
    return 0x0410 + (c - 0xC0);
}

// -1 when the code point has no CP1251 byte.
int FromUnicode(char32_t u)
{
    if (u < 0x80)
        return static_cast<int>(u);
    if (u >= 0x0410 && u <= 0x044F)
        return static_cast<int>(u - 0x0410 + 0xC0);
    for (std::size_t i = 0; i < kHigh.size(); ++i)
        if (kHigh[i] == u)
            return static_cast<int>(0x80 + i);
    return -1;
}

struct FoldTable {
    std::array<unsigned char, 256> lower{};
    FoldTable()
    {
        for (int c = 0; c < 256; ++c)
            lower[static_cast<std::size_t>(c)] = static_cast<unsigned char>(c);
        for (int c = 'A'; c <= 'Z'; ++c)
            lower[static_cast<std::size_t>(c)] = static_cast<unsigned char>(c + 32);
        for (int c = 0xC0; c <= 0xDF; ++c)
            lower[static_cast<std::size_t>(c)] = static_cast<unsigned char>(c + 32);
        // Upper/lower pairs of 0x80..0xBF: Ђђ Ѓѓ Љљ Њњ Ќќ Ћћ Џџ Ўў Јј Ґґ Ёё Єє Її Іі Ѕѕ.
        constexpr unsigned char pairs[][2] = {
            {0x80, 0x90}, {0x81, 0x83}, {0x8A, 0x9A}, {0x8C, 0x9C}, {0x8D, 0x9D},
            {0x8E, 0x9E}, {0x8F, 0x9F}, {0xA1, 0xA2}, {0xA3, 0xBC}, {0xA5, 0xB4},
            {0xA8, 0xB8}, {0xAA, 0xBA}, {0xAF, 0xBF}, {0xB2, 0xB3}, {0xBD, 0xBE},
        };
        for (const auto& p : pairs)
            lower[p[0]] = p[1];
    }
};

const FoldTable& Fold()
{
    static const FoldTable table;
    return table;
}

void AppendUtf8(std::string& out, char32_t u)
{
    if (u < 0x80) {
        out += static_cast<char>(u);
    } else if (u < 0x800) {
        out += static_cast<char>(0xC0 | (u >> 6));
        out += static_cast<char>(0x80 | (u & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (u >> 12));
        out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (u & 0x3F));
    }
}

// Decodes one sequence at s[i]; returns its length, 0 when it is not well formed.
std::size_t DecodeUtf8(std::string_view s, std::size_t i, char32_t& u)
{
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80) {
        u = b0;
        return 1;
    }
    std::size_t len;
    char32_t min;
    if ((b0 & 0xE0) == 0xC0) {
        len = 2;
        u = b0 & 0x1F;
        min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3;
        u = b0 & 0x0F;
        min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4;
        u = b0 & 0x07;
        min = 0x10000;
    } else {
        return 0;
    }
    if (s.size() - i < len)
        return 0;
    for (std::size_t k = 1; k < len; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80)
            return 0;
        u = (u << 6) | (b & 0x3F);
    }
    if (u < min || u > 0x10FFFF || (u >= 0xD800 && u <= 0xDFFF))
        return 0;
    return len;
}

}  // namespace

QString Cp1251ToQString(std::string_view text)
{
    QString out;
    out.reserve(static_cast<qsizetype>(text.size()));
    for (char c : text)
        out += QChar(static_cast<char16_t>(ToUnicode(static_cast<unsigned char>(c))));
    return out;
}

std::string QStringToCp1251(const QString& text)
{
    std::string out;
    out.reserve(static_cast<std::size_t>(text.size()));
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            ++i;
            out += '?';
            continue;
        }
        const int b = FromUnicode(c);
        out += b < 0 ? '?' : static_cast<char>(b);
    }
    return out;
}

std::string Cp1251ToUtf8(std::string_view text)
{
    std::string out;
    out.reserve(text.size() * 2);
    for (char c : text)
        AppendUtf8(out, ToUnicode(static_cast<unsigned char>(c)));
    return out;
}

std::string Utf8ToCp1251(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        char32_t u = 0;
        const std::size_t len = DecodeUtf8(text, i, u);
        if (len == 0) {
            out += '?';
            ++i;
            continue;
        }
        const int b = FromUnicode(u);
        out += b < 0 ? '?' : static_cast<char>(b);
        i += len;
    }
    return out;
}

bool IsValidUtf8(std::string_view bytes)
{
    for (std::size_t i = 0; i < bytes.size();) {
        char32_t u = 0;
        const std::size_t len = DecodeUtf8(bytes, i, u);
        if (len == 0)
            return false;
        i += len;
    }
    return true;
}

unsigned char FoldCase1251(unsigned char c)
{
    return Fold().lower[c];
}

bool EqualsNoCase1251(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    const auto& lower = Fold().lower;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower[static_cast<unsigned char>(a[i])] != lower[static_cast<unsigned char>(b[i])])
            return false;
    return true;
}

}  // namespace kovra
