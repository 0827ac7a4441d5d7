// The formula recognizer written the plain way, as the reference the fast one
// is checked (and measured) against: rules and items hold strings of CP1251
// bytes (nonterminals are the capital Cyrillic letters), every set grows one
// item at a time with a linear duplicate search, and each set is closed by
// whole completion and prediction passes repeated until nothing is added.
// Its grammar is a transcription of the language's own rule table, nesting
// and function words included, and reads nothing from the operator table on
// purpose: it is the independent reference the table-built grammar is
// checked against.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kovra::literal {

struct rule {
    char Left;
    std::string Right;
};

struct grammatica {
    char Start;
    std::vector<rule> Rules;
};

struct situat {
    char Left;
    std::string Done;
    std::string Rest;
    std::int32_t Origin;
};

using sitset = std::vector<situat>;

// Capital letters С А Б В Г Д Я Е Ж З in CP1251.
inline constexpr char kS = '\xD1', kA = '\xC0', kB = '\xC1', kV = '\xC2', kG = '\xC3', kD = '\xC4', kYa = '\xDF',
                      kE = '\xC5', kZh = '\xC6', kZ = '\xC7';

inline bool AddSituation(sitset& set, char left, const std::string& done, const std::string& rest, std::int32_t origin)
{
    for (const situat& s : set)
        if (s.Left == left && s.Done == done && s.Rest == rest && s.Origin == origin) return false;
    set.push_back({left, done, rest, origin});
    return true;
}

inline grammatica BuildGrammar(const std::vector<std::string>& names)
{
    auto s = [](std::initializer_list<char> c) { return std::string(c); };
    grammatica g;
    g.Start = kS;
    g.Rules = {
        {kS, s({kA})},           {kS, s({'-', kA})},           {kA, s({kB, '+', kA})}, {kA, s({kB})},
        {kB, s({kV, '*', kB})},  {kB, s({kV})},                {kV, s({kG, '-', kV})}, {kV, s({kG})},
        {kG, s({kD, '/', kG})},  {kG, s({kD})},                {kD, s({kYa, '^', kD})}, {kD, s({kYa})},
        {kYa, std::string(1, kE) + "mod" + kYa}, {kYa, s({kE})},
    };
    for (const char* f : {"sin", "cos", "tg", "ctg", "ln", "lg", "exp", "ind", "abs"})
        g.Rules.push_back({kE, std::string(f) + kZh});
    g.Rules.push_back({kE, s({kZh})});
    g.Rules.push_back({kZh, s({'(', kA, ')'})});
    g.Rules.push_back({kZh, s({'(', '-', kA, ')'})});
    for (const std::string& n : names) g.Rules.push_back({kZh, n});
    g.Rules.push_back({kZh, s({kZ})});
    g.Rules.push_back({kZh, s({kZ, '.', kZ})});
    for (char d = '0'; d <= '9'; ++d) {
        g.Rules.push_back({kZ, s({d})});
        g.Rules.push_back({kZ, s({d, kZ})});
    }
    return g;
}

// names: as the compiler gives them (lowercased, no empty entries).
inline bool Recognize(std::string_view text, const std::vector<std::string>& names)
{
    const grammatica g = BuildGrammar(names);
    const std::size_t n = text.size();
    std::vector<sitset> chart(n + 1);

    for (const rule& r : g.Rules)
        if (r.Left == g.Start) chart[0].push_back({r.Left, "", r.Right, 0});
    for (std::size_t i = 0; i < chart[0].size(); ++i) {
        const char s = chart[0][i].Rest[0];
        for (const rule& r : g.Rules)
            if (r.Left == s) AddSituation(chart[0], s, "", r.Right, 0);
    }

    for (std::size_t q = 1; q <= n; ++q) {
        const char c = text[q - 1];
        sitset& prev = chart[q - 1];
        sitset& set = chart[q];
        for (std::size_t i = 0; i < prev.size(); ++i) {
            const situat it = prev[i];
            if (!it.Rest.empty() && it.Rest[0] == c) AddSituation(set, it.Left, it.Done + c, it.Rest.substr(1), it.Origin);
        }
        bool added = true;
        while (added) {
            added = false;
            const std::size_t completionCount = set.size();
            for (std::size_t i = 0; i < completionCount; ++i) {
                const situat x = set[i];
                if (!x.Rest.empty()) continue;
                const sitset& from = chart[x.Origin];
                for (std::size_t k = 0; k < from.size(); ++k) {
                    const situat y = from[k];
                    if (!y.Rest.empty() && y.Rest[0] == x.Left)
                        added |= AddSituation(set, y.Left, y.Done + x.Left, y.Rest.substr(1), y.Origin);
                }
            }
            const std::size_t predictionCount = set.size();
            for (std::size_t i = 0; i < predictionCount; ++i) {
                if (set[i].Rest.empty()) continue;
                const char s = set[i].Rest[0];
                for (const rule& r : g.Rules)
                    if (r.Left == s) added |= AddSituation(set, s, "", r.Right, static_cast<std::int32_t>(q));
            }
        }
    }

    for (const situat& s : chart[n])
        if (s.Rest.empty() && s.Origin == 0) return true;
    return false;
}

}  // namespace kovra::literal
