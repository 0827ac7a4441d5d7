#include "config/settings.h"

#include "config/cp1251.h"
#include "config/format.h"
#include "config/ini.h"
#include "config/settings_keys.h"
#include "link/rx_buffer.h"

#include <cstdio>

namespace kovra {

namespace {

std::string Hex(std::uint32_t v)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%X", v);
    return buf;
}

// Typed reads of the settings file. A missing key or an empty value gives the
// default silently; a value that cannot be read, or that does not fit its
// field, is reported.
class Reader {
public:
    Reader(const TIniFile& ini, std::vector<TSettingsProblem>& problems) : ini_(ini), problems_(problems) {}

    void Report(const std::string& section, const std::string& key, std::string value, std::string problem,
                std::string action)
    {
        problems_.push_back({section, key, std::move(value), std::move(problem), std::move(action)});
    }

    std::optional<std::string> Raw(const std::string& section, const std::string& key) const
    {
        return ini_.Read(section, key);
    }

    std::string Text(const std::string& section, const std::string& key, const std::string& def) const
    {
        return ini_.Read(section, key).value_or(def);
    }

    // The whole 32-bit integer, or the default.
    std::int32_t Int(const std::string& section, const std::string& key, std::int32_t def)
    {
        return IntOf(section, key, ini_.Read(section, key), def);
    }

    // An integer kept in a narrower field: only its low bits are kept.
    template <typename T>
    T Narrow(const std::string& section, const std::string& key, T def, const char* width)
    {
        const auto raw = ini_.Read(section, key);
        const std::int32_t v = IntOf(section, key, raw, def);
        const T kept = static_cast<T>(v);
        if (static_cast<std::int32_t>(kept) != v)
            Report(section, key, raw.value_or(""), std::string("does not fit a ") + width + " field",
                   "its low bits are kept: " + std::to_string(kept));
        return kept;
    }

    std::uint8_t U8(const std::string& s, const std::string& k, std::uint8_t def)
    {
        return Narrow<std::uint8_t>(s, k, def, "8-bit unsigned");
    }
    std::uint16_t U16(const std::string& s, const std::string& k, std::uint16_t def)
    {
        return Narrow<std::uint16_t>(s, k, def, "16-bit unsigned");
    }
    std::int16_t S16(const std::string& s, const std::string& k, std::int16_t def)
    {
        return Narrow<std::int16_t>(s, k, def, "16-bit signed");
    }

    bool Flag(const std::string& section, const std::string& key, bool def)
    {
        return Typed(section, key, ini_.Read(section, key), def, ParseIniInteger,
                     "not an integer flag (0 is off, any other number on)",
                     [def] { return std::string(def ? "on" : "off"); }, [](std::int32_t v) { return v != 0; });
    }

    TColor Colour(const std::string& section, const std::string& key, TColor def)
    {
        return Typed(section, key, ini_.Read(section, key), def, ParseIniInteger, "not an integer colour",
                     [def] { return Hex(def); }, [](std::int32_t v) { return static_cast<TColor>(v); });
    }

    double Real(const std::string& section, const std::string& key, double def)
    {
        const char sep = DecimalSeparator();
        return Typed(section, key, ini_.Read(section, key), def,
                     [sep](const std::string& raw) { return ParseReal(raw, sep); },
                     std::string("not a number with the locale's decimal separator '") + sep + "'",
                     [def, sep] { return FormatGeneral(def, sep); }, [](double v) { return v; });
    }

private:
    std::int32_t IntOf(const std::string& section, const std::string& key, const std::optional<std::string>& raw,
                       std::int32_t def)
    {
        return Typed(section, key, raw, def, ParseIniInteger, "not an integer",
                     [def] { return std::to_string(def); }, [](std::int32_t v) { return v; });
    }

    // Every typed read: a missing or empty value gives the default silently,
    // one that does not parse is reported and gives the default as well.
    // defaultText is only made when there is something to report.
    template <typename T, typename Parse, typename DefaultText, typename Convert>
    T Typed(const std::string& section, const std::string& key, const std::optional<std::string>& raw, T def,
            Parse parse, std::string_view problem, DefaultText defaultText, Convert convert)
    {
        if (!raw || raw->empty())
            return def;
        const auto v = parse(*raw);
        if (!v) {
            Report(section, key, *raw, std::string(problem), "the default " + defaultText() + " is used");
            return def;
        }
        return convert(*v);
    }

    const TIniFile& ini_;
    std::vector<TSettingsProblem>& problems_;
};

std::string Num(long long v)
{
    return std::to_string(v);
}

void ReadGeneral(Reader& r, TSettings& s)
{
    const auto& k = SettingsKeys();
    const std::string& g = k.General;
    TAllData& d = s.Data;
    TWindowOptions& o = s.Options;
    o.FullScreen = r.Flag(g, k.FullScreen, false);
    o.PanelColor = r.Colour(g, k.PanelColor, kButtonFace);
    d.ObdMode = r.Flag(g, k.ObdMode, false);
    o.ReplyTimeout = r.Int(g, k.ReplyTimeout, 1000);
    d.AreaCount = r.U8(g, k.AreaCount, 1);
    d.FormulaCount = r.U8(g, k.FormulaCount, 1);
    d.LoggerCount = r.U8(g, k.LoggerCount, 1);
    o.ChartTextColor = r.Colour(g, k.ChartTextColor, 255);
    o.ChartTextHeight = r.Int(g, k.ChartTextHeight, 10);
    d.GaugeCount = r.U8(g, k.GaugeCount, 1);
    o.Language = r.Text(g, k.Language, "ru");
    d.MomentFormula = r.U8(g, k.MomentFormula, 0);
    d.MomentChart = r.U8(g, k.MomentChart, 0);
    d.MomentYMax = r.Int(g, k.MomentYMax, 100);
    o.DoubleBuffered = r.Flag(g, k.DoubleBuffered, true);
    o.PortName = r.Text(g, k.PortName, "com1");
    o.Preamble = r.Flag(g, k.Preamble, true);
    o.AutoStartLog = r.Flag(g, k.AutoStartLog, false);

    const struct {
        std::uint8_t count;
        const std::string* key;
        const char* what;
    } counts[] = {
        {d.AreaCount, &k.AreaCount, "no area is polled and the sample is empty"},
        {d.FormulaCount, &k.FormulaCount, "there are no formulas; every formula reference reads 0"},
        {d.LoggerCount, &k.LoggerCount, "there are no strip charts"},
        {d.GaugeCount, &k.GaugeCount, "there are no gauges"},
    };
    for (const auto& c : counts)
        if (c.count == 0)
            r.Report(g, *c.key, r.Raw(g, *c.key).value_or(""), "the count is 0", c.what);
}

void ReadAreas(Reader& r, TSettings& s)
{
    const auto& k = SettingsKeys();
    TAllData& d = s.Data;
    const int largest = static_cast<int>(LargestReceivableArea(s.Options.Preamble));
    d.Areas.clear();
    d.Areas.reserve(d.AreaCount);
    std::size_t total = 0;
    for (std::size_t i = 0; i < d.AreaCount; ++i) {
        const std::string lengthKey = NumberedName(k.AreaLength, i);
        TArea a;
        a.Address = r.U8(k.Areas, NumberedName(k.AreaAddress, i), 0);
        a.Length = r.U8(k.Areas, lengthKey, 1);
        if (total + a.Length > 255) {
            // Offsets and the log record's length are single bytes.
            r.Report(k.Areas, lengthKey, r.Raw(k.Areas, lengthKey).value_or(""),
                     "areas 0 to " + Num(static_cast<long long>(i)) + " need " + Num(static_cast<long long>(total + a.Length)) +
                         " sample bytes, more than 255",
                     "areas " + Num(static_cast<long long>(i)) + " to " + Num(d.AreaCount - 1) +
                         " are not polled; their variables read nothing");
            break;
        }
        if (a.Length > largest)
            r.Report(k.Areas, lengthKey, r.Raw(k.Areas, lengthKey).value_or(""),
                     "a reply for " + Num(a.Length) + " bytes does not fit the " + Num(kRxBufferSize) + "-byte receive buffer (at most " +
                         Num(largest) + " bytes " + (s.Options.Preamble ? "with" : "without") + " the preamble)",
                     "kept as read; the link cannot receive that area's reply");
        a.SampleOffset = static_cast<std::uint8_t>(total);
        total += a.Length;
        d.Areas.push_back(a);
    }
    d.AreaCount = static_cast<std::uint8_t>(d.Areas.size());
    d.SampleLength = total;
}

void ReadVariable(Reader& r, TSettings& s, const std::string& sec, std::size_t j, TPerem& v)
{
    const auto& k = SettingsKeys();
    const TAllData& d = s.Data;
    v.Name = r.Text(sec, NumberedName(k.VarName, j), NumberedName(k.DefaultVarName, j));
    const std::string kindKey = NumberedName(k.VarKind, j);
    v.Kind = r.U8(sec, kindKey, 0);
    const std::string areaKey = NumberedName(k.VarArea, j);
    v.AreaIndex = r.U8(sec, areaKey, 0);
    const std::string offsetKey = NumberedName(k.VarOffset, j);
    const std::uint8_t offset = r.U8(sec, offsetKey, 0);
    v.IsBit = r.Flag(sec, NumberedName(k.VarIsBit, j), false);
    const std::string bitKey = NumberedName(k.VarBitNumber, j);
    v.BitNumber = r.U8(sec, bitKey, 1);
    const std::string formulaKey = NumberedName(k.VarFormula, j);
    v.FormulaIndex = r.U8(sec, formulaKey, 0);

    const bool areaExists = v.AreaIndex < d.Areas.size();
    const unsigned position = (areaExists ? d.Areas[v.AreaIndex].SampleOffset : 0u) + offset;
    v.SampleIndex = static_cast<std::uint8_t>(position);

    switch (v.Kind) {
    case 0:
        if (!areaExists) {
            r.Report(sec, areaKey, r.Raw(sec, areaKey).value_or("0"),
                     "area " + Num(v.AreaIndex) + " does not exist (" + Num(d.Areas.size()) + " areas are polled)",
                     "the variable is never assigned and reads 0");
            v.Kind = kInertKind;
        } else if (v.SampleIndex >= d.SampleLength) {
            r.Report(sec, offsetKey, r.Raw(sec, offsetKey).value_or("0"),
                     "sample byte " + Num(v.SampleIndex) + " lies outside the " + Num(static_cast<long long>(d.SampleLength)) +
                         "-byte sample",
                     "the variable is never assigned and reads 0");
            v.Kind = kInertKind;
        } else {
            if (position > 255)
                r.Report(sec, offsetKey, r.Raw(sec, offsetKey).value_or("0"),
                         "the byte's position " + Num(position) + " passes 255",
                         "it is kept in 8 bits: the variable reads sample byte " + Num(v.SampleIndex));
            if (v.IsBit && (v.BitNumber == 0 || v.BitNumber > 8))
                r.Report(sec, bitKey, r.Raw(sec, bitKey).value_or(""),
                         "bit " + Num(v.BitNumber) + " does not exist (bits are numbered 1 to 8)",
                         "the variable reads 0");
        }
        break;
    case 1:
        if (v.FormulaIndex >= d.FormulaCount) {
            r.Report(sec, formulaKey, r.Raw(sec, formulaKey).value_or("0"),
                     "formula " + Num(v.FormulaIndex) + " does not exist (" + Num(d.FormulaCount) + " formulas)",
                     "the variable is never assigned and reads 0");
            v.Kind = kInertKind;
        }
        break;
    case 2:
        break;
    default:
        r.Report(sec, kindKey, r.Raw(sec, kindKey).value_or(""),
                 "kind " + Num(v.Kind) + " is not a variable kind (0 sample byte, 1 formula, 2 elapsed time)",
                 "the variable is never assigned and reads 0");
        break;
    }
}

void ReadFormulas(Reader& r, TSettings& s)
{
    const auto& k = SettingsKeys();
    TAllData& d = s.Data;
    // Sized once, before the first formula: compiled code refers to its record.
    d.Procs.assign(d.FormulaCount, TProc{});
    s.FormulaTexts.assign(d.FormulaCount, std::string());
    for (std::size_t n = 0; n < d.FormulaCount; ++n) {
        const std::string sec = NumberedName(k.FormulaSection, n);
        TProc& p = d.Procs[n];
        p.Name = r.Text(sec, k.FormulaName, NumberedName(k.DefaultFormulaName, n));
        p.Accumulate = r.Flag(sec, k.Accumulate, false);
        p.VarCount = r.U8(sec, k.VarCount, 1);
        p.Vars.assign(p.VarCount, TPerem{});
        for (std::size_t j = 0; j < p.VarCount; ++j)
            ReadVariable(r, s, sec, j, p.Vars[j]);
        s.FormulaTexts[n] = r.Text(sec, k.FormulaText, "0");
    }
}

// Why the sums file, which keys each total by its formula's name, cannot give
// the total of a formula of this name back; empty when it can. The entry is
// tried the way it is saved: written to a fresh file, then read from it anew.
std::string SumsNameTrouble(const std::string& name)
{
    const std::string& section = SettingsKeys().SumsSection;
    TIniFile written;
    written.Write(section, name, "1");
    if (TIniFile(written.Bytes()).Read(section, name) == "1")
        return {};
    std::size_t p = 0;
    while (p < name.size() && (name[p] == ' ' || name[p] == '\t'))
        ++p;
    if (p < name.size() && name[p] == ';')
        return "it starts with ';', so its line in log.sv is a comment";
    if (p < name.size() && name[p] == '[' && name.find(']', p) != std::string::npos)
        return "it starts with '[' and holds ']', so its line in log.sv opens a section";
    if (name.find('=') != std::string::npos)
        return "it holds '=', so its key in log.sv ends at the '='";
    return "its line in log.sv does not read back as that name";
}

void CheckSumsNames(Reader& r, const TSettings& s)
{
    const auto& k = SettingsKeys();
    for (std::size_t n = 0; n < s.Data.Procs.size(); ++n) {
        const TProc& p = s.Data.Procs[n];
        if (!p.Accumulate)
            continue;
        const std::string why = SumsNameTrouble(p.Name);
        if (!why.empty())
            r.Report(NumberedName(k.FormulaSection, n), k.FormulaName, p.Name,
                     "the running total cannot be kept under this name: " + why,
                     "the total is saved at close but not read back: it starts from 0 at every start");
    }
}

// "формула" of a chart or "Формула" of a gauge: past the last formula it is 0.
std::uint16_t FormulaReference(Reader& r, const TAllData& d, const std::string& sec, const std::string& key)
{
    const std::uint16_t v = r.U16(sec, key, 0);
    if (static_cast<int>(v) > static_cast<int>(d.FormulaCount) - 1) {
        if (v != 0)
            r.Report(sec, key, r.Raw(sec, key).value_or(""),
                     "formula " + Num(v) + " does not exist (" + Num(d.FormulaCount) + " formulas)",
                     "formula 0 is shown instead");
        return 0;
    }
    return v;
}

void ReadLoggers(Reader& r, TSettings& s)
{
    const auto& k = SettingsKeys();
    const TAllData& d = s.Data;
    s.Loggers.assign(d.LoggerCount, TLogSettings{});
    for (std::size_t i = 0; i < d.LoggerCount; ++i) {
        const std::string sec = NumberedName(k.LoggerSection, i);
        TLogSettings& l = s.Loggers[i];
        l.Height = r.Int(sec, k.LoggerHeight, 150);
        l.FormulaIndex = FormulaReference(r, d, sec, k.LoggerFormula);
        l.LabelText = r.Text(sec, k.LoggerLabel, NumberedName(k.DefaultLoggerLabel, i));
        l.MaxValue = r.Int(sec, k.LoggerMax, 100);
        l.MinValue = r.Int(sec, k.LoggerMin, 0);
        l.TraceColor = r.Colour(sec, k.LoggerColor, 0xFF0000);
        if (l.MaxValue == l.MinValue) {
            l.Inert = true;
            r.Report(sec, k.LoggerMax, r.Raw(sec, k.LoggerMax).value_or(""),
                     "the top and bottom values are both " + Num(l.MaxValue) + ": the chart has no scale",
                     "the chart scrolls and shows its caption and value, but draws no bars");
        }
    }
}

void ReadGauges(Reader& r, TSettings& s)
{
    const auto& k = SettingsKeys();
    TAllData& d = s.Data;
    d.Gauges.assign(d.GaugeCount, TPribor{});
    for (std::size_t i = 0; i < d.GaugeCount; ++i) {
        const std::string sec = NumberedName(k.GaugeSection, i);
        TPribor& g = d.Gauges[i];
        g.Name = r.Text(sec, k.GaugeName, "NoName");
        g.Kind = r.U8(sec, k.GaugeKind, 0);
        g.FormulaIndex = FormulaReference(r, d, sec, k.GaugeFormula);
        g.Size = r.U16(sec, k.GaugeSize, 50);
        g.X = r.U16(sec, k.GaugeX, 50);
        g.Y = r.U16(sec, k.GaugeY, 50);
        g.Maximum = r.Int(sec, k.GaugeMax, 50);
        g.Minimum = r.Int(sec, k.GaugeMin, 0);
        g.ScaleDivisions = r.U16(sec, k.GaugeDivisions, 50);
        g.LabelDigits = r.U16(sec, k.GaugeDigits, 50);
        g.StartAngle = r.S16(sec, k.GaugeStartAngle, 50);
        g.EndAngle = r.S16(sec, k.GaugeEndAngle, 50);
        g.Horizontal = r.Flag(sec, k.GaugeHorizontal, false);
        g.Reverse = r.Flag(sec, k.GaugeReverse, false);
        g.ScaleColor = r.Colour(sec, k.GaugeScaleColor, 50);
        g.NeedleColor = r.Colour(sec, k.GaugeNeedleColor, 50);
        g.TextColor = r.Colour(sec, k.GaugeTextColor, 50);
        g.AlarmEnabled = r.Flag(sec, k.GaugeAlarm, false);
        g.AlarmBelow = r.Flag(sec, k.GaugeAlarmBelow, false);
        g.AlarmLevel = r.Real(sec, k.GaugeAlarmLevel, 10.0);
        g.AlarmSound = r.Flag(sec, k.GaugeAlarmSound, false);

        // Every frame places the value on the scale, dividing by Max - Min,
        // whatever the kind; dials and bars also divide by the divisions.
        const bool drawn = g.Kind <= 4;
        if (g.Maximum == g.Minimum) {
            g.Inert = true;
            if (drawn)
                r.Report(sec, k.GaugeMax, r.Raw(sec, k.GaugeMax).value_or(""),
                         "the maximum and minimum are both " + Num(g.Maximum) + ": the gauge has no scale",
                         "the gauge is not drawn");
        } else if (g.Kind <= 1 && g.ScaleDivisions == 0) {
            g.Inert = true;
            r.Report(sec, k.GaugeDivisions, r.Raw(sec, k.GaugeDivisions).value_or(""),
                     "a scale of 0 divisions", "the gauge is not drawn");
        }
    }
}

void ReadClock(Reader& r, TSettings& s)
{
    const auto& k = SettingsKeys();
    TAllData& d = s.Data;
    d.ClockSize = r.U16(k.Clock, k.ClockSize, 50);
    d.ClockX = r.U16(k.Clock, k.ClockX, 50);
    d.ClockY = r.U16(k.Clock, k.ClockY, 50);
    d.ClockColor = r.Colour(k.Clock, k.ClockColor, 50);
    d.ClockVisible = r.Flag(k.Clock, k.ClockVisible, false);
}

void CheckMoment(Reader& r, TSettings& s)
{
    const auto& k = SettingsKeys();
    TAllData& d = s.Data;
    const std::string& g = k.General;
    if (d.MomentFormula >= d.FormulaCount)
        r.Report(g, k.MomentFormula, r.Raw(g, k.MomentFormula).value_or("0"),
                 "formula " + Num(d.MomentFormula) + " does not exist (" + Num(d.FormulaCount) + " formulas)",
                 "the chart tab's Y reads 0");
    if (d.MomentChart >= s.Loggers.size()) {
        d.MomentInert = true;
        r.Report(g, k.MomentChart, r.Raw(g, k.MomentChart).value_or("0"),
                 "strip chart " + Num(d.MomentChart) + " does not exist (" + Num(s.Loggers.size()) + " strip charts)",
                 "the chart tab draws nothing");
    } else if (s.Loggers[d.MomentChart].MaxValue == 0) {
        d.MomentInert = true;
        const std::string sec = NumberedName(k.LoggerSection, d.MomentChart);
        r.Report(sec, k.LoggerMax, r.Raw(sec, k.LoggerMax).value_or(""),
                 "the chart tab takes its X scale from this chart, whose top value is 0",
                 "the chart tab draws nothing");
    }
    if (d.MomentYMax == 0) {
        d.MomentInert = true;
        r.Report(g, k.MomentYMax, r.Raw(g, k.MomentYMax).value_or(""), "the chart tab's Y scale is 0",
                 "the chart tab draws nothing");
    }
}

TSettings Load(const TIniFile& ini)
{
    TSettings s;
    Reader r(ini, s.Problems);
    ReadGeneral(r, s);
    ReadAreas(r, s);
    ReadFormulas(r, s);
    CheckSumsNames(r, s);
    ReadLoggers(r, s);
    ReadGauges(r, s);
    ReadClock(r, s);
    CheckMoment(r, s);
    return s;
}

}  // namespace

TSettings LoadSettingsFromBytes(std::string_view bytes)
{
    TSettings s = Load(TIniFile(std::string(bytes)));
    s.FileFound = true;
    return s;
}

TSettings LoadSettings(const std::filesystem::path& programFolder)
{
    const TFileBytes file = ReadFileBytes(programFolder / kSettingsFileName);
    if (file.Status == FileStatus::Read)
        return LoadSettingsFromBytes(file.Bytes);
    TSettings s = Load(TIniFile());
    if (file.Status == FileStatus::Unreadable)
        s.Problems.insert(s.Problems.begin(),
                          TSettingsProblem{"", "", "", file.Error, "every setting takes its default"});
    return s;
}

std::string ForeignFileReason(std::string_view bytes)
{
    if (bytes.empty())
        return {};
    std::string reason;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        // Text holds no control bytes but blanks and line breaks (and the
        // end-of-file mark some old editors leave).
        const bool text = c >= 0x20 || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f' || c == 0x1A;
        if (!text) {
            char where[64];
            std::snprintf(where, sizeof where, "binary bytes (0x%02X at offset %zu)", c, i);
            reason = where;
            break;
        }
    }

    const auto& k = SettingsKeys();
    const auto folded = [](std::string_view name) {
        std::string out(name);
        for (char& c : out)
            c = static_cast<char>(FoldCase1251(static_cast<unsigned char>(c)));
        return out;
    };
    const std::string fixed[] = {folded(k.General), folded(k.Areas), folded(k.Clock)};
    const std::string numbered[] = {folded(k.FormulaSection), folded(k.LoggerSection), folded(k.GaugeSection)};
    const auto known = [&](const std::string& name) {
        for (const std::string& f : fixed)
            if (name == f)
                return true;
        for (const std::string& prefix : numbered)
            if (name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0 &&
                name.find_first_not_of("0123456789", prefix.size()) == std::string::npos)
                return true;
        return false;
    };
    bool any = false;
    for (const std::string& name : TIniFile(std::string(bytes)).SectionNames())
        any = any || known(name);
    if (!any)
        reason += std::string(reason.empty() ? "" : " and ") + "no section of the settings at all";
    return reason;
}

std::vector<std::string> VariableNames(const TProc& p)
{
    std::vector<std::string> names;
    names.reserve(p.Vars.size());
    for (const TPerem& v : p.Vars)
        names.push_back(v.Name);
    return names;
}

}  // namespace kovra
