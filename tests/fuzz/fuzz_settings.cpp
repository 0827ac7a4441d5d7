// Any bytes as set.ini: the loader never fails, and the model it builds keeps
// the invariants every consumer relies on (model.h): no index outside its array.
#include "fuzz_check.h"

#include "config/settings.h"

using namespace kovra;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const TSettings s = LoadSettingsFromBytes(bytes);
    const TAllData& d = s.Data;

    FUZZ_CHECK(d.Areas.size() == d.AreaCount);
    FUZZ_CHECK(d.Procs.size() == d.FormulaCount);
    FUZZ_CHECK(s.FormulaTexts.size() == d.FormulaCount);
    FUZZ_CHECK(d.Gauges.size() == d.GaugeCount);
    FUZZ_CHECK(s.Loggers.size() == d.LoggerCount);
    FUZZ_CHECK(d.SampleLength <= 255);

    std::size_t end = 0;
    for (const TArea& a : d.Areas) {
        FUZZ_CHECK(a.SampleOffset == end);
        end += a.Length;
    }
    FUZZ_CHECK(end == d.SampleLength);

    for (const TProc& p : d.Procs) {
        FUZZ_CHECK(p.Vars.size() == p.VarCount);
        FUZZ_CHECK(VariableNames(p).size() == p.Vars.size());
        for (const TPerem& v : p.Vars) {
            if (v.Kind == 0) {
                FUZZ_CHECK(v.AreaIndex < d.Areas.size());
                FUZZ_CHECK(v.SampleIndex < d.SampleLength);
            }
            if (v.Kind == 1)
                FUZZ_CHECK(v.FormulaIndex < d.FormulaCount);
        }
    }
    // A chart's or gauge's formula may point past the array only when there
    // are no formulas at all.
    for (const TLogSettings& l : s.Loggers)
        FUZZ_CHECK(d.FormulaCount == 0 || l.FormulaIndex < d.FormulaCount);
    for (const TPribor& g : d.Gauges) {
        FUZZ_CHECK(d.FormulaCount == 0 || g.FormulaIndex < d.FormulaCount);
        // What the drawing divides by is never 0 on a gauge that is drawn.
        if (!g.Inert && g.Kind <= 4) {
            FUZZ_CHECK(g.Maximum != g.Minimum);
            FUZZ_CHECK(g.Kind > 1 || g.ScaleDivisions != 0);
        }
    }
    if (!d.MomentInert) {
        FUZZ_CHECK(d.MomentChart < s.Loggers.size());
        FUZZ_CHECK(s.Loggers[d.MomentChart].MaxValue != 0);
        FUZZ_CHECK(d.MomentYMax != 0);
    }
    for (const TSettingsProblem& p : s.Problems)
        FUZZ_CHECK(!p.Problem.empty());

    (void)ForeignFileReason(bytes);
    return 0;
}
