// One frame of 64 gauges on a 1900-pixel panel, composed and put on the
// screen the way the window does it (composed over the background, painted
// from where it was composed, only where it changed), against one block copy
// of the background. Prints each way's median time over the copy's at the
// end (run with --benchmark_repetitions=N for medians of N runs).
#include "gauge_settings_text.h"
#include "app/ImageView.h"
#include "config/cp1251.h"
#include "config/settings.h"
#include "display/canvas.h"
#include "display/gauge_back.h"
#include "display/gauge_live.h"

#include <QApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>

namespace {

using namespace kovra;

constexpr int kPanelWidth = 1900;

std::string PanelSettings()
{
    std::string s = "[настройки]\nкол-во_формул=192\nкол-во_приборов=64\n";
    s += bench::GaugeSections();
    return Utf8ToCp1251(s);
}

struct Screen {
    QTemporaryDir dir;
    TSettings settings = LoadSettingsFromBytes(PanelSettings());
    TRunState state{settings.Data};
    QImage background, frame;
    TPanelLayout layout;
    std::unique_ptr<ImageView> view;

    Screen()
    {
        const QSize size = PanelSize(kPanelWidth + 18);
        DrawPribBack(settings.Data, kButtonFace, size.width(), size.height(), dir.path().toStdString(), background,
                     frame, layout);
        view = std::make_unique<ImageView>();
        view->resize(size);
        view->showPicture(&frame);
        view->show();
        QCoreApplication::processEvents();
    }
    void NextValues(int tick)
    {
        for (std::size_t i = 0; i < settings.Data.Procs.size(); ++i)
            state.Values[i] = (tick * 37 + i * 101) % 20000;
    }
};

Screen& Get()
{
    static Screen s;
    return s;
}

void BM_BackgroundCopyBaseline(benchmark::State& state)
{
    Screen& s = Get();
    for (auto _ : state)
        Canvas(&s.frame).copyRect(0, 0, s.frame.width(), s.frame.height(), s.background, 0, 0);
}
BENCHMARK(BM_BackgroundCopyBaseline)->Unit(benchmark::kMicrosecond);

// What the window spends per frame shown: the frame composed, and painted
// only where it changed.
void BM_DrawPribOnScreenChanged(benchmark::State& state)
{
    Screen& s = Get();
    int tick = 0;
    for (auto _ : state) {
        s.NextValues(++tick);
        const QRegion changed = DrawPrib(s.settings.Data, s.state, s.layout, s.background, s.frame);
        s.view->repaint(changed);
    }
}
BENCHMARK(BM_DrawPribOnScreenChanged)->Unit(benchmark::kMicrosecond);

// The same painting the whole picture, as the window did before.
void BM_DrawPribOnScreen(benchmark::State& state)
{
    Screen& s = Get();
    int tick = 0;
    for (auto _ : state) {
        s.NextValues(++tick);
        DrawPrib(s.settings.Data, s.state, s.layout, s.background, s.frame);
        s.view->repaint();
    }
}
BENCHMARK(BM_DrawPribOnScreen)->Unit(benchmark::kMicrosecond);

// The same when every frame starts from a whole copy of the background, as
// it does after a resize.
void BM_DrawPribOnScreenFullCopy(benchmark::State& state)
{
    Screen& s = Get();
    int tick = 0;
    for (auto _ : state) {
        s.NextValues(++tick);
        s.layout.Marks.Valid = false;
        DrawPrib(s.settings.Data, s.state, s.layout, s.background, s.frame);
        s.view->repaint();
    }
}
BENCHMARK(BM_DrawPribOnScreenFullCopy)->Unit(benchmark::kMicrosecond);

// Composing alone, without the screen.
void BM_DrawPribOnly(benchmark::State& state)
{
    Screen& s = Get();
    int tick = 0;
    for (auto _ : state) {
        s.NextValues(++tick);
        DrawPrib(s.settings.Data, s.state, s.layout, s.background, s.frame);
    }
}
BENCHMARK(BM_DrawPribOnly)->Unit(benchmark::kMicrosecond);

// The part of it that puts the frame on the screen.
void BM_PaintOnly(benchmark::State& state)
{
    Screen& s = Get();
    for (auto _ : state)
        s.view->repaint();
}
BENCHMARK(BM_PaintOnly)->Unit(benchmark::kMicrosecond);

// The console's report, and then each benchmark's time over the copy's:
// medians when repeated, the single run's otherwise.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            const bool median = r.run_type == Run::RT_Aggregate && r.aggregate_name == "median";
            if (r.run_type == Run::RT_Iteration || median) {
                Seen& s = times_[r.run_name.str()];
                if (median || !s.median)
                    s = {r.GetAdjustedRealTime(), r.GetAdjustedCPUTime(), median};
            }
        }
    }
    void Finalize() override
    {
        ConsoleReporter::Finalize();
        const auto base = times_.find("BM_BackgroundCopyBaseline");
        if (base == times_.end() || base->second.real <= 0 || base->second.cpu <= 0)
            return;
        // CPU time too: on a shared machine it is the steadier of the two.
        for (const auto& [name, s] : times_)
            if (name != base->first)
                std::printf("%-32s %.2fx the background copy (real time), %.2fx (CPU time)\n", name.c_str(),
                            s.real / base->second.real, s.cpu / base->second.cpu);
    }

private:
    struct Seen {
        double real = 0;
        double cpu = 0;
        bool median = false;
    };
    std::map<std::string, Seen> times_;
};

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    return 0;
}
