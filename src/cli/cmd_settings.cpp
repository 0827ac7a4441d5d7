// kovra settings [--check] [FOLDER]: the model read from FOLDER/set.ini, as
// JSON, or the list of what in it the logger cannot use.
#include "commands.h"

#include "config/cp1251.h"
#include "config/format.h"
#include "config/ini.h"
#include "config/settings.h"
#include "config/settings_keys.h"
#include "formcomp/formula.h"
#include "formcomp/postfix.h"
#include "formcomp/recognizer.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace kovra::cli {

namespace {

// A JSON writer that keeps fields in the order they are written.
class Json {
public:
    void BeginObject(const char* key = nullptr) { Open(key, '{'); }
    void EndObject() { Close('}'); }
    void BeginArray(const char* key = nullptr) { Open(key, '['); }
    void EndArray() { Close(']'); }

    void Text(const char* key, std::string_view cp1251) { Field(key, Quote(Cp1251ToUtf8(cp1251))); }
    void Bool(const char* key, bool v) { Field(key, v ? "true" : "false"); }
    void Int(const char* key, long long v) { Field(key, std::to_string(v)); }
    void Real(const char* key, double v)
    {
        if (!std::isfinite(v)) {
            Field(key, "null");
            return;
        }
        char buf[64];
        const auto r = std::to_chars(buf, buf + sizeof buf, v);
        Field(key, std::string(buf, r.ptr));
    }
    void Null(const char* key) { Field(key, "null"); }

    const std::string& Result() const { return out_; }

private:
    static std::string Quote(const std::string& s)
    {
        std::string q = "\"";
        for (unsigned char c : s) {
            switch (c) {
            case '"': q += "\\\""; break;
            case '\\': q += "\\\\"; break;
            case '\n': q += "\\n"; break;
            case '\r': q += "\\r"; break;
            case '\t': q += "\\t"; break;
            default:
                if (c < 0x20) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    q += buf;
                } else {
                    q += static_cast<char>(c);
                }
            }
        }
        return q + "\"";
    }
    void Separator()
    {
        if (!first_.empty()) {
            if (!first_.back())
                out_ += ',';
            first_.back() = false;
            out_ += '\n';
            out_.append(2 * first_.size(), ' ');
        }
    }
    void Field(const char* key, const std::string& value)
    {
        Separator();
        if (key)
            out_ += Quote(key) + ": ";
        out_ += value;
    }
    void Open(const char* key, char bracket)
    {
        Separator();
        if (key)
            out_ += Quote(key) + ": ";
        out_ += bracket;
        first_.push_back(true);
    }
    void Close(char bracket)
    {
        const bool empty = first_.back();
        first_.pop_back();
        if (!empty) {
            out_ += '\n';
            out_.append(2 * first_.size(), ' ');
        }
        out_ += bracket;
    }

    std::string out_;
    std::vector<bool> first_;
};

std::string ModelJson(const TSettings& s, const std::filesystem::path& file)
{
    const TAllData& d = s.Data;
    Json j;
    j.BeginObject();
    j.Text("File", DisplayPath(file));
    j.Bool("FileFound", s.FileFound);

    const TWindowOptions& o = s.Options;
    j.BeginObject("Options");
    j.Bool("FullScreen", o.FullScreen);
    j.Int("PanelColor", o.PanelColor);
    j.Int("ReplyTimeout", o.ReplyTimeout);
    j.Int("ChartTextColor", o.ChartTextColor);
    j.Int("ChartTextHeight", o.ChartTextHeight);
    j.Bool("DoubleBuffered", o.DoubleBuffered);
    j.Text("PortName", o.PortName);
    j.Bool("Preamble", o.Preamble);
    j.Bool("AutoStartLog", o.AutoStartLog);
    j.Text("Language", o.Language);
    j.EndObject();

    j.BeginObject("Data");
    j.Int("AreaCount", d.AreaCount);
    j.BeginArray("Areas");
    for (const TArea& a : d.Areas) {
        j.BeginObject();
        j.Int("Address", a.Address);
        j.Int("SampleOffset", a.SampleOffset);
        j.Int("Length", a.Length);
        j.EndObject();
    }
    j.EndArray();
    j.Int("SampleLength", static_cast<long long>(d.SampleLength));
    j.Int("FormulaCount", d.FormulaCount);
    j.BeginArray("Procs");
    for (const TProc& p : d.Procs) {
        j.BeginObject();
        j.Text("Name", p.Name);
        j.Bool("Accumulate", p.Accumulate);
        j.Real("Value", p.Value);
        j.Int("VarCount", p.VarCount);
        j.BeginArray("Vars");
        for (const TPerem& v : p.Vars) {
            j.BeginObject();
            j.Text("Name", v.Name);
            j.Int("Kind", v.Kind);
            j.Int("SampleIndex", v.SampleIndex);
            j.Bool("IsBit", v.IsBit);
            j.Int("AreaIndex", v.AreaIndex);
            j.Int("BitNumber", v.BitNumber);
            j.Int("FormulaIndex", v.FormulaIndex);
            j.EndObject();
        }
        j.EndArray();
        j.EndObject();
    }
    j.EndArray();
    j.Int("LoggerCount", d.LoggerCount);
    j.Int("GaugeCount", d.GaugeCount);
    j.BeginArray("Gauges");
    for (const TPribor& g : d.Gauges) {
        j.BeginObject();
        j.Text("Name", g.Name);
        j.Int("Kind", g.Kind);
        j.Int("FormulaIndex", g.FormulaIndex);
        j.Int("Size", g.Size);
        j.Int("ScaledSize", g.ScaledSize);
        j.Int("X", g.X);
        j.Int("Y", g.Y);
        j.Int("ScaledX", g.ScaledX);
        j.Int("ScaledY", g.ScaledY);
        j.Int("Maximum", g.Maximum);
        j.Int("Minimum", g.Minimum);
        j.Int("ScaleDivisions", g.ScaleDivisions);
        j.Int("LabelDigits", g.LabelDigits);
        j.Int("StartAngle", g.StartAngle);
        j.Int("EndAngle", g.EndAngle);
        j.Bool("Horizontal", g.Horizontal);
        j.Bool("Reverse", g.Reverse);
        j.Int("ScaleColor", g.ScaleColor);
        j.Int("NeedleColor", g.NeedleColor);
        j.Int("TextColor", g.TextColor);
        j.Bool("AlarmEnabled", g.AlarmEnabled);
        j.Bool("AlarmBelow", g.AlarmBelow);
        j.Real("AlarmLevel", g.AlarmLevel);
        j.Bool("AlarmSound", g.AlarmSound);
        j.Bool("AlarmActive", g.AlarmActive);
        j.Real("ScaleStart", g.ScaleStart);
        j.Real("ScaleEnd", g.ScaleEnd);
        j.Real("AlarmPos", g.AlarmPos);
        j.Null("IconOff");
        j.Null("IconOn");
        j.Bool("Inert", g.Inert);
        j.EndObject();
    }
    j.EndArray();
    j.Int("ClockSize", d.ClockSize);
    j.Int("ClockScaledSize", d.ClockScaledSize);
    j.Int("ClockX", d.ClockX);
    j.Int("ClockY", d.ClockY);
    j.Int("ClockScaledX", d.ClockScaledX);
    j.Int("ClockScaledY", d.ClockScaledY);
    j.Int("ClockColor", d.ClockColor);
    j.Bool("ClockVisible", d.ClockVisible);
    j.Int("MomentFormula", d.MomentFormula);
    j.Real("MomentPeak", d.MomentPeak);
    j.Int("MomentChart", d.MomentChart);
    j.Int("MomentYMax", d.MomentYMax);
    j.Real("MomentPrevX", d.MomentPrevX);
    j.Bool("MomentRestart", d.MomentRestart);
    j.Bool("ObdMode", d.ObdMode);
    j.Bool("MomentInert", d.MomentInert);
    j.EndObject();

    j.BeginArray("FormulaTexts");
    for (const std::string& t : s.FormulaTexts)
        j.Text(nullptr, t);
    j.EndArray();

    j.BeginArray("Loggers");
    for (const TLogSettings& l : s.Loggers) {
        j.BeginObject();
        j.Int("Height", l.Height);
        j.Int("FormulaIndex", l.FormulaIndex);
        j.Text("LabelText", l.LabelText);
        j.Int("MaxValue", l.MaxValue);
        j.Int("MinValue", l.MinValue);
        j.Int("TraceColor", l.TraceColor);
        j.Bool("Inert", l.Inert);
        j.EndObject();
    }
    j.EndArray();

    j.BeginArray("Problems");
    for (const TSettingsProblem& p : s.Problems) {
        j.BeginObject();
        j.Text("Section", p.Section);
        j.Text("Key", p.Key);
        j.Text("Value", p.Value);
        j.Text("Problem", p.Problem);
        j.Text("Action", p.Action);
        j.EndObject();
    }
    j.EndArray();
    j.EndObject();
    return j.Result() + "\n";
}

// One line per problem: where, the value, what is wrong, what the logger does.
std::string ProblemLine(const TSettingsProblem& p)
{
    std::string line;
    if (!p.Section.empty()) {
        line = "[" + p.Section + "] " + p.Key + " = '" + p.Value + "': ";
    }
    line += p.Problem + "; " + p.Action;
    return Cp1251ToUtf8(line) + "\n";
}

std::vector<TSettingsProblem> RefusedFormulas(const TSettings& s)
{
    const auto& k = SettingsKeys();
    std::vector<TSettingsProblem> out;
    for (std::size_t n = 0; n < s.Data.Procs.size(); ++n) {
        TFormula f;
        std::string reason;
        try {
            CompileFormula(f, s.FormulaTexts[n], VariableNames(s.Data.Procs[n]));
            if (!f.Accepted)
                reason = f.RefuseReason.empty() ? "not accepted" : f.RefuseReason;
        } catch (const std::exception& e) {
            reason = e.what();
        }
        if (!reason.empty()) {
            out.push_back({NumberedName(k.FormulaSection, n), k.FormulaText, s.FormulaTexts[n],
                           "the formula is refused: " + reason, "it evaluates to 0"});
            continue;
        }
        // Accepted, but a name that plain character scanning would cut
        // differently (t_1, sinus, amodb): worth knowing before relying on it.
        const std::string why = ExplainScannerMismatch(PrepareText(s.FormulaTexts[n]),
                                                       PrepareNames(VariableNames(s.Data.Procs[n])));
        if (!why.empty())
            out.push_back({NumberedName(k.FormulaSection, n), k.FormulaText, s.FormulaTexts[n],
                           "names that are not plain words: " + why,
                           "each is read as the whole configured name"});
    }
    return out;
}

void Write(const std::string& text, std::FILE* to)
{
    std::fwrite(text.data(), 1, text.size(), to);
    std::fflush(to);
}

int Run(const std::string& folderArg, bool check)
{
    namespace fs = std::filesystem;
    const fs::path folder = folderArg.empty() ? fs::path(".") : fs::path(folderArg);
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
        Write("kovra settings: folder '" + folderArg + "' does not exist\n", stderr);
        return 2;
    }
    const fs::path file = folder / kSettingsFileName;
    const TFileBytes bytes = ReadFileBytes(file);
    if (bytes.Status == FileStatus::Unreadable) {
        Write("kovra settings: " + Cp1251ToUtf8(bytes.Error) + "\n", stderr);
        return 2;
    }
    TSettings s = bytes.Status == FileStatus::Read ? LoadSettingsFromBytes(bytes.Bytes) : LoadSettings(folder);
    if (bytes.Status == FileStatus::Missing)
        Write("kovra settings: no " + Cp1251ToUtf8(DisplayPath(file)) + ": every setting takes its default\n",
              stderr);
    if (!check) {
        Write(ModelJson(s, file), stdout);
        return 0;
    }
    std::vector<TSettingsProblem> problems = s.Problems;
    const auto refused = RefusedFormulas(s);
    problems.insert(problems.end(), refused.begin(), refused.end());
    std::string out;
    for (const TSettingsProblem& p : problems)
        out += ProblemLine(p);
    Write(out, stdout);
    return problems.empty() ? 0 : 1;
}

}  // namespace

void AddSettingsCommand(CLI::App& app)
{
    auto* cmd = app.add_subcommand("settings", "print the model read from FOLDER/set.ini as JSON, or check it");
    auto folder = std::make_shared<std::string>();
    auto check = std::make_shared<bool>(false);
    cmd->add_option("folder", *folder, "the program folder holding set.ini (default: the current folder)");
    cmd->add_flag("--check", *check,
                  "list every setting the logger cannot use and every refused formula; exit 1 when there is any");
    cmd->callback([folder, check] {
        const int code = Run(*folder, *check);
        if (code != 0)
            ExitWith(code);
    });
}

}  // namespace kovra::cli
