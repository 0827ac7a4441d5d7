// One whole cycle at the largest configuration a settings file can describe:
// 255 formulas, 32 strip charts 1900 pixels wide and 64 gauges on a
// 1900-pixel panel, the gauge page shown. The baseline is the one block copy
// of the panel every frame needs anyway.
#include "gauge_settings_text.h"
#include "config/cp1251.h"
#include "config/settings.h"
#include "display/canvas.h"
#include "display/gauge_back.h"
#include "display/gauge_live.h"
#include "display/strip_chart.h"
#include "run/cycle.h"

#include <QGuiApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using namespace kovra;

constexpr int kPanelWidth = 1900;

std::string LargestSettings()
{
    std::string s = "[настройки]\nкол-во_областей=4\nкол-во_формул=255\nкол-во_логов=32\nкол-во_приборов=64\n"
                    "[области]\n";
    for (int i = 0; i < 4; ++i)
        s += "смещение_" + std::to_string(i) + "=" + std::to_string(i * 60) + "\nразмер_" + std::to_string(i) + "=60\n";
    for (int n = 0; n < 255; ++n) {
        s += "[формула_" + std::to_string(n) + "]\nкол-во_перем=3\n"
             "переменная_0=a\nобласть_пер_0=" + std::to_string(n % 4) + "\nотступ_пер_0=" + std::to_string(n % 60) + "\n"
             "переменная_1=b\nобласть_пер_1=" + std::to_string((n + 1) % 4) + "\nотступ_пер_1=" + std::to_string((n * 7) % 60) + "\n"
             "переменная_2=c\nвид_2=1\nномер_формулы_2=" + std::to_string(n ? n - 1 : 0) + "\n"
             "формула=(a*256+b)/4+sin(c)*2-lnx^2\n";
        // lnx is not a variable: the formula above is refused; vary with real ones.
        s.replace(s.rfind("-lnx^2"), 6, n % 3 ? "-ln(a+1)" : "+abs(c-b)");
    }
    for (int k = 0; k < 32; ++k)
        s += "[логер_" + std::to_string(k) + "]\nвысота=150\nформула=" + std::to_string(k * 7) + "\nмакс_знач=20000\n";
    s += bench::GaugeSections();
    return Utf8ToCp1251(s);
}

struct Displays : TCycleDisplays {
    TAllData* data = nullptr;
    const TRunState* state = nullptr;
    std::vector<std::unique_ptr<TStripChart>> charts;
    QImage background, frame, shown;
    TPanelLayout layout;
    void AddToChart(std::size_t k, double v) override { charts[k]->add(v); }
    void DrawPrib() override
    {
        kovra::DrawPrib(*data, *state, layout, background, frame);
        Canvas(&shown).copyRect(0, 0, frame.width(), frame.height(), frame, 0, 0);
    }
    void DrawMoment() override {}
    void PlayAlarm() override {}
};

struct Setup {
    QTemporaryDir dir;
    TSettings settings = LoadSettingsFromBytes(LargestSettings());
    Displays displays;
    std::unique_ptr<TCycle> cycle;
    std::vector<std::uint8_t> sample;

    Setup()
    {
        TAllData& d = settings.Data;
        displays.data = &d;
        for (const TLogSettings& s : settings.Loggers) {
            auto c = std::make_unique<TStripChart>();
            c->FormulaIndex = s.FormulaIndex;
            c->MaxValue = s.MaxValue;
            c->MinValue = s.MinValue;
            c->LabelText = QStringLiteral("chart");
            c->canvas().fontBold = true;
            c->setControlSize(kPanelWidth, s.Height);
            c->add(0);
            displays.charts.push_back(std::move(c));
        }
        const QSize size = PanelSize(kPanelWidth + 18);
        DrawPribBack(d, kButtonFace, size.width(), size.height(), dir.path().toStdString(),
                     displays.background, displays.frame, displays.layout);
        displays.shown = displays.frame.copy();
        cycle = std::make_unique<TCycle>(settings, ChartFormulas(settings), &displays, nullptr);
        displays.state = &cycle->State();
        sample.assign(d.SampleLength, 0);
    }
};

Setup& Get()
{
    static Setup s;
    return s;
}

void BM_PanelCopyBaseline(benchmark::State& state)
{
    Displays& d = Get().displays;
    for (auto _ : state)
        Canvas(&d.shown).copyRect(0, 0, d.frame.width(), d.frame.height(), d.background, 0, 0);
}
BENCHMARK(BM_PanelCopyBaseline)->Unit(benchmark::kMicrosecond);

// Cycles of changing samples with `page` shown.
void RunCycles(benchmark::State& state, TShownPage page)
{
    Setup& s = Get();
    std::uint8_t tick = 0;
    for (auto _ : state) {
        for (std::size_t i = 0; i < s.sample.size(); ++i)
            s.sample[i] = static_cast<std::uint8_t>(tick + i * 13);
        ++tick;
        const TCycleOutcome out = s.cycle->LogPrint(s.sample, page);
        if (!out.Ok())
            state.SkipWithError(out.Message());
    }
}

void BM_WholeLogPrint(benchmark::State& state)
{
    RunCycles(state, TShownPage::Gauges);
    const Setup& s = Get();
    state.counters["formulas"] = static_cast<double>(s.settings.Data.Procs.size());
    state.counters["charts"] = static_cast<double>(s.displays.charts.size());
    state.counters["gauges"] = static_cast<double>(s.settings.Data.Gauges.size());
}
BENCHMARK(BM_WholeLogPrint)->Unit(benchmark::kMicrosecond);

// The cycle as the window runs it between two screen refreshes: formulas,
// sums, alarms and the 32 strip-chart steps, no display composed.
void BM_CycleBetweenFrames(benchmark::State& state) { RunCycles(state, TShownPage::None); }
BENCHMARK(BM_CycleBetweenFrames)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
