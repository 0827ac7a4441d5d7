// Start-up cost of the formula front end: acceptance and postfix order of a
// full settings file's worth of formulas (255, each 100 to 200 characters),
// the plain textbook recognizer beside the indexed one as the baseline.
// Read the ratio of BM_FrontPlainBaseline to BM_FrontIndexed (CPU time).
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "../tests/formcomp/literal_earley.h"
#include "formcomp/postfix.h"
#include "formcomp/recognizer.h"

namespace {

struct Case {
    std::string text;
    std::vector<std::string> names;
};

// Formulas of the kind users write: byte pairs scaled and offset, functions,
// powers and brackets, over a handful of variables each.
class Maker {
public:
    explicit Maker(unsigned seed) : rng_(seed) {}

    Case Make()
    {
        Case c;
        const int vars = 2 + Below(6);
        for (int i = 0; i < vars; ++i) c.names.push_back(Pick({"x", "rpm", "tps", "\xE4\xE0\xE2", "t", "v"}) + std::to_string(i));
        const std::size_t length = 100 + static_cast<std::size_t>(Below(101));
        while (c.text.size() < length) {
            if (!c.text.empty()) c.text += Pick({"+", "-", "*", "/", "^", "mod"});
            c.text += Term(c.names, 2);
        }
        return c;
    }

private:
    int Below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
    std::string Pick(std::initializer_list<const char*> v) { return *(v.begin() + Below(static_cast<int>(v.size()))); }
    std::string Operand(const std::vector<std::string>& names)
    {
        if (Below(3) == 0) return std::to_string(Below(1000)) + (Below(2) ? "." + std::to_string(Below(100)) : "");
        return names[static_cast<std::size_t>(Below(static_cast<int>(names.size())))];
    }
    std::string Term(const std::vector<std::string>& names, int depth)
    {
        std::string f = Below(4) == 0 ? Pick({"sin", "cos", "ln", "exp", "abs", "ind", "tg"}) : "";
        if (depth == 0 || Below(2)) return f + Operand(names);
        std::string inner = Below(5) == 0 ? "-" : "";
        inner += Term(names, depth - 1);
        for (int k = Below(3); k >= 0; --k) inner += Pick({"+", "-", "*", "/"}) + Term(names, depth - 1);
        return f + "(" + inner + ")";
    }
    std::mt19937 rng_;
};

const std::vector<Case>& Formulas()
{
    static const std::vector<Case> cases = [] {
        Maker m(1);
        std::vector<Case> v;
        for (int i = 0; i < 255; ++i) v.push_back(m.Make());
        return v;
    }();
    return cases;
}

void BM_FrontIndexed(benchmark::State& state)
{
    const auto& cases = Formulas();
    for (auto _ : state) {
        for (const Case& c : cases) {
            const bool ok = kovra::Recognize(c.text, c.names);
            benchmark::DoNotOptimize(ok);
            if (!ok) state.SkipWithError("a formula was not accepted");
            benchmark::DoNotOptimize(kovra::ToPostfixTokens(c.text, c.names));
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(cases.size()));
}
BENCHMARK(BM_FrontIndexed)->Unit(benchmark::kMillisecond);

void BM_FrontIndexedClassScanner(benchmark::State& state)
{
    const auto& cases = Formulas();
    for (auto _ : state) {
        for (const Case& c : cases) {
            benchmark::DoNotOptimize(kovra::Recognize(c.text, c.names));
            benchmark::DoNotOptimize(kovra::ToPostfix(c.text));
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(cases.size()));
}
BENCHMARK(BM_FrontIndexedClassScanner)->Unit(benchmark::kMillisecond);

// The baseline: the plain recognizer and the class scanner over the same formulas.
void BM_FrontPlainBaseline(benchmark::State& state)
{
    const auto& cases = Formulas();
    for (auto _ : state) {
        for (const Case& c : cases) {
            benchmark::DoNotOptimize(kovra::literal::Recognize(c.text, c.names));
            benchmark::DoNotOptimize(kovra::ToPostfix(c.text));
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(cases.size()));
}
BENCHMARK(BM_FrontPlainBaseline)->Unit(benchmark::kMillisecond);

// The same formulas, each with a grammar of its own (a settings file whose
// formulas all have different variables): the grammar is rebuilt every time.
void BM_FrontIndexedFreshGrammar(benchmark::State& state)
{
    const auto& cases = Formulas();
    for (auto _ : state) {
        for (const Case& c : cases) {
            const kovra::FormulaGrammar g(c.names);
            benchmark::DoNotOptimize(g.Recognize(c.text));
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(cases.size()));
}
BENCHMARK(BM_FrontIndexedFreshGrammar)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
