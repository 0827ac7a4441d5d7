// Formula evaluation and compilation: generated code, interpreter, muParser
// and plain C++ long double side by side, so the ratios come from one run.
//
// Evaluation is timed per cycle of 16 formulas ("eval16/..."): "generated"
// checks the x87 status after each formula, "generated_row" once per cycle
// as the sample cycle does. Goals read off the output: generated code at
// least 3x faster than muParser on (x1*256+x2)/4 and within 1.5x of plain C++; 255 formulas of 100 to 200
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

// One cycle's worth: every benchmark iteration evaluates the same text as 16
// formulas of a cycle, each with inputs of its own, as a settings file with 16
// formulas does. The inputs are made beforehand, so that what is timed is the
// evaluation and the writing of its inputs, not their making.
constexpr std::size_t kRow = 16;

struct Inputs {
    long double Value[kRow][8];
    double AsDouble[kRow][8];
    explicit Inputs(const Workload& w)
    {
        for (std::size_t i = 0; i < kRow; ++i)
            for (std::size_t k = 0; k < 8; ++k) {
                Value[i][k] = (w.Exponent != 0 && k == 1) ? w.Exponent
                                                           : 1.25L + static_cast<long double>(k) +
                                                                 static_cast<long double>(i & 7) * 0.5L;
                AsDouble[i][k] = static_cast<double>(Value[i][k]);
            }
    }
};

enum class Path { Checked, Row, Interpreter };

void BM_Generated(benchmark::State& state, const Workload* w, Path path)
{
    auto formulas = std::make_unique<TFormula[]>(kRow);
    for (std::size_t i = 0; i < kRow; ++i)
        if (!CompileFormula(formulas[i], w->Text, w->Vars)) {
            state.SkipWithError(("refused: " + formulas[i].RefuseReason).c_str());
            return;
        }
    const Inputs in(*w);
    const std::size_t vars = w->Vars.size();
    for (auto _ : state) {
        benchmark::DoNotOptimize(&in);
        if (path == Path::Row) {
            TEvalRow row;
            for (std::size_t i = 0; i < kRow; ++i) {
                for (std::size_t k = 0; k < vars; ++k)
                    formulas[i].SetSlot(k, in.Value[i][k]);
                benchmark::DoNotOptimize(row.Run(formulas[i]));
            }
            if (!row.Ok())
                state.SkipWithError("evaluation failed");
            continue;
        }
        for (std::size_t i = 0; i < kRow; ++i) {
            for (std::size_t k = 0; k < vars; ++k)
                formulas[i].SetSlot(k, in.Value[i][k]);
            const TEvalResult r = path == Path::Checked ? Evaluate(formulas[i]) : Interpret(formulas[i]);
            benchmark::DoNotOptimize(r);
        }
    }
}

void BM_Native(benchmark::State& state, const Workload* w)
{
    const Inputs in(*w);
    for (auto _ : state) {
        benchmark::DoNotOptimize(&in);
        for (std::size_t i = 0; i < kRow; ++i)
            benchmark::DoNotOptimize(w->Native(in.Value[i]));
    }
}

// Plain C++ of (x1*256+x2)/4 with its literals read from memory as 80-bit
// values, as the generated code reads every operand from its slot: the
// same loads without the call, and no /4 turned into *0.25.
void BM_NativeLiteralsInMemory(benchmark::State& state)
{
    const Inputs in(kWorkloads[0]);
    long double literal[2] = {256, 4};
    for (auto _ : state) {
        benchmark::DoNotOptimize(&in);
        for (std::size_t i = 0; i < kRow; ++i) {
            benchmark::DoNotOptimize(literal);
            benchmark::DoNotOptimize((in.Value[i][0] * literal[0] + in.Value[i][1]) / literal[1]);
        }
    }
}

#if defined(__x86_64__) && defined(__GNUC__)
// What one operand load costs: 8 loads of 80-bit values against 8 of 64-bit
// ones. The generated code loads every variable and literal as an 80-bit value.
void BM_Load80(benchmark::State& state)
{
    alignas(16) long double v[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    for (auto _ : state)
        __asm__ volatile("fldt (%0)\n\tfldt 16(%0)\n\tfldt 32(%0)\n\tfldt 48(%0)\n\t"
                         "fldt 64(%0)\n\tfldt 80(%0)\n\tfldt 96(%0)\n\tfldt 112(%0)\n\t"
                         "fcompp\n\tfcompp\n\tfcompp\n\tfcompp"
                         :
                         : "r"(v)
                         : "memory");
}

void BM_Load64(benchmark::State& state)
{
    double v[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    for (auto _ : state)
        __asm__ volatile("fldl (%0)\n\tfldl 8(%0)\n\tfldl 16(%0)\n\tfldl 24(%0)\n\t"
                         "fldl 32(%0)\n\tfldl 40(%0)\n\tfldl 48(%0)\n\tfldl 56(%0)\n\t"
                         "fcompp\n\tfcompp\n\tfcompp\n\tfcompp"
                         :
                         : "r"(v)
                         : "memory");
}

#endif

#ifdef KOVRA_HAVE_MUPARSER
void BM_MuParser(benchmark::State& state, const Workload* w)
{
    std::vector<mu::Parser> parsers(kRow);
    double vars[kRow][8];
    for (std::size_t i = 0; i < kRow; ++i) {
        for (std::size_t k = 0; k < w->Vars.size(); ++k)
            parsers[i].DefineVar(w->Vars[k], &vars[i][k]);
        parsers[i].SetExpr(w->Text);
    }
    const Inputs in(*w);
    const std::size_t n = w->Vars.size();
    for (auto _ : state) {
        benchmark::DoNotOptimize(&in);
        for (std::size_t i = 0; i < kRow; ++i) {
            for (std::size_t k = 0; k < n; ++k)
                vars[i][k] = in.AsDouble[i][k];
            benchmark::DoNotOptimize(parsers[i].Eval());
        }
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
        benchmark::RegisterBenchmark(("eval16/" + n + "/generated").c_str(), BM_Generated, &w, Path::Checked);
        benchmark::RegisterBenchmark(("eval16/" + n + "/generated_row").c_str(), BM_Generated, &w, Path::Row);
        benchmark::RegisterBenchmark(("eval16/" + n + "/interpreter").c_str(), BM_Generated, &w,
                                     Path::Interpreter);
#ifdef KOVRA_HAVE_MUPARSER
        benchmark::RegisterBenchmark(("eval16/" + n + "/muparser").c_str(), BM_MuParser, &w);
#endif
        benchmark::RegisterBenchmark(("eval16/" + n + "/native_long_double").c_str(), BM_Native, &w);
    }
    benchmark::RegisterBenchmark("eval16/linear/native_literals_in_memory", BM_NativeLiteralsInMemory);
#if defined(__x86_64__) && defined(__GNUC__)
    benchmark::RegisterBenchmark("x87/8_loads_80bit", BM_Load80);
    benchmark::RegisterBenchmark("x87/8_loads_64bit", BM_Load64);
#endif
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
