// Helpers for tests that build settings files: texts are written here in
// UTF-8 and stored in CP1251, as the files are.
#pragma once

#include "config/cp1251.h"
#include "config/model.h"

#include <sstream>
#include <string>
#include <string_view>

namespace kovra::test {

inline std::string W(std::u8string_view s)
{
    return Utf8ToCp1251(std::string_view(reinterpret_cast<const char*>(s.data()), s.size()));
}

// Every loaded field in one text, for comparing two loads.
inline std::string Describe(const TSettings& s)
{
    std::ostringstream o;
    const TAllData& d = s.Data;
    const TWindowOptions& w = s.Options;
    o << w.FullScreen << ' ' << w.PanelColor << ' ' << w.ReplyTimeout << ' ' << w.ChartTextColor << ' '
      << w.ChartTextHeight << ' ' << w.DoubleBuffered << ' ' << w.PortName << ' ' << w.Preamble << ' '
      << w.AutoStartLog << ' ' << w.Language << '\n';
    o << int(d.AreaCount) << " len " << d.SampleLength << '\n';
    for (const TArea& a : d.Areas)
        o << " area " << int(a.Address) << ' ' << int(a.SampleOffset) << ' ' << int(a.Length) << '\n';
    o << int(d.FormulaCount) << '\n';
    for (std::size_t i = 0; i < d.Procs.size(); ++i) {
        const TProc& p = d.Procs[i];
        o << " proc " << p.Name << ' ' << p.Accumulate << ' ' << int(p.VarCount) << " ["
          << s.FormulaTexts[i] << "]\n";
        for (const TPerem& v : p.Vars)
            o << "  var " << v.Name << ' ' << int(v.Kind) << ' ' << int(v.SampleIndex) << ' ' << v.IsBit << ' '
              << int(v.AreaIndex) << ' ' << int(v.BitNumber) << ' ' << int(v.FormulaIndex) << '\n';
    }
    for (const TLogSettings& l : s.Loggers)
        o << " log " << l.Height << ' ' << l.FormulaIndex << ' ' << l.LabelText << ' ' << l.MaxValue << ' '
          << l.MinValue << ' ' << l.TraceColor << ' ' << l.Inert << '\n';
    for (const TPribor& g : d.Gauges)
        o << " gauge " << g.Name << ' ' << int(g.Kind) << ' ' << g.FormulaIndex << ' ' << g.Size << ' ' << g.X
          << ' ' << g.Y << ' ' << g.Maximum << ' ' << g.Minimum << ' ' << g.ScaleDivisions << ' '
          << g.LabelDigits << ' ' << g.StartAngle << ' ' << g.EndAngle << ' ' << g.Horizontal << ' '
          << g.Reverse << ' ' << g.ScaleColor << ' ' << g.NeedleColor << ' ' << g.TextColor << ' '
          << g.AlarmEnabled << ' ' << g.AlarmBelow << ' ' << g.AlarmLevel << ' ' << g.AlarmSound << ' '
          << g.Inert << '\n';
    o << d.ClockSize << ' ' << d.ClockX << ' ' << d.ClockY << ' ' << d.ClockColor << ' ' << d.ClockVisible << ' '
      << int(d.MomentFormula) << ' ' << int(d.MomentChart) << ' ' << d.MomentYMax << ' ' << d.ObdMode << ' '
      << d.MomentInert << '\n';
    o << "problems " << s.Problems.size() << '\n';
    return o.str();
}

}  // namespace kovra::test
