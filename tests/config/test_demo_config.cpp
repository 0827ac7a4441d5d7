// The demo folder is what a new user starts from: its set.ini must load without
// a single problem, every formula must compile, the formulas must turn the
// simulated ECU's bytes into the quantities their names promise, and the panel
// must fit the 444 x 249.75 units it is drawn on.
#include "config/cp1251.h"
#include "config/language.h"
#include "config/settings.h"
#include "formcomp/formula.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

namespace kovra {
namespace {

const std::filesystem::path kDemo = std::filesystem::path(KOVRA_SOURCE_DIR) / "demo";

std::string Utf8(const std::string& cp1251) { return Cp1251ToUtf8(cp1251); }

class DemoConfig : public ::testing::Test {
protected:
    void SetUp() override { s_ = LoadSettings(kDemo); }

    // Index of the formula of that name (given in UTF-8), or -1.
    int FormulaNamed(const char* utf8) const
    {
        const std::string name = Utf8ToCp1251(utf8);
        for (std::size_t i = 0; i < s_.Data.Procs.size(); ++i)
            if (s_.Data.Procs[i].Name == name)
                return static_cast<int>(i);
        return -1;
    }

    TSettings s_;
};

TEST_F(DemoConfig, LoadsWithoutProblems)
{
    ASSERT_TRUE(s_.FileFound) << kDemo;
    for (const TSettingsProblem& p : s_.Problems)
        ADD_FAILURE() << Utf8(p.Section) << " / " << Utf8(p.Key) << " = " << Utf8(p.Value) << ": "
                      << p.Problem << " (" << p.Action << ")";
    const TAllData& d = s_.Data;
    EXPECT_LT(d.MomentFormula, d.FormulaCount);
    ASSERT_LT(d.MomentChart, s_.Loggers.size());
    // Both are divisors on the chart tab.
    EXPECT_GT(s_.Loggers[d.MomentChart].MaxValue, 0);
    EXPECT_GT(d.MomentYMax, 0);
}

TEST_F(DemoConfig, EveryFormulaCompiles)
{
    ASSERT_EQ(s_.FormulaTexts.size(), s_.Data.Procs.size());
    for (std::size_t i = 0; i < s_.Data.Procs.size(); ++i) {
        TFormula f;
        EXPECT_TRUE(CompileFormula(f, s_.FormulaTexts[i], VariableNames(s_.Data.Procs[i])))
            << "formula " << i << " " << Utf8(s_.FormulaTexts[i]) << ": " << f.RefuseReason;
    }
}

// One operating point of the simulated ECU, in engineering units, and the
// bytes its memory map holds for it.
struct EcuPoint {
    const char* label;
    int rpm, coolant, intake, throttleByte, speed;
    double injectionMs, battery;
    int status, torque;

    std::array<std::uint8_t, 256> Memory() const
    {
        std::array<std::uint8_t, 256> m{};
        const int inj = static_cast<int>(std::lround(injectionMs * 250));
        m[0x10] = std::uint8_t(rpm >> 8);
        m[0x11] = std::uint8_t(rpm & 0xFF);
        m[0x12] = std::uint8_t(coolant + 40);
        m[0x13] = std::uint8_t(intake + 40);
        m[0x14] = std::uint8_t(throttleByte);
        m[0x15] = std::uint8_t(speed);
        m[0x16] = std::uint8_t(inj >> 8);
        m[0x17] = std::uint8_t(inj & 0xFF);
        m[0x18] = std::uint8_t(std::lround(battery * 10));
        m[0x19] = std::uint8_t(status);
        m[0x1A] = std::uint8_t(torque / 2);
        return m;
    }
};

// Status bits: 1 running, 2 check engine, 3 fan, 4 closed-loop lambda.
const EcuPoint kIdle{"idle", 850, 90, 30, 5, 0, 2.5, 14.1, 0b1001, 20};
const EcuPoint kPull{"pull", 6500, 97, 40, 255, 160, 14.0, 13.9, 0b0111, 180};

// Polls the areas out of the memory image and runs the formulas over the
// sample for `cycles` cycles of `dt` seconds each, as the cycle does.
std::vector<double> RunCycles(TSettings& s, const EcuPoint& p, int cycles, double dt)
{
    TAllData& d = s.Data;
    const auto memory = p.Memory();
    std::vector<std::uint8_t> sample(d.SampleLength, 0);
    for (const TArea& a : d.Areas)
        for (int i = 0; i < a.Length; ++i)
            sample.at(a.SampleOffset + i) = memory[std::uint8_t(a.Address + i)];

    auto formulas = std::make_unique<TFormula[]>(d.Procs.size());
    for (std::size_t i = 0; i < d.Procs.size(); ++i)
        CompileFormula(formulas[i], s.FormulaTexts[i], VariableNames(d.Procs[i]));
    std::vector<double> values(d.Procs.size(), 0.0);
    for (int c = 0; c < cycles; ++c) {
        for (std::size_t i = 0; i < d.Procs.size(); ++i) {
            const TProc& proc = d.Procs[i];
            for (std::size_t j = 0; j < proc.Vars.size(); ++j) {
                const TPerem& v = proc.Vars[j];
                long double x = 0;
                if (v.Kind == 0) {
                    const std::uint8_t b = sample.at(v.SampleIndex);
                    x = v.IsBit ? (v.BitNumber >= 1 && v.BitNumber <= 8 ? (b >> (v.BitNumber - 1)) & 1 : 0) : b;
                } else if (v.Kind == 1) {
                    x = values.at(v.FormulaIndex);
                } else if (v.Kind == 2) {
                    x = dt;
                } else {
                    continue;
                }
                formulas[i].SetSlot(j, x);
            }
            const TEvalResult r = Evaluate(formulas[i]);
            EXPECT_EQ(r.Error, FpError::None) << p.label << ": formula " << i;
            values[i] = proc.Accumulate ? values[i] + double(r.Value) : double(r.Value);
        }
    }
    return values;
}

// Litres per hour of four 250 cc/min injectors, each opening once per two turns.
double FuelFlow(double rpm, double ms)
{
    const double shotsPerMinute = rpm / 2 * 4;
    const double ccPerMinute = shotsPerMinute * (ms / 1000) * (250.0 / 60);
    return ccPerMinute * 60 / 1000;
}

TEST_F(DemoConfig, FormulasDecodeTheEcuMemoryMap)
{
    struct Expect {
        const char* name;  // UTF-8
        double idle, pull;
        double tolerance;
    };
    // Three cycles of half a second: running totals hold three steps.
    const double hours = 3 * 0.5 / 3600;
    const Expect expected[] = {
        {"Обороты", 850, 6500, 0},
        {"Температура ОЖ", 90, 97, 0},
        {"Температура воздуха", 30, 40, 0},
        {"Дроссель", 5 * 100.0 / 255, 100, 1e-9},
        {"Скорость", 0, 160, 0},
        {"Время впрыска", 2.5, 14, 1e-9},
        {"Напряжение АКБ", 14.1, 13.9, 1e-9},
        {"Крутящий момент", 20, 180, 0},
        {"Вентилятор", 0, 1, 0},
        {"Check Engine", 0, 1, 0},
        {"Лямбда-регулирование", 1, 0, 0},
        {"Мощность", 20 * 850 / 9549.0, 180 * 6500 / 9549.0, 1e-9},
        {"Расход", FuelFlow(850, 2.5), FuelFlow(6500, 14), 1e-9},
        {"Топливо", FuelFlow(850, 2.5) * hours, FuelFlow(6500, 14) * hours, 1e-12},
        {"Пробег", 0, 160 * hours, 1e-12},
    };
    TSettings idle = LoadSettings(kDemo);
    TSettings pull = LoadSettings(kDemo);
    const std::vector<double> atIdle = RunCycles(idle, kIdle, 3, 0.5);
    const std::vector<double> atPull = RunCycles(pull, kPull, 3, 0.5);
    for (const Expect& e : expected) {
        const int i = FormulaNamed(e.name);
        ASSERT_GE(i, 0) << e.name;
        EXPECT_NEAR(atIdle[i], e.idle, e.tolerance) << e.name << " at idle";
        EXPECT_NEAR(atPull[i], e.pull, e.tolerance) << e.name << " in a pull";
    }
    EXPECT_EQ(std::size(expected), s_.Data.Procs.size()) << "a formula without an expectation";
}

TEST_F(DemoConfig, PanelFitsAndDialsStandApart)
{
    constexpr double kWidth = 444, kHeight = 249.75;
    const auto& gauges = s_.Data.Gauges;
    for (std::size_t g = 0; g < gauges.size(); ++g) {
        const TPribor& p = gauges[g];
        const std::string what = "gauge " + std::to_string(g) + " " + Utf8(p.Name);
        // Dials fill a 2S box; a bar is 2S long; the rest start at X, Y.
        const double w = p.Kind <= 1 ? 2.0 * p.Size : 0;
        const double h = p.Kind == 0 || (p.Kind == 1 && p.Horizontal) ? 2.0 * p.Size : 0.2 * p.Size;
        EXPECT_LE(p.X + w, kWidth) << what;
        EXPECT_LE(p.Y + h, kHeight) << what;
        if (p.Kind == 4) {
            EXPECT_TRUE(std::filesystem::exists(kDemo / "icons" / (p.Name + ".bmp"))) << what;
        }
        if (p.Kind != 0)
            continue;
        for (std::size_t o = g + 1; o < gauges.size(); ++o) {
            const TPribor& q = gauges[o];
            if (q.Kind != 0)
                continue;
            const double dist = std::hypot((p.X + p.Size) - (q.X + q.Size), (p.Y + p.Size) - (q.Y + q.Size));
            EXPECT_GE(dist, p.Size + q.Size) << what << " overlaps gauge " << o;
        }
    }
    EXPECT_TRUE(s_.Data.ClockVisible);
    EXPECT_LE(s_.Data.ClockX, kWidth);
    EXPECT_LE(s_.Data.ClockY, kHeight);
}

TEST_F(DemoConfig, LanguageFilesGiveEveryCaption)
{
    const TCaptions ru = ReadLanguage(kDemo, s_.Options.Language);
    EXPECT_EQ(ru.TabSheet1.value_or(""), Utf8ToCp1251("Графики"));
    EXPECT_EQ(ru.TabSheet2.value_or(""), Utf8ToCp1251("Приборы"));
    EXPECT_EQ(ru.TabSheet3.value_or(""), Utf8ToCp1251("Момент"));
    EXPECT_EQ(ru.Button1.value_or(""), Utf8ToCp1251("выход"));
    EXPECT_EQ(ru.Button2.value_or(""), Utf8ToCp1251("Запись лога"));
    const TCaptions en = ReadLanguage(kDemo, "en");
    for (const auto* c : {&en.TabSheet1, &en.TabSheet2, &en.TabSheet3, &en.Button1, &en.Button2})
        EXPECT_TRUE(c->has_value() && !c->value().empty());
}

// The port names the link the demo launcher makes for the simulator, relative
// to the folder the logger runs in.
TEST_F(DemoConfig, PortIsTheLaunchersLink)
{
    std::ifstream in(std::filesystem::path(KOVRA_SOURCE_DIR) / "scripts" / "demo.sh");
    std::stringstream script;
    script << in.rdbuf();
    const std::string& port = s_.Options.PortName;
    ASSERT_EQ(port.rfind("./", 0), 0u) << port;
    EXPECT_NE(script.str().find("--link \"$stage/" + port.substr(2) + "\""), std::string::npos)
        << "scripts/demo.sh does not link " << port;
}

}  // namespace
}  // namespace kovra
