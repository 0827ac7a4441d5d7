// kovra settings [--check] [FOLDER]: the model read from FOLDER/set.ini, as
// JSON, or the list of what in it the logger cannot use, followed by advice
// on what would make it poll faster.
#include "commands.h"

#include "config/cp1251.h"
#include "config/format.h"
#include "config/ini.h"
#include "config/run_state.h"
#include "config/settings.h"
#include "config/settings_keys.h"
#include "formcomp/formula.h"
#include "formcomp/postfix.h"
#include "formcomp/recognizer.h"
#include "link/poll_protocol.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

namespace kovra::cli {

namespace {

// A run's state is not part of the model, yet the output has always shown
// it beside the settings: it shows what a run begins with.
const TMomentState kFreshMoment{};
constexpr double kFreshValue = 0.0;
constexpr bool kFreshAlarm = false;

// The fields of each record, listed once, in the order they are printed. A
// field added to a record is added here, and every output that walks the
// record takes it from here.
template <typename F>
void Fields(const TWindowOptions& o, F&& f)
{
    f("FullScreen", o.FullScreen);
    f("PanelColor", o.PanelColor);
    f("ReplyTimeout", o.ReplyTimeout);
    f("ChartTextColor", o.ChartTextColor);
    f("ChartTextHeight", o.ChartTextHeight);
    f("DoubleBuffered", o.DoubleBuffered);
    f("PortName", o.PortName);
    f("Preamble", o.Preamble);
    f("AutoStartLog", o.AutoStartLog);
    f("Language", o.Language);
}

template <typename F>
void Fields(const TArea& a, F&& f)
{
    f("Address", a.Address);
    f("SampleOffset", a.SampleOffset);
    f("Length", a.Length);
}

template <typename F>
void Fields(const TPerem& v, F&& f)
{
    f("Name", v.Name);
    f("Kind", v.Kind);
    f("SampleIndex", v.SampleIndex);
    f("IsBit", v.IsBit);
    f("AreaIndex", v.AreaIndex);
    f("BitNumber", v.BitNumber);
    f("FormulaIndex", v.FormulaIndex);
}

template <typename F>
void Fields(const TProc& p, F&& f)
{
    f("Name", p.Name);
    f("Accumulate", p.Accumulate);
    f("Value", kFreshValue);
    f("VarCount", p.VarCount);
    f("Vars", p.Vars);
}

template <typename F>
void Fields(const TPribor& g, F&& f)
{
    f("Name", g.Name);
    f("Kind", g.Kind);
    f("FormulaIndex", g.FormulaIndex);
    f("Size", g.Size);
    f("X", g.X);
    f("Y", g.Y);
    f("Maximum", g.Maximum);
    f("Minimum", g.Minimum);
    f("ScaleDivisions", g.ScaleDivisions);
    f("LabelDigits", g.LabelDigits);
    f("StartAngle", g.StartAngle);
    f("EndAngle", g.EndAngle);
    f("Horizontal", g.Horizontal);
    f("Reverse", g.Reverse);
    f("ScaleColor", g.ScaleColor);
    f("NeedleColor", g.NeedleColor);
    f("TextColor", g.TextColor);
    f("AlarmEnabled", g.AlarmEnabled);
    f("AlarmBelow", g.AlarmBelow);
    f("AlarmLevel", g.AlarmLevel);
    f("AlarmSound", g.AlarmSound);
    f("AlarmActive", kFreshAlarm);
    f("Inert", g.Inert);
}

template <typename F>
void Fields(const TAllData& d, F&& f)
{
    f("AreaCount", d.AreaCount);
    f("Areas", d.Areas);
    f("SampleLength", d.SampleLength);
    f("FormulaCount", d.FormulaCount);
    f("Procs", d.Procs);
    f("LoggerCount", d.LoggerCount);
    f("GaugeCount", d.GaugeCount);
    f("Gauges", d.Gauges);
    f("ClockSize", d.ClockSize);
    f("ClockX", d.ClockX);
    f("ClockY", d.ClockY);
    f("ClockColor", d.ClockColor);
    f("ClockVisible", d.ClockVisible);
    f("MomentFormula", d.MomentFormula);
    f("MomentPeak", kFreshMoment.MomentPeak);
    f("MomentChart", d.MomentChart);
    f("MomentYMax", d.MomentYMax);
    f("MomentPrevX", kFreshMoment.MomentPrevX);
    f("MomentRestart", kFreshMoment.MomentRestart);
    f("ObdMode", d.ObdMode);
    f("MomentInert", d.MomentInert);
}

template <typename F>
void Fields(const TLogSettings& l, F&& f)
{
    f("Height", l.Height);
    f("FormulaIndex", l.FormulaIndex);
    f("LabelText", l.LabelText);
    f("MaxValue", l.MaxValue);
    f("MinValue", l.MinValue);
    f("TraceColor", l.TraceColor);
    f("Inert", l.Inert);
}

template <typename F>
void Fields(const TSettingsProblem& p, F&& f)
{
    f("Section", p.Section);
    f("Key", p.Key);
    f("Value", p.Value);
    f("Problem", p.Problem);
    f("Action", p.Action);
}

template <typename F>
void Fields(const TSettings& s, F&& f)
{
    f("FileFound", s.FileFound);
    f("Options", s.Options);
    f("Data", s.Data);
    f("FormulaTexts", s.FormulaTexts);
    f("Loggers", s.Loggers);
    f("Problems", s.Problems);
}

template <typename T>
concept Record = requires(const T& r) { Fields(r, [](const char*, const auto&) {}); };

template <typename T>
struct IsVector : std::false_type {};
template <typename T>
struct IsVector<std::vector<T>> : std::true_type {};

// A JSON writer that keeps fields in the order they are written; a value's
// JSON form follows from its type.
class Json {
public:
    template <typename T>
    void Put(const char* key, const T& v)
    {
        if constexpr (Record<T>) {
            Open(key, '{');
            Fields(v, [this](const char* k, const auto& field) { Put(k, field); });
            Close('}');
        } else if constexpr (IsVector<T>::value) {
            Open(key, '[');
            for (const auto& item : v)
                Put(nullptr, item);
            Close(']');
        } else if constexpr (std::is_same_v<T, std::string>) {
            Field(key, Quote(Cp1251ToUtf8(v)));
        } else if constexpr (std::is_same_v<T, bool>) {
            Field(key, v ? "true" : "false");
        } else if constexpr (std::is_floating_point_v<T>) {
            Real(key, v);
        } else if constexpr (std::is_integral_v<T>) {
            Field(key, std::to_string(static_cast<long long>(v)));
        } else {
            static_assert(sizeof(T) == 0, "no JSON form for this field's type");
        }
    }

    void BeginObject() { Open(nullptr, '{'); }
    void EndObject() { Close('}'); }

    const std::string& Result() const { return out_; }

private:
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
    Json j;
    j.BeginObject();
    j.Put("File", DisplayPath(file));
    Fields(s, [&j](const char* k, const auto& field) { j.Put(k, field); });
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

std::string Hex(std::size_t v)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%02zX", v);
    return buf;
}

// "0, 1 and 2"
std::string AreaList(const std::vector<std::size_t>& areas)
{
    std::string out;
    for (std::size_t i = 0; i < areas.size(); ++i) {
        if (i > 0)
            out += i + 1 == areas.size() ? " and " : ", ";
        out += std::to_string(areas[i]);
    }
    return out;
}

// Not problems: the settings work as they are, only slower than they could.
std::vector<std::string> Advice(const TSettings& s)
{
    const std::uint8_t preamble = s.Options.Preamble ? kPreambleOn : 0;
    std::vector<std::string> out;
    for (const TAreaMerge& m : MergeableAreas(s.Data.Areas, preamble)) {
        std::size_t separate = 0;
        for (std::size_t i : m.Areas)
            separate += s.Data.Areas[i].Length;
        char speedUp[32];
        std::snprintf(speedUp, sizeof speedUp, "%.1f", m.SpeedUp());
        const std::string span = m.Length > 0 ? " (" + Hex(m.Address) + " to " + Hex(m.Address + m.Length - 1) + ")" : "";
        out.push_back("areas " + AreaList(m.Areas) + " " + (separate > m.Length ? "overlap" : "lie side by side") +
                      " in the ECU's memory" + span + ": read as one area of " + std::to_string(m.Length) + " bytes at " + Hex(m.Address) +
                      ", a cycle takes " + std::to_string(m.BytesAfter) + " bytes on the line instead of " +
                      std::to_string(m.BytesBefore) + ", about " + speedUp +
                      " times the cycles per second (the variables' offsets then count in the merged area)");
    }
    return out;
}

void Write(const std::string& text, std::FILE* to)
{
    std::fwrite(text.data(), 1, text.size(), to);
    std::fflush(to);
}

// Why the folder cannot be searched for set.ini, or empty when it can.
std::string FolderTrouble(const std::filesystem::path& folder, const std::filesystem::path& file)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::file_status status = fs::status(folder, ec);
    if (status.type() == fs::file_type::not_found)
        return "folder " + DisplayPath(folder) + " does not exist";
    if (ec)
        return "cannot search folder " + DisplayPath(folder) + ": " + ec.message();
    if (status.type() != fs::file_type::directory)
        return DisplayPath(folder) + " is not a folder";
    // A folder that may be listed but not searched hides set.ini as if it were
    // missing; asking for the file itself tells the two apart.
    if (fs::status(file, ec).type() == fs::file_type::none)
        return "cannot search folder " + DisplayPath(folder) + " for " + kSettingsFileName + ": " + ec.message();
    return {};
}

int Run(const std::string& folderArg, bool check)
{
    namespace fs = std::filesystem;
    const fs::path folder = folderArg.empty() ? fs::path(".") : fs::path(folderArg);
    const fs::path file = folder / kSettingsFileName;
    if (const std::string trouble = FolderTrouble(folder, file); !trouble.empty()) {
        Write("kovra settings: " + Cp1251ToUtf8(trouble) + "\n", stderr);
        return 2;
    }
    const TFileBytes bytes = ReadFileBytes(file);
    if (bytes.Status == FileStatus::Unreadable) {
        Write("kovra settings: " + Cp1251ToUtf8(bytes.Error) + "\n", stderr);
        return 2;
    }
    TSettings s = bytes.Status == FileStatus::Read ? LoadSettingsFromBytes(bytes.Bytes) : LoadSettings(folder);
    if (bytes.Status == FileStatus::Missing)
        Write("kovra settings: no " + Cp1251ToUtf8(DisplayPath(file)) + ": every setting takes its default\n",
              stderr);
    if (bytes.Status == FileStatus::Read) {
        // Most likely the wrong file: it is read all the same, but said first.
        if (const std::string foreign = ForeignFileReason(bytes.Bytes); !foreign.empty())
            s.Problems.insert(s.Problems.begin(),
                              TSettingsProblem{"", "", "", DisplayPath(file) + " is not a settings file: " + foreign,
                                               "the settings it does not hold take their defaults"});
    }
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
    for (const std::string& a : Advice(s))
        out += "advice: " + a + "\n";
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
                  "list every setting the logger cannot use and every refused formula (exit 1 when there is any), "
                  "then advice on faster polling");
    cmd->callback([folder, check] {
        const int code = Run(*folder, *check);
        if (code != 0)
            ExitWith(code);
    });
}

}  // namespace kovra::cli
