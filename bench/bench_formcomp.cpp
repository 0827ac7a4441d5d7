// Formula evaluation and compilation: generated code, interpreter, muParser
// and plain C++ long double side by side, so the ratios come from one run.
//
// Goals read off the output: generated code at least 3x faster than muParser
// on (x1*256+x2)/4 and within 1.5x of plain C++; 255 formulas of 100 to 200
// characters compiled in under 10 ms, each faster than muParser parses it.
#include "formcomp/formula.h"
#include "formcomp/interpreter.h"

#include <benchmark/benchmark.h>

#ifdef KOVRA_HAVE_MUPARSER
#include <muParser.h>
#endif

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

using namespace kovra;

namespace {

struct Workload {
    const char* Name;
    const char* Text;  // the same text serves muParser
    std::vector<std::string> Vars;
    long double (*Native)(const long double* v);
    long double Exponent = 0;  // for x^y: y stays fixed
};

// 21 operations and functions, mixing all kinds.
constexpr const char* kMixed =
    "(a*256+b)/4-sin(c)*d+abs(e-a)/(b+1)+c^2-d*e/3+exp(a/100)-ln(b+2)*c+(d-e)*0.5";

const Workload kWorkloads[] = {
    {"linear", "(x1*256+x2)/4", {"x1", "x2"}, [](const long double* v) { return (v[0] * 256 + v[1]) / 4; }},
    {"trig", "sin(x)*cos(y)", {"x", "y"}, [](const long double* v) { return std::sin(v[0]) * std::cos(v[1]); }},
    {"mixed", kMixed, {"a", "b", "c", "d", "e"},
     [](const long double* v) {
         const long double a = v[0], b = v[1], c = v[2], d = v[3], e = v[4];
         return (a * 256 + b) / 4 - std::sin(c) * d + std::fabs(e - a) / (b + 1) + c * c - d * e / 3 +
                std::exp(a / 100) - std::log(b + 2) * c + (d - e) * 0.5L;
     }},
    {"pow_int", "x^y", {"x", "y"}, [](const long double* v) { return std::pow(v[0], v[1]); }, 7},
    {"pow_frac", "x^y", {"x", "y"}, [](const long double* v) { return std::pow(v[0], v[1]); }, 2.5L},
};

// Inputs that vary a little from call to call, as sample bytes do.
inline void Inputs(const Workload& w, std::size_t i, long double* v)
{
    const long double wobble = static_cast<long double>(i & 7);
    const std::size_t n = w.Vars.size();
    for (std::size_t k = 0; k < n; ++k)
        v[k] = 1.25L + static_cast<long double>(k) + wobble;
    if (w.Exponent != 0)
        v[1] = w.Exponent;
}

void BM_Generated(benchmark::State& state, const Workload* w, bool interpret)
{
    TFormula f;
    if (!CompileFormula(f, w->Text, w->Vars)) {
        state.SkipWithError(("refused: " + f.RefuseReason).c_str());
        return;
    }
    long double v[8];
    std::size_t i = 0;
    for (auto _ : state) {
        Inputs(*w, i++, v);
        for (std::size_t k = 0; k < w->Vars.size(); ++k)
            f.SetSlot(k, v[k]);
        const TEvalResult r = interpret ? Interpret(f) : Evaluate(f);
        benchmark::DoNotOptimize(r);
    }
}

void BM_Native(benchmark::State& state, const Workload* w)
{
    long double v[8];
    std::size_t i = 0;
    for (auto _ : state) {
        Inputs(*w, i++, v);
        benchmark::DoNotOptimize(v);
        const long double r = w->Native(v);
        benchmark::DoNotOptimize(r);
    }
}

#ifdef KOVRA_HAVE_MUPARSER
void BM_MuParser(benchmark::State& state, const Workload* w)
{
    mu::Parser p;
    double vars[8];
    for (std::size_t k = 0; k < w->Vars.size(); ++k)
        p.DefineVar(w->Vars[k], &vars[k]);
    p.SetExpr(w->Text);
    long double v[8];
    std::size_t i = 0;
    for (auto _ : state) {
        Inputs(*w, i++, v);
        for (std::size_t k = 0; k < w->Vars.size(); ++k)
            vars[k] = static_cast<double>(v[k]);
        const double r = p.Eval();
        benchmark::DoNotOptimize(r);
    }
}
#endif

// ---- compilation ----

const std::vector<std::string> kCompileNames = {"x1", "x2", "x3", "rpm", "tps", "map", "t", "u"};

// Formulas of 100 to 200 characters in the syntax both compilers share.
class CorpusGenerator {
public:
    std::string Formula()
    {
        for (;;) {
            std::string s = Expr(0);
            if (s.size() >= 100 && s.size() <= 200)
                return s;
        }
    }

private:
    std::string Expr(int depth)
    {
        static const char* const kOps[] = {"+", "-", "*", "/", "^"};
        std::string s = Operand(depth);
        for (int n = 1 + static_cast<int>(rng_() % 4); n > 0; --n)
            s += std::string(kOps[rng_() % (depth > 1 ? 4 : 5)]) + Operand(depth);
        return s;
    }
    std::string Operand(int depth)
    {
        static const char* const kFunctions[] = {"sin", "cos", "ln", "exp", "abs"};
        const unsigned pick = rng_() % 10;
        if (pick < 4)
            return kCompileNames[rng_() % kCompileNames.size()];
        if (pick < 6)
            return std::to_string(rng_() % 1000) + (rng_() % 2 ? "." + std::to_string(rng_() % 100) : "");
        if (depth > 2)
            return "1";
        if (pick < 8)
            return std::string(kFunctions[rng_() % 5]) + "(" + Expr(depth + 1) + ")";
        return "(" + Expr(depth + 1) + ")";
    }
    std::mt19937_64 rng_{255};
};

const std::vector<std::string>& Corpus()
{
    static const std::vector<std::string> corpus = [] {
        CorpusGenerator gen;
        std::vector<std::string> c;
        for (int i = 0; i < 255; ++i)
            c.push_back(gen.Formula());
        return c;
    }();
    return corpus;
}

void BM_Compile255(benchmark::State& state)
{
    const auto& corpus = Corpus();
    std::size_t accepted = 0;
    for (auto _ : state) {
        auto formulas = std::make_unique<TFormula[]>(corpus.size());  // sized once, as at start-up
        accepted = 0;
        for (std::size_t i = 0; i < corpus.size(); ++i)
            accepted += CompileFormula(formulas[i], corpus[i], kCompileNames);
        benchmark::DoNotOptimize(formulas.get());
    }
    state.counters["accepted"] = static_cast<double>(accepted);
}

#ifdef KOVRA_HAVE_MUPARSER
void BM_MuParserParse255(benchmark::State& state)
{
    const auto& corpus = Corpus();
    double vars[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    for (auto _ : state) {
        for (const std::string& text : corpus) {
            mu::Parser p;
            for (std::size_t k = 0; k < kCompileNames.size(); ++k)
                p.DefineVar(kCompileNames[k], &vars[k]);
            p.SetExpr(text);
            benchmark::DoNotOptimize(p.Eval());  // the first Eval parses into bytecode
        }
    }
}
#endif

// Each formula timed on its own (best of several), against muParser on the same text.
void PrintPerFormulaSummary()
{
    using Clock = std::chrono::steady_clock;
    const auto& corpus = Corpus();
    double worstCompile = 0, totalCompile = 0;
    std::size_t fasterThanPeer = 0, accepted = 0;
    auto formulas = std::make_unique<TFormula[]>(corpus.size());
    for (std::size_t i = 0; i < corpus.size(); ++i) {
        double best = 1e9;
        for (int rep = 0; rep < 15; ++rep) {
            const auto t0 = Clock::now();
            const bool ok = CompileFormula(formulas[i], corpus[i], kCompileNames);
            best = std::min(best, std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
            accepted += ok && rep == 0;
        }
        worstCompile = std::max(worstCompile, best);
        totalCompile += best;
#ifdef KOVRA_HAVE_MUPARSER
        double vars[8] = {1, 2, 3, 4, 5, 6, 7, 8};
        double peer = 1e9;
        for (int rep = 0; rep < 15; ++rep) {
            const auto t0 = Clock::now();
            mu::Parser p;
            for (std::size_t k = 0; k < kCompileNames.size(); ++k)
                p.DefineVar(kCompileNames[k], &vars[k]);
            p.SetExpr(corpus[i]);
            benchmark::DoNotOptimize(p.Eval());
            peer = std::min(peer, std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
        }
        fasterThanPeer += best < peer;
#endif
    }
    std::printf("\ncompilation of %zu formulas (100-200 characters, %zu accepted): total %.2f ms, "
                "slowest %.1f us, mean %.1f us\n",
                corpus.size(), accepted, totalCompile / 1000, worstCompile, totalCompile / corpus.size());
#ifdef KOVRA_HAVE_MUPARSER
    std::printf("formulas compiled faster than muParser parses them: %zu of %zu\n", fasterThanPeer, corpus.size());
#endif
}

void Register()
{
    for (const Workload& w : kWorkloads) {
        const std::string n = w.Name;
        benchmark::RegisterBenchmark(("eval/" + n + "/generated").c_str(), BM_Generated, &w, false);
        benchmark::RegisterBenchmark(("eval/" + n + "/interpreter").c_str(), BM_Generated, &w, true);
#ifdef KOVRA_HAVE_MUPARSER
        benchmark::RegisterBenchmark(("eval/" + n + "/muparser").c_str(), BM_MuParser, &w);
#endif
        benchmark::RegisterBenchmark(("eval/" + n + "/native_long_double").c_str(), BM_Native, &w);
    }
    benchmark::RegisterBenchmark("compile/255_formulas/kovra", BM_Compile255)->Unit(benchmark::kMillisecond);
#ifdef KOVRA_HAVE_MUPARSER
    benchmark::RegisterBenchmark("compile/255_formulas/muparser", BM_MuParserParse255)->Unit(benchmark::kMillisecond);
#endif
}

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    Register();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    PrintPerFormulaSummary();
    return 0;
}
