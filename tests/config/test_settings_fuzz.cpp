// Thousands of damaged settings files through the loader, the formula
// compiler and the INI writer: the model's invariants must hold for every one.
#include "config/cp1251.h"
#include "config/ini.h"
#include "config/settings.h"
#include "config/settings_keys.h"
#include "formcomp/formula.h"
#include "support/settings_text.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using namespace kovra;
using kovra::test::W;

namespace {

const std::string& Base()
{
    static const std::string base = W(
        u8"[настройки]\nкол-во_областей=3\nкол-во_формул=4\nкол-во_логов=2\nкол-во_приборов=5\n"
        u8"Момент_Формула=1\nМомент_Х=1\nпреамбула=1\n"
        u8"[области]\nсмещение_0=$10\nразмер_0=8\nсмещение_1=0x20\nразмер_1=16\nразмер_2=4\n"
        u8"[формула_0]\nназвание=Обороты\nкол-во_перем=2\nпеременная_0=a\nпеременная_1=b\n"
        u8"область_пер_1=1\nотступ_пер_1=3\nформула=a*256+b\n"
        u8"[формула_1]\nкол-во_перем=1\nвид_0=1\nномер_формулы_0=0\nпеременная_0=x\nформула=x/4\n"
        u8"[формула_2]\nсуммировать=1\nкол-во_перем=1\nвид_0=2\nпеременная_0=t\nформула=t*1,5\n"
        u8"[формула_3]\nкол-во_перем=1\nбит_0=1\nномер_бита_0=3\nобласть_пер_0=2\nформула=sin(Переменная0)\n"
        u8"[логер_0]\nформула=0\nмакс_знач=8000\n[логер_1]\nформула=1\nмакс_знач=2000\nмин_знач=-100\n"
        u8"[Прибор_0]\nВид=0\nНачУгол=225\nКонУгол=-45\nМаксимум=8000\n"
        u8"[Прибор_1]\nВид=1\nФормула=1\nГрадацияШк=10\n[Прибор_2]\nВид=2\n[Прибор_3]\nВид=3\nТревога=1\n"
        u8"[Прибор_4]\nВид=4\nТревогаУровень=2,5\n[Часы]\nОтображать=1\n");
    return base;
}

std::vector<std::string> Names()
{
    const auto& k = SettingsKeys();
    return {k.AreaCount, k.FormulaCount, k.LoggerCount, k.GaugeCount, k.MomentFormula, k.MomentChart,
            k.MomentYMax, k.Preamble, k.AreaAddress + "0", k.AreaLength + "1", k.AreaLength + "7",
            k.VarCount, k.FormulaText, k.VarKind + "0", k.VarArea + "1", k.VarOffset + "0", k.VarIsBit + "0",
            k.VarBitNumber + "0", k.VarFormula + "0", k.LoggerFormula, k.LoggerMax, k.LoggerMin, k.GaugeKind,
            k.GaugeFormula, k.GaugeMax, k.GaugeMin, k.GaugeDivisions, k.GaugeAlarmLevel, k.GaugeStartAngle};
}

std::vector<std::string> Sections()
{
    const auto& k = SettingsKeys();
    return {k.General, k.Areas, k.FormulaSection + "0", k.FormulaSection + "2", k.FormulaSection + "7",
            k.LoggerSection + "1", k.GaugeSection + "0", k.GaugeSection + "4", k.Clock};
}

const std::vector<std::string> kValues = {
    "0", "1", "-1", "2", "7", "8", "9", "76", "81", "82", "128", "200", "255", "256", "257", "300",
    "65535", "65536", "-32769", "2147483647", "-2147483648", "4294967296", "$FF", "0x", "$", "0x1F",
    "", "yes", "1e5", "1,5", "1.5", "\"3\"", "'-2'", "  4  ", "a+b", "(", "x/0", "sin(", "1e400"};

std::string Mutate(std::string s, std::mt19937& rng)
{
    static const std::vector<std::string> names = Names();
    static const std::vector<std::string> sections = Sections();
    auto pick = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng); };
    const int edits = 1 + static_cast<int>(pick(6));
    for (int e = 0; e < edits; ++e) {
        switch (pick(7)) {
        case 0:  // a setting with a value near some edge
        case 1:
            s += "[" + sections[pick(sections.size())] + "]\n" + names[pick(names.size())] + "=" +
                 kValues[pick(kValues.size())] + "\n";
            break;
        case 2: {  // the same, slipped into the middle of the file
            const std::size_t at = s.find('\n', pick(s.size() + 1));
            const std::string line = names[pick(names.size())] + "=" + kValues[pick(kValues.size())] + "\n";
            s.insert(at == std::string::npos ? s.size() : at + 1, line);
            break;
        }
        case 3:  // a random byte
            if (!s.empty())
                s[pick(s.size())] = static_cast<char>(pick(256));
            break;
        case 4:  // cut short
            s.resize(pick(s.size() + 1));
            break;
        case 5:  // a stretch repeated
            if (!s.empty()) {
                const std::size_t from = pick(s.size());
                s.insert(pick(s.size()), s.substr(from, pick(64)));
            }
            break;
        default:  // saved by a Unicode editor
            s = Cp1251ToUtf8(s);
            break;
        }
    }
    return s;
}

void CheckInvariants(const TSettings& s)
{
    const TAllData& d = s.Data;
    ASSERT_EQ(d.Areas.size(), d.AreaCount);
    ASSERT_EQ(d.Procs.size(), d.FormulaCount);
    ASSERT_EQ(s.FormulaTexts.size(), d.FormulaCount);
    ASSERT_EQ(s.Loggers.size(), d.LoggerCount);
    ASSERT_EQ(d.Gauges.size(), d.GaugeCount);
    ASSERT_LE(d.SampleLength, 255u);
    std::size_t offset = 0;
    for (const TArea& a : d.Areas) {
        ASSERT_EQ(a.SampleOffset, offset);
        offset += a.Length;
    }
    ASSERT_EQ(offset, d.SampleLength);
    for (const TProc& p : d.Procs) {
        ASSERT_EQ(p.Vars.size(), p.VarCount);
        for (const TPerem& v : p.Vars) {
            if (v.Kind == 0) {
                ASSERT_LT(v.SampleIndex, d.SampleLength);
            }
            if (v.Kind == 1) {
                ASSERT_LT(v.FormulaIndex, d.FormulaCount);
            }
        }
    }
    for (const TLogSettings& l : s.Loggers) {
        ASSERT_TRUE(l.FormulaIndex == 0 || l.FormulaIndex < d.FormulaCount);
        ASSERT_EQ(l.Inert, l.MaxValue == l.MinValue);
    }
    for (const TPribor& g : d.Gauges) {
        ASSERT_TRUE(g.FormulaIndex == 0 || g.FormulaIndex < d.FormulaCount);
        if (g.Maximum == g.Minimum || (g.Kind <= 1 && g.ScaleDivisions == 0)) {
            ASSERT_TRUE(g.Inert);
        }
    }
    const bool chartOk = d.MomentChart < s.Loggers.size() && s.Loggers[d.MomentChart].MaxValue != 0;
    ASSERT_EQ(d.MomentInert, !chartOk || d.MomentYMax == 0);
}

}  // namespace

TEST(SettingsFuzz, DamagedFilesKeepTheModelInsideItsLimits)
{
    std::mt19937 rng(20240611);
    std::string current = Base();
    std::size_t withProblems = 0;
    for (int i = 0; i < 3000; ++i) {
        // Mostly fresh damage to the good file, sometimes damage piled on damage.
        if (i % 4 != 0 || current.size() > 20000)
            current = Base();
        current = Mutate(current, rng);
        const TSettings s = LoadSettingsFromBytes(current);
        ASSERT_NO_FATAL_FAILURE(CheckInvariants(s)) << "case " << i;
        withProblems += s.Problems.empty() ? 0 : 1;
        if (i % 3 == 0) {
            for (std::size_t n = 0; n < s.Data.Procs.size(); ++n) {
                TFormula f;
                const bool ok = CompileFormula(f, s.FormulaTexts[n], VariableNames(s.Data.Procs[n]));
                ASSERT_EQ(ok, f.Accepted) << "case " << i;
                if (!f.Accepted) {
                    ASSERT_FALSE(f.RefuseReason.empty());
                }
            }
        }
    }
    EXPECT_GT(withProblems, 100u);  // the damage did reach the checks
}

TEST(SettingsFuzz, WritesReadBackAndDisturbNothingElse)
{
    std::mt19937 rng(77);
    const std::vector<std::string> sections = Sections();
    const std::vector<std::string> names = Names();
    auto pick = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng); };
    for (int i = 0; i < 1500; ++i) {
        TIniFile ini(Mutate(Base(), rng));
        const std::string section = sections[pick(sections.size())];
        const std::string key = names[pick(names.size())];
        const std::string value = std::to_string(pick(100000)) + ",25";
        std::vector<std::optional<std::string>> before;
        for (const auto& s : sections)
            for (const auto& k : names)
                before.push_back(ini.Read(s, k));
        const bool utf8 = ini.IsUtf8();
        ini.Write(section, key, value);
        ASSERT_EQ(ini.Read(section, key), value) << "case " << i;
        const TIniFile reread(ini.Bytes());
        std::size_t n = 0;
        for (const auto& s : sections)
            for (const auto& k : names) {
                const auto expected = (EqualsNoCase1251(s, section) && EqualsNoCase1251(k, key))
                                          ? std::optional<std::string>(value)
                                          : before[n];
                ASSERT_EQ(ini.Read(s, k), expected) << "case " << i;
                if (reread.IsUtf8() == utf8) {
                    ASSERT_EQ(reread.Read(s, k), expected) << "case " << i;
                }
                ++n;
            }
    }
}
