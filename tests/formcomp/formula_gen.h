// Random formulas and name lists for the cross-checks of the formula front end.
#pragma once

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "formcomp/operators.h"

namespace kovra::testgen {

// The operator table's words, in table order: what the generators write, so
// that a new row is exercised without touching them.
inline std::vector<std::string> BinaryWords()
{
    std::vector<std::string> words;
    for (const TOperator* o : kBinaryOperators) words.emplace_back(o->Word);
    return words;
}

// The functions a formula may name ("sich" is only made by the scanner).
inline std::vector<std::string> FunctionWords()
{
    std::vector<std::string> words;
    for (const TOperator* o : kGrammarFunctions) words.emplace_back(o->Word);
    return words;
}

// Case counts can be raised for a long run: KOVRA_FORMULA_CASES=200000.
inline int Cases(int fallback)
{
    if (const char* env = std::getenv("KOVRA_FORMULA_CASES")) {
        const int v = std::atoi(env);
        if (v > 0) return v;
    }
    return fallback;
}

class Gen {
public:
    explicit Gen(unsigned seed) : rng_(seed) {}

    int Below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
    bool Chance(int percent) { return Below(100) < percent; }
    template <class T>
    const T& Pick(const std::vector<T>& v) { return v[static_cast<std::size_t>(Below(static_cast<int>(v.size())))]; }

    // A raw name as a user could configure it: letters of both cases and
    // scripts, digits, underscores, function words and "mod" inside, now and
    // then a sign, a point or nothing at all.
    std::string Name(bool ordinary)
    {
        static const std::vector<std::string> plain = {"x", "y", "a", "b", "t", "x1", "X", "rpm", "\xE0", "\xC1",
                                                       "\xEB\xFF", "2", "e", "m", "d", "o"};
        static const std::vector<std::string> odd = {"_", "sin", "ln", "exp", "ind", "mod", "1", "\xB8", ".", "+", "^",
                                                     "(", "-", ")", ",", "\t", "if", "s", "i", "n"};
        if (!ordinary && Chance(5)) return "";
        std::string n;
        const int parts = 1 + Below(3);
        for (int i = 0; i < parts; ++i) n += (ordinary || Chance(65)) ? Pick(plain) : Pick(odd);
        return n;
    }

    std::vector<std::string> Names(bool ordinary)
    {
        std::vector<std::string> names;
        const int count = Below(5);
        for (int i = 0; i < count; ++i) names.push_back(Name(ordinary));
        if (!names.empty() && Chance(15)) names.push_back(Pick(names));  // listed twice
        return names;
    }

    // A formula the grammar derives (over the given prepared names when there
    // are any), the depth bounding the nesting.
    std::string Formula(const std::vector<std::string>& names, int depth = 3)
    {
        std::string f = Chance(15) ? "-" : "";
        return f + Expr(names, depth);
    }

    // A derived formula with a few random edits over the formula alphabet.
    std::string Mutated(const std::vector<std::string>& names)
    {
        std::string f = Formula(names, 2);
        const int edits = Below(3);
        for (int i = 0; i < edits; ++i) {
            const std::size_t at = static_cast<std::size_t>(Below(static_cast<int>(f.size()) + 1));
            const std::string piece = Piece();
            switch (Below(3)) {
            case 0: f.insert(at, piece); break;
            case 1: if (at < f.size()) f.erase(at, 1); break;
            default: if (at < f.size()) f.replace(at, 1, piece); break;
            }
        }
        return f;
    }

    // Pieces of the formula alphabet glued at random.
    std::string Soup(int maxPieces)
    {
        std::string f;
        const int count = Below(maxPieces + 1);
        for (int i = 0; i < count; ++i) f += Piece();
        return f;
    }

    std::string Piece()
    {
        static const std::vector<std::string> pieces = [] {
            std::vector<std::string> p = {"x", "y", "a", "b", "0", "1", "2", "9", ".", ",", "(", ")"};
            for (const std::string& w : BinaryWords()) p.push_back(w);
            for (const std::string& w : FunctionWords()) p.push_back(w);
            for (const char* other : {"_", "\xE0", "\xB8", "[", "e", "m", "s", "t"}) p.push_back(other);
            return p;
        }();
        return Pick(pieces);
    }

private:
    std::string Expr(const std::vector<std::string>& names, int depth)
    {
        static const std::vector<std::string> ops = BinaryWords();
        std::string e = Operand(names, depth);
        const int more = Below(3);
        for (int i = 0; i < more; ++i) e += Pick(ops) + Operand(names, depth);
        return e;
    }

    std::string Operand(const std::vector<std::string>& names, int depth)
    {
        static const std::vector<std::string> funcs = FunctionWords();
        std::string f = Chance(20) ? Pick(funcs) : "";
        return f + Primary(names, depth);
    }

    std::string Primary(const std::vector<std::string>& names, int depth)
    {
        const int roll = Below(10);
        if (depth > 0 && roll < 2) return (Chance(25) ? "(-" : "(") + Expr(names, depth - 1) + ")";
        if (!names.empty() && roll < 7) return Pick(names);
        std::string num = Digits();
        if (Chance(25)) num += "." + Digits();
        return num;
    }

    std::string Digits()
    {
        std::string d(1, static_cast<char>('0' + Below(10)));
        while (Chance(30)) d += static_cast<char>('0' + Below(10));
        return d;
    }

    std::mt19937 rng_;
};

}  // namespace kovra::testgen
